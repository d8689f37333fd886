// The cryptography of certificate requests: EC P-256 keys kept in PEM files, the JSON Web Key
// and its thumbprint, requests signed as flattened JSON Web Signatures (ES256), the signing
// request that asks for a certificate, and the validity of a certificate chain.
#pragma once

#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct evp_pkey_st;

namespace acme {

// Base64 with the URL's alphabet and no padding, as every field of a signed request.
std::string Base64Url(std::string_view bytes);

// An EC P-256 key pair.
class EcKey {
  public:
    // A fresh key.
    static std::optional<EcKey> Generate();
    // The key in the PEM file `path`; made and written there (mode 0600, atomically) when the
    // file does not exist. Nothing when it exists but holds no P-256 key, or cannot be written;
    // `*error` then says why.
    static std::optional<EcKey> LoadOrCreate(const std::string& path, std::string* error);
    // The key in PEM text; nothing when the text holds no P-256 key.
    static std::optional<EcKey> FromPem(std::string_view pem);

    EcKey(EcKey&&) noexcept;
    EcKey& operator=(EcKey&&) noexcept;
    ~EcKey();

    // The private key as PEM (PKCS#8).
    std::string Pem() const;
    // The public key as a JSON Web Key: {"crv":"P-256","kty":"EC","x":...,"y":...}, with its
    // members in the order the thumbprint hashes them.
    std::string Jwk() const;
    // Base64Url of the SHA-256 of Jwk(): the account's part of every key authorization.
    std::string Thumbprint() const;
    // A flattened JWS over `payload` (empty for POST-as-GET) with the protected header
    // `protectedJson` (a JSON object's text); ES256, the signature as r || s.
    std::optional<std::string> Sign(std::string_view protectedJson, std::string_view payload) const;
    // A certificate signing request (DER, in Base64Url) for `names` (DNS names; the first is
    // also the subject's common name), signed with this key.
    std::optional<std::string> SigningRequest(const std::vector<std::string>& names) const;

  private:
    explicit EcKey(evp_pkey_st* key) : key_(key) {}
    evp_pkey_st* key_ = nullptr;
};

// The first certificate of a PEM chain: when it starts and ends to be valid, and the serial
// number in hexadecimal.
struct CertificateDates {
    std::time_t notBefore = 0;
    std::time_t notAfter = 0;
    std::string serial;
};
std::optional<CertificateDates> ReadCertificateDates(std::string_view pem);

// Whether the first certificate of the PEM chain is the public half of the PEM key.
bool ChainMatchesKey(std::string_view chainPem, std::string_view keyPem);

}  // namespace acme
