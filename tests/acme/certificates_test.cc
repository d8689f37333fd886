// The cryptography and the settings of obtained certificates: signed requests verify with the
// account's key, signing requests name what they ask for, keys are kept for the owner only,
// names and challenge kinds read as the owner means them.
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>

#include <ctime>
#include <string>
#include <vector>

#include "acme/certificate_keeper.h"
#include "acme/signing.h"
#include "config/server_config.h"
#include "platform/text.h"
#include "platform/tls.h"
#include "tests/support/temp_dir.h"

namespace {

using acme::Base64Url;
using acme::EcKey;

std::string FromBase64Url(std::string text) {
    for (char& c : text) c = c == '-' ? '+' : c == '_' ? '/' : c;
    while (text.size() % 4 != 0) text += '=';
    return platform::Base64Decode(text);
}

// The value of the string member `name` of a flat JSON object.
std::string Member(const std::string& json, const std::string& name) {
    const std::string key = "\"" + name + "\":\"";
    size_t start = json.find(key);
    if (start == std::string::npos) return {};
    start += key.size();
    return json.substr(start, json.find('"', start) - start);
}

// Whether `jws` is signed by `key`: the r || s signature checked over "protected.payload".
bool Verifies(const std::string& jws, const EcKey& key) {
    const std::string input = Member(jws, "protected") + "." + Member(jws, "payload");
    const std::string raw = FromBase64Url(Member(jws, "signature"));
    if (raw.size() != 64) return false;
    ECDSA_SIG* signature = ECDSA_SIG_new();
    ECDSA_SIG_set0(signature,
                   BN_bin2bn(reinterpret_cast<const unsigned char*>(raw.data()), 32, nullptr),
                   BN_bin2bn(reinterpret_cast<const unsigned char*>(raw.data()) + 32, 32, nullptr));
    unsigned char* der = nullptr;
    const int size = i2d_ECDSA_SIG(signature, &der);
    ECDSA_SIG_free(signature);
    const std::string pem = key.Pem();
    BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    EVP_PKEY* pkey = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    const bool good =
        EVP_DigestVerifyInit(context, nullptr, EVP_sha256(), nullptr, pkey) == 1 &&
        EVP_DigestVerify(context, der, static_cast<size_t>(size),
                         reinterpret_cast<const unsigned char*>(input.data()), input.size()) == 1;
    EVP_MD_CTX_free(context);
    EVP_PKEY_free(pkey);
    OPENSSL_free(der);
    return good;
}

TEST(AcmeSigningTest, SignedRequestsVerifyAndCarryTheirParts) {
    struct Case {
        std::string_view bytes, encoded;
    } cases[] = {{"", ""}, {"f", "Zg"}, {"fo", "Zm8"}, {"foo", "Zm9v"}, {"\xfb\xff", "-_8"}};
    for (const Case& c : cases) EXPECT_EQ(Base64Url(c.bytes), c.encoded) << c.encoded;

    std::optional<EcKey> key = EcKey::Generate();
    ASSERT_TRUE(key);
    EXPECT_EQ(key->Jwk().rfind(R"({"crv":"P-256","kty":"EC","x":")", 0), 0u) << key->Jwk();
    EXPECT_EQ(key->Thumbprint().size(), 43u);
    for (std::string payload : {std::string(), std::string(R"({"termsOfServiceAgreed":true})")}) {
        const std::string header = R"({"alg":"ES256","nonce":"n","url":"https://ca/x"})";
        std::optional<std::string> jws = key->Sign(header, payload);
        ASSERT_TRUE(jws);
        EXPECT_TRUE(Verifies(*jws, *key)) << *jws;
        EXPECT_EQ(FromBase64Url(Member(*jws, "protected")), header);
        EXPECT_EQ(FromBase64Url(Member(*jws, "payload")), payload);
        EXPECT_FALSE(Verifies(*jws, *EcKey::Generate())) << "verified with another key";
    }
}

TEST(AcmeSigningTest, SigningRequestNamesEveryNameAndIsSignedByTheKey) {
    std::optional<EcKey> key = EcKey::Generate();
    ASSERT_TRUE(key);
    std::optional<std::string> csr = key->SigningRequest({"example.org", "www.example.org"});
    ASSERT_TRUE(csr);
    const std::string der = FromBase64Url(*csr);
    const auto* cursor = reinterpret_cast<const unsigned char*>(der.data());
    X509_REQ* request = d2i_X509_REQ(nullptr, &cursor, static_cast<long>(der.size()));
    ASSERT_NE(request, nullptr);
    EVP_PKEY* publicKey = X509_REQ_get_pubkey(request);
    EXPECT_EQ(X509_REQ_verify(request, publicKey), 1);
    STACK_OF(X509_EXTENSION)* extensions = X509_REQ_get_extensions(request);
    auto* names = static_cast<GENERAL_NAMES*>(
        X509V3_get_d2i(extensions, NID_subject_alt_name, nullptr, nullptr));
    ASSERT_NE(names, nullptr);
    std::vector<std::string> found;
    for (int i = 0; i < sk_GENERAL_NAME_num(names); ++i) {
        const ASN1_IA5STRING* name = sk_GENERAL_NAME_value(names, i)->d.dNSName;
        found.emplace_back(reinterpret_cast<const char*>(ASN1_STRING_get0_data(name)),
                           ASN1_STRING_length(name));
    }
    EXPECT_EQ(found, (std::vector<std::string>{"example.org", "www.example.org"}));
    GENERAL_NAMES_free(names);
    sk_X509_EXTENSION_pop_free(extensions, X509_EXTENSION_free);
    EVP_PKEY_free(publicKey);
    X509_REQ_free(request);
}

TEST(AcmeSigningTest, AccountKeyIsMadeOnceForTheOwnerOnlyAndCertificatesAreRead) {
    testing_support::TempDir dir("vantry-acme");
    const std::string path = dir.File("certificates/.account/key.pem");
    std::string error;
    std::optional<EcKey> made = EcKey::LoadOrCreate(path, &error);
    ASSERT_TRUE(made) << error;
    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    std::optional<EcKey> again = EcKey::LoadOrCreate(path, &error);
    ASSERT_TRUE(again) << error;
    EXPECT_EQ(again->Jwk(), made->Jwk());
    testing_support::WriteFile(dir.File("garbage.pem"), "not a key");
    EXPECT_FALSE(EcKey::LoadOrCreate(dir.File("garbage.pem"), &error));
    EXPECT_NE(error.find("garbage.pem"), std::string::npos) << error;

    // A certificate's dates, and whether a key is its own.
    ASSERT_TRUE(platform::MakeSelfSignedCertificate({"example.org"}, 90, dir.File("c.pem"),
                                                    dir.File("k.pem"), &error))
        << error;
    const std::string chain = testing_support::ReadFile(dir.File("c.pem"));
    std::optional<acme::CertificateDates> dates = acme::ReadCertificateDates(chain);
    ASSERT_TRUE(dates);
    EXPECT_NEAR(static_cast<double>(dates->notAfter - std::time(nullptr)), 90.0 * 86400, 120);
    EXPECT_FALSE(dates->serial.empty());
    EXPECT_TRUE(acme::ChainMatchesKey(chain, testing_support::ReadFile(dir.File("k.pem"))));
    EXPECT_FALSE(acme::ChainMatchesKey(chain, made->Pem()));
    EXPECT_FALSE(acme::ReadCertificateDates("no certificate"));
}

TEST(AcmeSettingsTest, NamesChallengesAndRenewalTime) {
    std::vector<std::string> rejected;
    EXPECT_EQ(config::ParseAcmeDomains("Example.ORG, www.example.org example.org.  ,", &rejected),
              (std::vector<std::string>{"example.org", "www.example.org"}));
    EXPECT_TRUE(rejected.empty());
    const std::string longLabel(64, 'a');
    for (const std::string& bad :
         std::vector<std::string>{"-x.org", "x-.org", "a..b", "*.example.org", "exa_mple.org",
                                  "é.org", longLabel + ".org", "."}) {
        rejected.clear();
        EXPECT_TRUE(config::ParseAcmeDomains(bad, &rejected).empty()) << bad;
        EXPECT_EQ(rejected.size(), 1u) << bad;
    }

    struct Case {
        const char* setting;
        int port, tlsPort;
        config::AcmeChallenge expected;
    } cases[] = {
        {"", 80, 443, config::AcmeChallenge::kHttp01},
        {"", 8080, 443, config::AcmeChallenge::kTlsAlpn01},
        {"", 8080, 8443, config::AcmeChallenge::kHttp01},
        {"HTTP-01", 8080, 443, config::AcmeChallenge::kHttp01},
        {"tls-alpn-01", 80, 8443, config::AcmeChallenge::kTlsAlpn01},
    };
    for (const Case& c : cases) {
        config::ServerSettings settings;
        settings.acmeChallenge = c.setting;
        settings.port = c.port;
        settings.tlsPort = c.tlsPort;
        EXPECT_EQ(config::AcmeChallengeOf(settings), c.expected) << c.setting << " " << c.port;
    }

    const std::time_t day = 86400;
    EXPECT_EQ(acme::RenewalTime(1000, 1000 + 90 * day), 1000 + 60 * day);
    EXPECT_EQ(acme::RenewalTime(5000, 4000), 4000);  // no lifetime: due at once
}

}  // namespace
