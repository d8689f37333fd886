// TLS contexts: what the owner is told about certificate and key files that cannot be used.
#include "platform/tls.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace platform
