// TLS contexts: what the owner is told about certificate and key files that cannot be used,
// and the certificates that answer a certificate authority's TLS-ALPN-01 handshake.
#include "platform/tls.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <thread>

#include "tests/support/temp_dir.h"

namespace platform {
namespace {

using testing_support::TempDir;
using testing_support::WriteFile;

TEST(TlsContextTest, UnusableFilesAreNamedWithTheReason) {
    TempDir dir;
    std::string error;
    ASSERT_TRUE(
        MakeSelfSignedCertificate({"a.test"}, 1, dir.File("a.crt"), dir.File("a.key"), &error))
        << error;
    ASSERT_TRUE(
        MakeSelfSignedCertificate({"b.test"}, 1, dir.File("b.crt"), dir.File("b.key"), &error))
        << error;
    WriteFile(dir.File("junk.pem"), "not a PEM file\n");
    const std::string a = dir.File("a.crt");
    const std::string key = dir.File("a.key");
    struct Case {
        std::string certificate;
        std::string key;
        std::string error;  // empty: the context is made
    };
    const Case cases[] = {
        {a, key, ""},
        {"", key, "no tls certificate file is set"},
        {a, "", "no tls key file is set"},
        {dir.File("gone.crt"), key,
         "can't read tls certificate file " + dir.File("gone.crt") + ": No such file or directory"},
        {a, dir.File("gone.key"),
         "can't read tls key file " + dir.File("gone.key") + ": No such file or directory"},
        {dir.path(), key, "can't read tls certificate file " + dir.path() + ": not a regular file"},
        {dir.File("junk.pem"), key,
         "tls certificate file " + dir.File("junk.pem") +
             " holds no usable certificate (no start line)"},
        {a, dir.File("junk.pem"),
         "tls key file " + dir.File("junk.pem") +
             " holds no usable key (no private key in PEM form)"},
        {a, dir.File("b.key"),
         "tls key file " + dir.File("b.key") + " does not match the certificate in " + a},
    };
    for (const Case& c : cases) {
        error.clear();
        std::shared_ptr<const TlsContext> context = TlsContext::Load(c.certificate, c.key, &error);
        EXPECT_EQ(context != nullptr, c.error.empty()) << c.certificate << " " << c.key;
        EXPECT_EQ(error, c.error);
    }
}

// What a client that offers `protocols` for `name` is shown: the protocol chosen and the
// acmeIdentifier extension's value (empty without one), or "failed" as the protocol.
struct Shown {
    std::string protocol;
    std::string acmeIdentifier;
    std::string commonName;
};

Shown Connect(const TlsContext& context, const std::string& name, std::string_view protocols) {
    // The client writes to a peer that may have given up: a failure, not a signal.
    ::signal(SIGPIPE, SIG_IGN);
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        return {"socketpair", "", ""};
    ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
    std::unique_ptr<TlsSession> session = TlsSession::Create(context, fds[0]);
    std::thread server([&] { session->Handshake(5000); });
    SSL_CTX* clientContext = SSL_CTX_new(TLS_client_method());
    SSL* ssl = SSL_new(clientContext);
    SSL_set_fd(ssl, fds[1]);
    SSL_set_tlsext_host_name(ssl, name.c_str());
    SSL_set_alpn_protos(ssl, reinterpret_cast<const unsigned char*>(protocols.data()),
                        static_cast<unsigned>(protocols.size()));
    Shown shown{"failed", "", ""};
    if (SSL_connect(ssl) == 1) {
        const unsigned char* chosen = nullptr;
        unsigned length = 0;
        SSL_get0_alpn_selected(ssl, &chosen, &length);
        shown.protocol.assign(reinterpret_cast<const char*>(chosen), length);
        X509* certificate = SSL_get1_peer_certificate(ssl);
        ASN1_OBJECT* oid = OBJ_txt2obj("1.3.6.1.5.5.7.1.31", 1);
        int at = X509_get_ext_by_OBJ(certificate, oid, -1);
        if (X509_EXTENSION* extension = at >= 0 ? X509_get_ext(certificate, at) : nullptr) {
            const ASN1_OCTET_STRING* value = X509_EXTENSION_get_data(extension);
            shown.acmeIdentifier.assign(reinterpret_cast<const char*>(value->data),
                                        static_cast<size_t>(value->length));
            if (X509_EXTENSION_get_critical(extension) != 1)
                shown.acmeIdentifier += " not critical";
        }
        char commonName[256] = "";
        X509_NAME_get_text_by_NID(X509_get_subject_name(certificate), NID_commonName, commonName,
                                  sizeof commonName);
        shown.commonName = commonName;
        ASN1_OBJECT_free(oid);
        X509_free(certificate);
    }
    ::shutdown(fds[1], SHUT_RDWR);
    server.join();
    SSL_free(ssl);
    SSL_CTX_free(clientContext);
    session.reset();
    ::close(fds[0]);
    ::close(fds[1]);
    return shown;
}

TEST(TlsAlpnChallengesTest, OnlyAChallengeForAPostedNameGetsItsCertificate) {
    TempDir dir;
    std::string error;
    ASSERT_TRUE(
        MakeSelfSignedCertificate({"site.test"}, 1, dir.File("c.crt"), dir.File("c.key"), &error))
        << error;
    std::shared_ptr<const TlsContext> context =
        TlsContext::Load(dir.File("c.crt"), dir.File("c.key"), &error);
    ASSERT_TRUE(context) << error;
    const std::string digest(32, '\x5a');
    ASSERT_TRUE(TlsAlpnChallenges::Shared().Post("posted.test", digest));
    const std::string acmeTls(
        "\x0a"
        "acme-tls/1",
        11);
    const std::string web("\x02h2\x08http/1.1", 12);
    struct Case {
        const char* name;
        std::string protocols;
        Shown expected;
    } cases[] = {
        {"POSTED.test", acmeTls, {"acme-tls/1", "\x04\x20" + digest, "posted.test"}},
        {"other.test", acmeTls, {"failed", "", ""}},
        {"posted.test", web, {"h2", "", "site.test"}},
    };
    for (const Case& c : cases) {
        Shown shown = Connect(*context, c.name, c.protocols);
        EXPECT_EQ(shown.protocol, c.expected.protocol) << c.name;
        EXPECT_EQ(shown.acmeIdentifier, c.expected.acmeIdentifier) << c.name;
        EXPECT_EQ(shown.commonName, c.expected.commonName) << c.name;
    }
    TlsAlpnChallenges::Shared().Remove("posted.test");
    EXPECT_EQ(Connect(*context, "posted.test", acmeTls).protocol, "failed");
}

}  // namespace
}  // namespace platform
