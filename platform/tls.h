// TLS on top of OpenSSL: a server context made from a certificate chain and a key, and the
// encrypted session of one non-blocking socket, with the same idle limits as plain sockets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/socket.h"

struct ssl_st;
struct ssl_ctx_st;

namespace platform {

// What a server needs to speak TLS: its certificate chain and private key, TLS 1.2 and 1.3
// only, with the library's default ciphers. Shared by every session of a server. Clients are
// offered HTTP/2 ("h2") and HTTP/1.1 by ALPN; one that names neither speaks HTTP/1.x.
class TlsContext {
  public:
    // Loads the chain file (PEM, the server's certificate first) and the key file (PEM).
    // On failure returns null and `*error` names the file and the reason ("can't read tls
    // key file /x/key.pem: No such file or directory").
    static std::shared_ptr<const TlsContext> Load(const std::string& chainFile,
                                                  const std::string& keyFile, std::string* error);
    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    ssl_ctx_st* native() const { return context_; }

  private:
    explicit TlsContext(ssl_ctx_st* context) : context_(context) {}
    ssl_ctx_st* context_;
};

// The server side of one TLS connection over a non-blocking socket it does not own. Every
// wait is bounded as for plain sockets: an idle limit without progress.
class TlsSession {
  public:
    // Null when the library could not make a session (out of memory).
    static std::unique_ptr<TlsSession> Create(const TlsContext& context, int socketFd);
    ~TlsSession();
    TlsSession(const TlsSession&) = delete;
    TlsSession& operator=(const TlsSession&) = delete;

    // Where a handshake taken one step at a time stands.
    enum class Progress { kDone, kWantRead, kWantWrite, kFailed };
    // Goes on with the handshake as far as the socket allows, without waiting.
    Progress HandshakeStep();
    // Completes the handshake, waiting at most `timeoutMs` in all. False when the client
    // went away, stayed silent, or offered nothing acceptable.
    bool Handshake(int timeoutMs);
    bool Established() const { return established_; }
    // As ReceiveSome: the decrypted bytes there are, waiting at most `timeoutMs` (0: none)
    // for the first. The client's close_notify, or the end of its input, is kClosed.
    ReceiveResult Receive(void* buffer, size_t size, int timeoutMs);
    // As SendAll. `*sent` (when not null) grows by the bytes of `data` that went out.
    bool SendAll(const void* data, size_t size, int idleLimitMs, uint64_t* sent);
    // As SendTwo: both pieces, in one record when they are small. `*secondSent` grows by the
    // bytes of the second that went out.
    bool SendTwo(std::string_view first, std::string_view second, int idleLimitMs,
                 uint64_t* secondSent);
    // As SendFileContents: reads the file in pieces and sends them encrypted.
    bool SendFile(int fileFd, uint64_t offset, uint64_t count, int idleLimitMs, uint64_t* sent);
    // Decrypted bytes already held by the session: the socket may be quiet while they wait.
    bool HasBuffered() const;
    // The client chose HTTP/2 ("h2") in the handshake.
    bool NegotiatedHttp2() const;
    // Sends close_notify, without waiting for the client's own.
    void Close();

  private:
    explicit TlsSession(ssl_st* ssl, int socketFd) : ssl_(ssl), socket_(socketFd) {}
    // Waits as the last call's error asks (readable or writable); false on any other error
    // or when `timeoutMs` passes.
    bool WaitAfter(int result, int timeoutMs);

    ssl_st* ssl_;
    int socket_;
    bool established_ = false;
    std::vector<char> fileBuffer_;
};

// The certificates that answer TLS-ALPN-01 challenges: a client whose hello offers the
// protocol "acme-tls/1" for a name posted here is shown that name's certificate and given that
// protocol (a certificate authority checking that this server holds the name); for a name not
// posted its handshake fails. Every context Load makes consults the board of the process.
class TlsAlpnChallenges {
  public:
    static TlsAlpnChallenges& Shared();
    // Makes a self-signed certificate for the DNS name `name` that carries `digest` (the
    // SHA-256 of the key authorization, 32 bytes) in the critical acmeIdentifier extension,
    // and posts it. False when it could not be made.
    bool Post(const std::string& name, std::string_view digest);
    void Remove(const std::string& name);

    struct Answer;
    std::shared_ptr<const Answer> Find(std::string_view name) const;

  private:
    mutable std::mutex mutex_;
    std::vector<std::pair<std::string, std::shared_ptr<const Answer>>> answers_;
};

// Makes a self-signed certificate (EC P-256, SHA-256, valid `days` days) for `names`: each
// is put in subjectAltName as an IP address when it reads as one, else as a DNS name; the
// first is also the subject's common name. Writes the certificate to `certificateFile` and
// the key to `keyFile` (mode 0600). False with `*error` naming the failed step.
bool MakeSelfSignedCertificate(const std::vector<std::string>& names, int days,
                               const std::string& certificateFile, const std::string& keyFile,
                               std::string* error);

}  // namespace platform
