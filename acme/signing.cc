// EC P-256 keys, ES256 signatures and certificate requests with OpenSSL.
#include "acme/signing.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/sha.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>

#include <array>
#include <cerrno>

#include "platform/file_io.h"

namespace acme {
namespace {

struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
using Bio = std::unique_ptr<BIO, BioFree>;
struct BnFree {
    void operator()(BIGNUM* number) const { BN_free(number); }
};
using Bignum = std::unique_ptr<BIGNUM, BnFree>;
struct MdContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
struct SignatureFree {
    void operator()(ECDSA_SIG* signature) const { ECDSA_SIG_free(signature); }
};
struct RequestFree {
    void operator()(X509_REQ* request) const { X509_REQ_free(request); }
};
struct CertificateFree {
    void operator()(X509* certificate) const { X509_free(certificate); }
};
struct NamesFree {
    void operator()(GENERAL_NAMES* names) const { GENERAL_NAMES_free(names); }
};
struct ExtensionsFree {
    void operator()(STACK_OF(X509_EXTENSION) * extensions) const {
        sk_X509_EXTENSION_pop_free(extensions, X509_EXTENSION_free);
    }
};

constexpr std::size_t kCoordinateSize = 32;  // bytes of a P-256 coordinate or signature half

std::string BioText(BIO* bio) {
    char* data = nullptr;
    long size = BIO_get_mem_data(bio, &data);
    return size > 0 ? std::string(data, static_cast<std::size_t>(size)) : std::string();
}

bool IsP256(EVP_PKEY* key) {
    if (EVP_PKEY_get_base_id(key) != EVP_PKEY_EC) return false;
    std::array<char, 64> group{};
    std::size_t length = 0;
    return EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group.data(),
                                          group.size(), &length) == 1 &&
           std::string_view(group.data(), length) == "prime256v1";
}

std::optional<std::string> Coordinate(EVP_PKEY* key, const char* name) {
    BIGNUM* raw = nullptr;
    if (EVP_PKEY_get_bn_param(key, name, &raw) != 1) return std::nullopt;
    Bignum number(raw);
    std::string bytes(kCoordinateSize, '\0');
    if (BN_bn2binpad(number.get(), reinterpret_cast<unsigned char*>(bytes.data()),
                     static_cast<int>(bytes.size())) != static_cast<int>(kCoordinateSize)) {
        return std::nullopt;
    }
    return bytes;
}

std::time_t TimeOf(const ASN1_TIME* time) {
    std::tm parts{};
    if (time == nullptr || ASN1_TIME_to_tm(time, &parts) != 1) return 0;
    return timegm(&parts);
}

}  // namespace

std::string Base64Url(std::string_view bytes) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string out;
    out.reserve((bytes.size() * 4 + 2) / 3);
    std::size_t i = 0;
    auto byte = [&](std::size_t at) { return static_cast<unsigned char>(bytes[at]); };
    for (; i + 2 < bytes.size(); i += 3) {
        unsigned triple = byte(i) << 16 | byte(i + 1) << 8 | byte(i + 2);
        for (int shift = 18; shift >= 0; shift -= 6) out += kAlphabet[(triple >> shift) & 63];
    }
    if (bytes.size() - i == 1) {
        unsigned single = byte(i) << 16;
        out += kAlphabet[(single >> 18) & 63];
        out += kAlphabet[(single >> 12) & 63];
    } else if (bytes.size() - i == 2) {
        unsigned pair = byte(i) << 16 | byte(i + 1) << 8;
        out += kAlphabet[(pair >> 18) & 63];
        out += kAlphabet[(pair >> 12) & 63];
        out += kAlphabet[(pair >> 6) & 63];
    }
    return out;
}

std::optional<EcKey> EcKey::Generate() {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    if (key == nullptr) return std::nullopt;
    return EcKey(key);
}

std::optional<EcKey> EcKey::FromPem(std::string_view pem) {
    Bio bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    if (!bio) return std::nullopt;
    EVP_PKEY* key = PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr);
    if (key == nullptr) return std::nullopt;
    EcKey owned(key);
    if (!IsP256(key)) return std::nullopt;
    return owned;
}

std::optional<EcKey> EcKey::LoadOrCreate(const std::string& path, std::string* error) {
    struct stat status;
    if (::lstat(path.c_str(), &status) == 0 || errno != ENOENT) {
        std::optional<std::string> pem = platform::ReadWholeFile(path, 64 * 1024, nullptr);
        if (!pem) {
            *error = "can't read " + path;
            return std::nullopt;
        }
        std::optional<EcKey> key = FromPem(*pem);
        if (!key) *error = path + " holds no EC P-256 private key";
        return key;
    }
    std::optional<EcKey> key = Generate();
    if (!key) {
        *error = "can't make a key";
        return std::nullopt;
    }
    if (!platform::MakeDirectories(platform::DirectoryOf(path), 0700, error) ||
        !platform::WriteFileAtomicallyWithMode(path, key->Pem(), 0600, error)) {
        return std::nullopt;
    }
    return key;
}

EcKey::EcKey(EcKey&& other) noexcept : key_(other.key_) { other.key_ = nullptr; }

EcKey& EcKey::operator=(EcKey&& other) noexcept {
    if (this != &other) {
        EVP_PKEY_free(key_);
        key_ = other.key_;
        other.key_ = nullptr;
    }
    return *this;
}

EcKey::~EcKey() { EVP_PKEY_free(key_); }

std::string EcKey::Pem() const {
    Bio bio(BIO_new(BIO_s_mem()));
    if (!bio ||
        PEM_write_bio_PrivateKey(bio.get(), key_, nullptr, nullptr, 0, nullptr, nullptr) != 1) {
        return {};
    }
    return BioText(bio.get());
}

std::string EcKey::Jwk() const {
    std::optional<std::string> x = Coordinate(key_, OSSL_PKEY_PARAM_EC_PUB_X);
    std::optional<std::string> y = Coordinate(key_, OSSL_PKEY_PARAM_EC_PUB_Y);
    if (!x || !y) return {};
    return R"({"crv":"P-256","kty":"EC","x":")" + Base64Url(*x) + R"(","y":")" + Base64Url(*y) +
           R"("})";
}

std::string EcKey::Thumbprint() const {
    const std::string jwk = Jwk();
    std::array<unsigned char, SHA256_DIGEST_LENGTH> digest{};
    SHA256(reinterpret_cast<const unsigned char*>(jwk.data()), jwk.size(), digest.data());
    return Base64Url(std::string_view(reinterpret_cast<const char*>(digest.data()), digest.size()));
}

std::optional<std::string> EcKey::Sign(std::string_view protectedJson,
                                       std::string_view payload) const {
    const std::string protectedPart = Base64Url(protectedJson);
    const std::string payloadPart = Base64Url(payload);
    const std::string signingInput = protectedPart + "." + payloadPart;
    std::unique_ptr<EVP_MD_CTX, MdContextFree> context(EVP_MD_CTX_new());
    std::size_t size = 0;
    if (!context || EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key_) != 1 ||
        EVP_DigestSign(context.get(), nullptr, &size,
                       reinterpret_cast<const unsigned char*>(signingInput.data()),
                       signingInput.size()) != 1) {
        return std::nullopt;
    }
    std::string der(size, '\0');
    if (EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(der.data()), &size,
                       reinterpret_cast<const unsigned char*>(signingInput.data()),
                       signingInput.size()) != 1) {
        return std::nullopt;
    }
    // The library signs in DER; JWS wants the two numbers side by side, each 32 bytes.
    const auto* cursor = reinterpret_cast<const unsigned char*>(der.data());
    std::unique_ptr<ECDSA_SIG, SignatureFree> signature(
        d2i_ECDSA_SIG(nullptr, &cursor, static_cast<long>(size)));
    if (!signature) return std::nullopt;
    std::string raw(2 * kCoordinateSize, '\0');
    auto* out = reinterpret_cast<unsigned char*>(raw.data());
    if (BN_bn2binpad(ECDSA_SIG_get0_r(signature.get()), out, kCoordinateSize) < 0 ||
        BN_bn2binpad(ECDSA_SIG_get0_s(signature.get()), out + kCoordinateSize, kCoordinateSize) <
            0) {
        return std::nullopt;
    }
    return R"({"protected":")" + protectedPart + R"(","payload":")" + payloadPart +
           R"(","signature":")" + Base64Url(raw) + R"("})";
}

std::optional<std::string> EcKey::SigningRequest(const std::vector<std::string>& names) const {
    if (names.empty()) return std::nullopt;
    std::unique_ptr<X509_REQ, RequestFree> request(X509_REQ_new());
    if (!request || X509_REQ_set_version(request.get(), 0) != 1 ||
        X509_REQ_set_pubkey(request.get(), key_) != 1) {
        return std::nullopt;
    }
    X509_NAME* subject = X509_REQ_get_subject_name(request.get());
    if (X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(names.front().c_str()),
                                   -1, -1, 0) != 1) {
        return std::nullopt;
    }
    std::unique_ptr<GENERAL_NAMES, NamesFree> alternatives(sk_GENERAL_NAME_new_null());
    for (const std::string& name : names) {
        GENERAL_NAME* entry = GENERAL_NAME_new();
        ASN1_IA5STRING* text = ASN1_IA5STRING_new();
        if (entry == nullptr || text == nullptr ||
            ASN1_STRING_set(text, name.data(), static_cast<int>(name.size())) != 1) {
            GENERAL_NAME_free(entry);
            ASN1_IA5STRING_free(text);
            return std::nullopt;
        }
        GENERAL_NAME_set0_value(entry, GEN_DNS, text);
        sk_GENERAL_NAME_push(alternatives.get(), entry);
    }
    std::unique_ptr<STACK_OF(X509_EXTENSION), ExtensionsFree> extensions(
        sk_X509_EXTENSION_new_null());
    X509_EXTENSION* san = X509V3_EXT_i2d(NID_subject_alt_name, 0, alternatives.get());
    if (san == nullptr) return std::nullopt;
    sk_X509_EXTENSION_push(extensions.get(), san);
    if (X509_REQ_add_extensions(request.get(), extensions.get()) != 1 ||
        X509_REQ_sign(request.get(), key_, EVP_sha256()) <= 0) {
        return std::nullopt;
    }
    unsigned char* der = nullptr;
    int size = i2d_X509_REQ(request.get(), &der);
    if (size <= 0) return std::nullopt;
    std::string encoded =
        Base64Url(std::string_view(reinterpret_cast<const char*>(der), static_cast<size_t>(size)));
    OPENSSL_free(der);
    return encoded;
}

std::optional<CertificateDates> ReadCertificateDates(std::string_view pem) {
    Bio bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    if (!bio) return std::nullopt;
    std::unique_ptr<X509, CertificateFree> certificate(
        PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
    if (!certificate) return std::nullopt;
    CertificateDates dates;
    dates.notBefore = TimeOf(X509_get0_notBefore(certificate.get()));
    dates.notAfter = TimeOf(X509_get0_notAfter(certificate.get()));
    Bignum serial(ASN1_INTEGER_to_BN(X509_get0_serialNumber(certificate.get()), nullptr));
    if (serial) {
        char* hex = BN_bn2hex(serial.get());
        if (hex != nullptr) dates.serial = hex;
        OPENSSL_free(hex);
    }
    if (dates.notAfter == 0) return std::nullopt;
    return dates;
}

bool ChainMatchesKey(std::string_view chainPem, std::string_view keyPem) {
    Bio chainBio(BIO_new_mem_buf(chainPem.data(), static_cast<int>(chainPem.size())));
    Bio keyBio(BIO_new_mem_buf(keyPem.data(), static_cast<int>(keyPem.size())));
    if (!chainBio || !keyBio) return false;
    std::unique_ptr<X509, CertificateFree> certificate(
        PEM_read_bio_X509(chainBio.get(), nullptr, nullptr, nullptr));
    EVP_PKEY* key = PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr);
    const bool matches =
        certificate && key != nullptr && X509_check_private_key(certificate.get(), key) == 1;
    EVP_PKEY_free(key);
    return matches;
}

}  // namespace acme
