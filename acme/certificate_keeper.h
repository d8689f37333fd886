// Keeps a server's obtained certificate: at start, and then twice a day, it looks at the
// certificate in the server's certificate folder and obtains a new one when there is none or
// less than a third of its lifetime is left. A new certificate and its key are written
// atomically (mode 0600) and announced, so the server takes them into use for new
// handshakes; a failed attempt keeps the old ones and is tried again after a back-off that
// doubles up to half a day. Runs on a thread of its own.
#pragma once

#include <atomic>
#include <condition_variable>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "config/server_config.h"

namespace acme {

class CertificateKeeper {
  public:
    struct Events {
        // A line for the owner's status line; called on the keeper's thread.
        std::function<void(const std::string&)> tell;
        // New certificate files are in place; called on the keeper's thread.
        std::function<void()> renewed;
    };

    CertificateKeeper(int serverNumber, std::string programDirectory, Events events);
    ~CertificateKeeper();
    CertificateKeeper(const CertificateKeeper&) = delete;
    CertificateKeeper& operator=(const CertificateKeeper&) = delete;

    // Starts keeping the certificate of `settings` (when the server obtains one), after
    // stopping what ran before.
    void Start(const config::ServerSettings& settings);
    // Ends the thread; an attempt under way is given up.
    void Stop();
    // When the certificate in use expires; 0 when there is none.
    std::time_t Expiry() const { return expiry_.load(); }

  private:
    void Run(config::ServerSettings settings);
    // Waits `seconds` or until stopped; false when stopped.
    bool Wait(std::time_t seconds);
    // Obtains and stores a certificate; on failure `*failure` says why.
    bool Renew(const config::ServerSettings& settings, std::string* failure);

    const int serverNumber_;
    const std::string programDirectory_;
    const Events events_;
    std::atomic<std::time_t> expiry_{0};
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::condition_variable wake_;
    std::thread thread_;
};

// Renewal is due when less than a third of the lifetime is left.
std::time_t RenewalTime(std::time_t notBefore, std::time_t notAfter);

}  // namespace acme
