// TLS contexts, sessions and self-signed certificates through the OpenSSL API.
#include "platform/tls.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <optional>

#include "platform/clock.h"
#include "platform/error_text.h"
#include "platform/file_io.h"
#include "platform/text.h"

namespace platform {
namespace {

// A file is read and encrypted in pieces of this size (several records each).
constexpr size_t kFileChunk = 256 * 1024;
// Head and body up to this size together go out as one record.
constexpr size_t kOneRecord = 16 * 1024;

struct FreeX509 {
    void operator()(X509* x) const { X509_free(x); }
};
struct FreeKey {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct FreeNames {
    void operator()(GENERAL_NAMES* n) const { GENERAL_NAMES_free(n); }
};

// The library's reason for its failure, or "unknown error": the PEM reader's when it has one
// ("no start line" says more than "PEM lib" or the decoders' "unsupported"), else the first
// queued. Its texts are loaded only now: a server that never fails keeps them out of memory.
std::string LibraryReason() {
    OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);
    unsigned long code = ERR_peek_error();
    for (unsigned long next = ERR_get_error(); next != 0; next = ERR_get_error()) {
        if (ERR_GET_LIB(next) == ERR_LIB_PEM && ERR_GET_REASON(next) != ERR_R_SYS_LIB) {
            code = next;
            break;
        }
    }
    ERR_clear_error();
    const char* reason = code != 0 ? ERR_reason_error_string(code) : nullptr;
    return reason != nullptr ? reason : "unknown error";
}

// Empty when the file can be opened for reading, else the system's reason.
std::string UnreadableReason(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return ErrorText(errno);
    struct stat info {};
    bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    ::close(fd);
    return regular ? std::string() : "not a regular file";
}

// The PEM text an OpenSSL writer produces into a memory BIO.
template <typename Writer>
std::string ToPem(Writer write) {
    BIO* bio = BIO_new(BIO_s_mem());
    if (bio == nullptr) return {};
    std::string text;
    if (write(bio) == 1) {
        char* data = nullptr;
        long length = BIO_get_mem_data(bio, &data);
        if (length > 0) text.assign(data, static_cast<size_t>(length));
    }
    BIO_free(bio);
    return text;
}

// A subjectAltName entry: an IP address when the name reads as one, else a DNS name.
GENERAL_NAME* AltName(const std::string& name) {
    unsigned char address[16];
    int length = 0;
    if (::inet_pton(AF_INET, name.c_str(), address) == 1) {
        length = 4;
    } else if (::inet_pton(AF_INET6, name.c_str(), address) == 1) {
        length = 16;
    }
    GENERAL_NAME* entry = GENERAL_NAME_new();
    if (entry == nullptr) return nullptr;
    ASN1_STRING* value = length > 0 ? ASN1_OCTET_STRING_new() : ASN1_IA5STRING_new();
    bool filled = value != nullptr &&
                  (length > 0 ? ASN1_OCTET_STRING_set(value, address, length)
                              : ASN1_STRING_set(value, name.data(), static_cast<int>(name.size())));
    if (!filled) {
        ASN1_STRING_free(value);
        GENERAL_NAME_free(entry);
        return nullptr;
    }
    GENERAL_NAME_set0_value(entry, length > 0 ? GEN_IPADD : GEN_DNS, value);
    return entry;
}

bool AddExtension(X509* certificate, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    if (extension == nullptr) return false;
    bool added = X509_add_ext(certificate, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    return added;
}

}  // namespace

// The certificate and key as DER: each handshake makes objects of its own from them, so that
// no library object is shared between the loop and the thread that posts and removes answers.
struct TlsAlpnChallenges::Answer {
    std::string certificate;
    std::string key;
};

namespace {

// The protocols offered, in the server's order of preference, in ALPN's wire form.
constexpr unsigned char kOffered[] = {2, 'h', '2', 8, 'h', 't', 't', 'p', '/', '1', '.', '1'};
// The protocol of TLS-ALPN-01 challenges, in the same form.
constexpr unsigned char kAcmeTls[] = {10, 'a', 'c', 'm', 'e', '-', 't', 'l', 's', '/', '1'};

// Whether an ALPN protocol list in wire form names "acme-tls/1".
bool OffersAcmeTls(const unsigned char* list, size_t length) {
    const std::string_view wanted(reinterpret_cast<const char*>(kAcmeTls) + 1, sizeof kAcmeTls - 1);
    for (size_t at = 0; at < length;) {
        const size_t size = list[at];
        if (at + 1 + size > length) return false;
        if (std::string_view(reinterpret_cast<const char*>(list) + at + 1, size) == wanted) {
            return true;
        }
        at += 1 + size;
    }
    return false;
}

// The host name of a server_name extension's body, or empty.
std::string_view ServerName(const unsigned char* body, size_t length) {
    // A list length (2 bytes), then entries: a type (0: host name), a length (2), the name.
    if (length < 5 || body[2] != 0) return {};
    const size_t size = static_cast<size_t>(body[3]) << 8 | body[4];
    if (5 + size > length) return {};
    return std::string_view(reinterpret_cast<const char*>(body) + 5, size);
}

// A hello that offers "acme-tls/1" is a challenge: it gets the certificate posted for its
// name, or fails. Any other goes on as usual.
int OnClientHello(SSL* ssl, int* alert, void*) {
    const unsigned char* alpn = nullptr;
    size_t alpnLength = 0;
    if (SSL_client_hello_get0_ext(ssl, TLSEXT_TYPE_application_layer_protocol_negotiation, &alpn,
                                  &alpnLength) != 1 ||
        alpnLength < 2 || !OffersAcmeTls(alpn + 2, alpnLength - 2)) {
        return SSL_CLIENT_HELLO_SUCCESS;
    }
    const unsigned char* sni = nullptr;
    size_t sniLength = 0;
    std::shared_ptr<const TlsAlpnChallenges::Answer> answer;
    if (SSL_client_hello_get0_ext(ssl, TLSEXT_TYPE_server_name, &sni, &sniLength) == 1) {
        answer = TlsAlpnChallenges::Shared().Find(ServerName(sni, sniLength));
    }
    std::unique_ptr<X509, FreeX509> certificate;
    std::unique_ptr<EVP_PKEY, FreeKey> key;
    if (answer) {
        const auto* der = reinterpret_cast<const unsigned char*>(answer->certificate.data());
        certificate.reset(d2i_X509(nullptr, &der, static_cast<long>(answer->certificate.size())));
        der = reinterpret_cast<const unsigned char*>(answer->key.data());
        key.reset(d2i_AutoPrivateKey(nullptr, &der, static_cast<long>(answer->key.size())));
    }
    if (!certificate || !key || SSL_use_certificate(ssl, certificate.get()) != 1 ||
        SSL_use_PrivateKey(ssl, key.get()) != 1) {
        *alert = SSL_AD_UNRECOGNIZED_NAME;
        return SSL_CLIENT_HELLO_ERROR;
    }
    return SSL_CLIENT_HELLO_SUCCESS;
}

int SelectProtocol(SSL*, const unsigned char** out, unsigned char* outLength,
                   const unsigned char* in, unsigned int inLength, void*) {
    // Only a challenge's hello, which got its certificate above, offers this one.
    if (OffersAcmeTls(in, inLength)) {
        *out = kAcmeTls + 1;
        *outLength = sizeof kAcmeTls - 1;
        return SSL_TLSEXT_ERR_OK;
    }
    unsigned char* chosen = nullptr;
    if (SSL_select_next_proto(&chosen, outLength, kOffered, sizeof kOffered, in, inLength) !=
        OPENSSL_NPN_NEGOTIATED) {
        return SSL_TLSEXT_ERR_NOACK;
    }
    *out = chosen;
    return SSL_TLSEXT_ERR_OK;
}

}  // namespace

std::shared_ptr<const TlsContext> TlsContext::Load(const std::string& chainFile,
                                                   const std::string& keyFile, std::string* error) {
    if (chainFile.empty()) {
        *error = "no tls certificate file is set";
        return nullptr;
    }
    if (keyFile.empty()) {
        *error = "no tls key file is set";
        return nullptr;
    }
    if (std::string reason = UnreadableReason(chainFile); !reason.empty()) {
        *error = "can't read tls certificate file " + chainFile + ": " + reason;
        return nullptr;
    }
    if (std::string reason = UnreadableReason(keyFile); !reason.empty()) {
        *error = "can't read tls key file " + keyFile + ": " + reason;
        return nullptr;
    }
    // The error texts are loaded when one is needed (see LibraryReason).
    OPENSSL_init_ssl(OPENSSL_INIT_NO_LOAD_SSL_STRINGS | OPENSSL_INIT_NO_LOAD_CRYPTO_STRINGS,
                     nullptr);
    ERR_clear_error();
    SSL_CTX* raw = SSL_CTX_new(TLS_server_method());
    if (raw == nullptr) {
        *error = "can't make a tls context: " + LibraryReason();
        return nullptr;
    }
    std::shared_ptr<const TlsContext> context(new TlsContext(raw));
    SSL_CTX_set_min_proto_version(raw, TLS1_2_VERSION);
    // A client that closes without close_notify has still ended its request cleanly as far as
    // HTTP/1.0 is concerned: its end of input reads as a close.
    SSL_CTX_set_options(raw, SSL_OP_IGNORE_UNEXPECTED_EOF | SSL_OP_NO_RENEGOTIATION);
    SSL_CTX_set_mode(raw, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    // Clients resume with the session tickets the library issues, which the server need not
    // keep: a cache of every session would cost each handshake a lock, memory and flushes.
    SSL_CTX_set_session_cache_mode(raw, SSL_SESS_CACHE_OFF);
    SSL_CTX_set_alpn_select_cb(raw, SelectProtocol, nullptr);
    SSL_CTX_set_client_hello_cb(raw, OnClientHello, nullptr);
    if (SSL_CTX_use_certificate_chain_file(raw, chainFile.c_str()) != 1) {
        *error = "tls certificate file " + chainFile + " holds no usable certificate (" +
                 LibraryReason() + ")";
        return nullptr;
    }
    if (SSL_CTX_use_PrivateKey_file(raw, keyFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(raw) != 1) {
        if (ERR_GET_REASON(ERR_peek_error()) == X509_R_KEY_VALUES_MISMATCH) {
            ERR_clear_error();
            *error = "tls key file " + keyFile + " does not match the certificate in " + chainFile;
        } else {
            // The decoders only say "unsupported" of a file that holds no key they know.
            const bool undecoded = ERR_GET_LIB(ERR_peek_error()) == ERR_LIB_OSSL_DECODER;
            std::string reason = LibraryReason();
            if (undecoded) reason = "no private key in PEM form";
            *error = "tls key file " + keyFile + " holds no usable key (" + reason + ")";
        }
        return nullptr;
    }
    return context;
}

TlsContext::~TlsContext() { SSL_CTX_free(context_); }

bool TlsSession::NegotiatedHttp2() const {
    const unsigned char* protocol = nullptr;
    unsigned int length = 0;
    SSL_get0_alpn_selected(ssl_, &protocol, &length);
    return length == 2 && protocol[0] == 'h' && protocol[1] == '2';
}

std::unique_ptr<TlsSession> TlsSession::Create(const TlsContext& context, int socketFd) {
    SSL* ssl = SSL_new(context.native());
    if (ssl == nullptr) return nullptr;
    std::unique_ptr<TlsSession> session(new TlsSession(ssl, socketFd));
    if (SSL_set_fd(ssl, socketFd) != 1) return nullptr;
    SSL_set_accept_state(ssl);
    return session;
}

TlsSession::~TlsSession() { SSL_free(ssl_); }

bool TlsSession::WaitAfter(int result, int timeoutMs) {
    switch (SSL_get_error(ssl_, result)) {
        case SSL_ERROR_WANT_READ:
            return timeoutMs != 0 && WaitFor(socket_, POLLIN, timeoutMs);
        case SSL_ERROR_WANT_WRITE:
            return timeoutMs != 0 && WaitFor(socket_, POLLOUT, timeoutMs);
        default:
            // The session is broken: no close_notify may follow.
            established_ = false;
            ERR_clear_error();
            return false;
    }
}

TlsSession::Progress TlsSession::HandshakeStep() {
    if (established_) return Progress::kDone;
    ERR_clear_error();
    int result = SSL_accept(ssl_);
    if (result == 1) {
        established_ = true;
        return Progress::kDone;
    }
    switch (SSL_get_error(ssl_, result)) {
        case SSL_ERROR_WANT_READ:
            return Progress::kWantRead;
        case SSL_ERROR_WANT_WRITE:
            return Progress::kWantWrite;
        default:
            ERR_clear_error();
            return Progress::kFailed;
    }
}

bool TlsSession::Handshake(int timeoutMs) {
    const uint64_t deadline = MonotonicMillis() + static_cast<uint64_t>(std::max(timeoutMs, 0));
    for (;;) {
        if (established_) return true;
        ERR_clear_error();
        int result = SSL_accept(ssl_);
        if (result == 1) {
            established_ = true;
            return true;
        }
        const uint64_t now = MonotonicMillis();
        if (now >= deadline || !WaitAfter(result, static_cast<int>(deadline - now))) {
            ERR_clear_error();
            return false;
        }
    }
}

ReceiveResult TlsSession::Receive(void* buffer, size_t size, int timeoutMs) {
    const uint64_t deadline =
        timeoutMs > 0 ? MonotonicMillis() + static_cast<uint64_t>(timeoutMs) : 0;
    const int want = static_cast<int>(std::min<size_t>(size, INT_MAX));
    for (;;) {
        ERR_clear_error();
        int n = SSL_read(ssl_, buffer, want);
        if (n > 0) return {ReceiveStatus::kData, static_cast<size_t>(n)};
        int code = SSL_get_error(ssl_, n);
        if (code == SSL_ERROR_ZERO_RETURN) return {ReceiveStatus::kClosed, 0};
        if (code != SSL_ERROR_WANT_READ && code != SSL_ERROR_WANT_WRITE) {
            established_ = false;
            ERR_clear_error();
            return {ReceiveStatus::kError, 0};
        }
        int left = -1;
        if (timeoutMs == 0) return {ReceiveStatus::kTimedOut, 0};
        if (timeoutMs > 0) {
            const uint64_t now = MonotonicMillis();
            if (now >= deadline) return {ReceiveStatus::kTimedOut, 0};
            left = static_cast<int>(deadline - now);
        }
        if (!WaitFor(socket_, code == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, left)) {
            return {ReceiveStatus::kTimedOut, 0};
        }
    }
}

bool TlsSession::SendAll(const void* data, size_t size, int idleLimitMs, uint64_t* sent) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ERR_clear_error();
        int n = SSL_write(ssl_, p, static_cast<int>(std::min<size_t>(size, 1u << 30)));
        if (n > 0) {
            p += n;
            size -= static_cast<size_t>(n);
            if (sent != nullptr) *sent += static_cast<uint64_t>(n);
            continue;
        }
        if (!WaitAfter(n, idleLimitMs)) return false;
    }
    return true;
}

bool TlsSession::SendTwo(std::string_view first, std::string_view second, int idleLimitMs,
                         uint64_t* secondSent) {
    if (first.size() + second.size() <= kOneRecord) {
        std::string both;
        both.reserve(first.size() + second.size());
        both.append(first).append(second);
        uint64_t sent = 0;
        bool whole = SendAll(both.data(), both.size(), idleLimitMs, &sent);
        if (secondSent != nullptr && sent > first.size()) *secondSent += sent - first.size();
        return whole;
    }
    return SendAll(first.data(), first.size(), idleLimitMs, nullptr) &&
           SendAll(second.data(), second.size(), idleLimitMs, secondSent);
}

bool TlsSession::SendFile(int fileFd, uint64_t offset, uint64_t count, int idleLimitMs,
                          uint64_t* sent) {
    if (fileBuffer_.empty()) fileBuffer_.resize(kFileChunk);
    while (count > 0) {
        size_t chunk = static_cast<size_t>(std::min<uint64_t>(count, fileBuffer_.size()));
        ssize_t n = ::pread(fileFd, fileBuffer_.data(), chunk, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        // The file ended early or could not be read: the body ends short.
        if (n <= 0) return false;
        if (!SendAll(fileBuffer_.data(), static_cast<size_t>(n), idleLimitMs, sent)) return false;
        offset += static_cast<uint64_t>(n);
        count -= static_cast<uint64_t>(n);
    }
    return true;
}

bool TlsSession::HasBuffered() const { return SSL_pending(ssl_) > 0; }

void TlsSession::Close() {
    if (!established_) return;
    established_ = false;
    ERR_clear_error();
    SSL_shutdown(ssl_);
    ERR_clear_error();
}

namespace {

struct MadeCertificate {
    std::unique_ptr<X509, FreeX509> certificate;
    std::unique_ptr<EVP_PKEY, FreeKey> key;
};

// A self-signed certificate and its new key (EC P-256, SHA-256, valid `days` days) for
// `names`; with `acmeDigest`, the critical acmeIdentifier extension holding it is added.
std::optional<MadeCertificate> MakeCertificate(const std::vector<std::string>& names, int days,
                                               std::string_view acmeDigest, std::string* error) {
    if (names.empty()) {
        *error = "no name to certify";
        return std::nullopt;
    }
    ERR_clear_error();
    std::unique_ptr<EVP_PKEY, FreeKey> key(EVP_EC_gen("P-256"));
    if (!key) {
        *error = "generate key: " + LibraryReason();
        return std::nullopt;
    }
    std::unique_ptr<X509, FreeX509> certificate(X509_new());
    std::unique_ptr<GENERAL_NAMES, FreeNames> altNames(sk_GENERAL_NAME_new_null());
    if (!certificate || !altNames) {
        *error = "make certificate: " + LibraryReason();
        return std::nullopt;
    }
    X509* cert = certificate.get();
    unsigned char serial[16];
    bool made = RAND_bytes(serial, sizeof serial) == 1;
    serial[0] &= 0x7f;  // a positive serial number
    BIGNUM* serialNumber = made ? BN_bin2bn(serial, sizeof serial, nullptr) : nullptr;
    made = serialNumber != nullptr && BN_to_ASN1_INTEGER(serialNumber, X509_get_serialNumber(cert));
    BN_free(serialNumber);
    made = made && X509_set_version(cert, X509_VERSION_3) == 1 &&
           X509_gmtime_adj(X509_getm_notBefore(cert), -3600) != nullptr &&
           X509_gmtime_adj(X509_getm_notAfter(cert), static_cast<long>(days) * 86400) != nullptr &&
           X509_set_pubkey(cert, key.get()) == 1;
    X509_NAME* subject = X509_get_subject_name(cert);
    const std::string& commonName = names.front();
    made = made &&
           X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8,
                                      reinterpret_cast<const unsigned char*>(commonName.data()),
                                      static_cast<int>(std::min<size_t>(commonName.size(), 64)), -1,
                                      0) == 1 &&
           X509_set_issuer_name(cert, subject) == 1;
    for (const std::string& name : names) {
        GENERAL_NAME* entry = made ? AltName(name) : nullptr;
        if (entry == nullptr || sk_GENERAL_NAME_push(altNames.get(), entry) == 0) {
            GENERAL_NAME_free(entry);
            made = false;
        }
    }
    made = made && X509_add1_ext_i2d(cert, NID_subject_alt_name, altNames.get(), 0, 0) == 1 &&
           AddExtension(cert, NID_basic_constraints, "critical,CA:FALSE") &&
           AddExtension(cert, NID_key_usage, "critical,digitalSignature") &&
           AddExtension(cert, NID_ext_key_usage, "serverAuth") &&
           AddExtension(cert, NID_subject_key_identifier, "hash");
    if (made && !acmeDigest.empty()) {
        // id-pe-acmeIdentifier: its value is the DER of an OCTET STRING holding the digest.
        std::string der{0x04, static_cast<char>(acmeDigest.size())};
        der.append(acmeDigest);
        ASN1_OBJECT* oid = OBJ_txt2obj("1.3.6.1.5.5.7.1.31", 1);
        ASN1_OCTET_STRING* value = ASN1_OCTET_STRING_new();
        X509_EXTENSION* extension = nullptr;
        made = oid != nullptr && value != nullptr && acmeDigest.size() < 128 &&
               ASN1_OCTET_STRING_set(value, reinterpret_cast<const unsigned char*>(der.data()),
                                     static_cast<int>(der.size())) == 1 &&
               (extension = X509_EXTENSION_create_by_OBJ(nullptr, oid, 1, value)) != nullptr &&
               X509_add_ext(cert, extension, -1) == 1;
        X509_EXTENSION_free(extension);
        ASN1_OCTET_STRING_free(value);
        ASN1_OBJECT_free(oid);
    }
    made = made && X509_sign(cert, key.get(), EVP_sha256()) > 0;
    if (!made) {
        *error = "make certificate: " + LibraryReason();
        return std::nullopt;
    }
    return MadeCertificate{std::move(certificate), std::move(key)};
}

}  // namespace

TlsAlpnChallenges& TlsAlpnChallenges::Shared() {
    static auto* board = new TlsAlpnChallenges;
    return *board;
}

bool TlsAlpnChallenges::Post(const std::string& name, std::string_view digest) {
    std::string error;
    std::optional<MadeCertificate> made = MakeCertificate({name}, 7, digest, &error);
    if (!made) return false;
    unsigned char* certificate = nullptr;
    unsigned char* key = nullptr;
    const int certificateSize = i2d_X509(made->certificate.get(), &certificate);
    const int keySize = i2d_PrivateKey(made->key.get(), &key);
    std::shared_ptr<const Answer> answer;
    if (certificateSize > 0 && keySize > 0) {
        answer = std::make_shared<const Answer>(
            Answer{std::string(reinterpret_cast<const char*>(certificate),
                               static_cast<size_t>(certificateSize)),
                   std::string(reinterpret_cast<const char*>(key), static_cast<size_t>(keySize))});
    }
    OPENSSL_free(certificate);
    OPENSSL_clear_free(key, keySize > 0 ? static_cast<size_t>(keySize) : 0);
    if (!answer) return false;
    std::lock_guard lock(mutex_);
    for (auto& [posted, held] : answers_) {
        if (EqualsNoCase(posted, name)) {
            held = std::move(answer);
            return true;
        }
    }
    answers_.emplace_back(name, std::move(answer));
    return true;
}

void TlsAlpnChallenges::Remove(const std::string& name) {
    std::lock_guard lock(mutex_);
    std::erase_if(answers_, [&](const auto& entry) { return EqualsNoCase(entry.first, name); });
}

std::shared_ptr<const TlsAlpnChallenges::Answer> TlsAlpnChallenges::Find(
    std::string_view name) const {
    std::lock_guard lock(mutex_);
    for (const auto& [posted, answer] : answers_) {
        if (EqualsNoCase(posted, name)) return answer;
    }
    return nullptr;
}

bool MakeSelfSignedCertificate(const std::vector<std::string>& names, int days,
                               const std::string& certificateFile, const std::string& keyFile,
                               std::string* error) {
    std::optional<MadeCertificate> made = MakeCertificate(names, days, {}, error);
    if (!made) return false;
    X509* cert = made->certificate.get();
    std::string certificateText = ToPem([&](BIO* bio) { return PEM_write_bio_X509(bio, cert); });
    std::string keyText = ToPem([&](BIO* bio) {
        return PEM_write_bio_PrivateKey(bio, made->key.get(), nullptr, nullptr, 0, nullptr,
                                        nullptr);
    });
    if (certificateText.empty() || keyText.empty()) {
        *error = "encode certificate: " + LibraryReason();
        return false;
    }
    return WriteFileAtomicallyWithMode(keyFile, keyText, 0600, error) &&
           WriteFileAtomicallyWithMode(certificateFile, certificateText, 0644, error);
}

}  // namespace platform
