// The client side of the certificate protocol (RFC 8555): an account for the key, an order
// for a set of names, the HTTP-01 or TLS-ALPN-01 challenge of each name answered through a
// responder, the order finalized with a signing
// request, and the certificate chain fetched. Every request is signed (ES256) with a fresh nonce; a
// stale nonce is retried at once, a rate limit or a busy server after the wait it asks for.
// Blocking: run it on a thread of its own.
#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "acme/signing.h"

namespace acme {

struct ClientOptions {
    std::string directoryUrl;
    // A CA certificate file the directory's HTTPS is checked against instead of the
    // system's (a private authority); empty: the system's.
    std::string caFile;
    std::string email;  // the account's contact; may be empty
    // Answer tls-alpn-01 challenges (a handshake on the HTTPS port) instead of http-01.
    bool tlsAlpn = false;
};

// Whoever answers the authority's look at a name: it makes an answer reachable before the
// client asks the authority to look.
class ChallengeResponder {
  public:
    virtual ~ChallengeResponder() = default;
    // http-01: GET /.well-known/acme-challenge/TOKEN answers `keyAuthorization`.
    virtual bool AnswerHttp(const std::string& token, const std::string& keyAuthorization) = 0;
    // tls-alpn-01: a handshake for `name` offering "acme-tls/1" shows a certificate holding
    // `digest` (the SHA-256 of the key authorization).
    virtual bool AnswerTlsAlpn(const std::string& name, std::string_view digest) = 0;
};

struct Issued {
    std::string chain;  // PEM, the certificate first
};

// What went wrong: the step that failed and why, with the authority's problem document
// when it sent one ("new order: urn:ietf:params:acme:error:rejectedIdentifier: ...").
struct Failure {
    std::string step;
    std::string reason;
    std::string Text() const { return step + ": " + reason; }
};

class Client {
  public:
    Client(ClientOptions options, const EcKey& accountKey, ChallengeResponder& responder,
           const std::atomic<bool>& stop);
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // A certificate for `names` whose key is `certificateKey`; on failure `*failure` says
    // which step failed and why.
    std::optional<Issued> Obtain(const std::vector<std::string>& names, const EcKey& certificateKey,
                                 Failure* failure);

  private:
    struct Answer;
    std::optional<Issued> ObtainSteps(const std::vector<std::string>& names,
                                      const EcKey& certificateKey, Failure* failure);
    bool Fetch(const std::string& method, const std::string& url, const std::string& body,
               const std::string& accept, Answer* answer, std::string* error);
    bool SignedPost(const std::string& step, const std::string& url, const std::string& payload,
                    Answer* answer, Failure* failure);
    bool LoadDirectory(Failure* failure);
    bool Register(Failure* failure);
    bool Authorize(const std::string& authorizationUrl, Failure* failure);
    // Waits as the authority asks, or `defaultMs`, a little at a time so a stop is seen.
    bool Pause(long defaultMs, const Answer& answer);

    ClientOptions options_;
    const EcKey& accountKey_;
    ChallengeResponder& responder_;
    const std::atomic<bool>& stop_;
    void* curl_ = nullptr;
    std::string newNonceUrl_;
    std::string newAccountUrl_;
    std::string newOrderUrl_;
    std::string accountUrl_;
    std::string nonce_;
};

}  // namespace acme
