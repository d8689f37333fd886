// The registry file: parsing the export format, editing, and the file written for secrets.
#include "platform/registry_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "tests/support/temp_dir.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSwitches = "HKEY_LOCAL_MACHINE\\SOFTWARE\\VANTRY";
constexpr const char* kUsers = "HKEY_LOCAL_MACHINE\\SOFTWARE\\VANTRY\\USERS";

const char kExample[] =
    "REGEDIT4\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VANTRY]\r\n"
    "\"AuthenticationRequiredServerOne\"=dword:00000001\r\n"
    "\"Upper\"=DWORD:DEADBEEF\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VANTRY\\USERS]\r\n"
    "\"Admin\"=\"secret\"\r\n"
    "\"bob\"=\"pa\\\"ss\"\r\n"
    "\"back\\\\slash\"=\"c:\\\\dir\\\\\"\r\n";

TEST(RegistryFileTest, ParsesTheExportFormatWithoutRegardToCase) {
    RegistryFile registry = RegistryFile::Parse(kExample);
    EXPECT_EQ(
        registry.Find("hkey_local_machine\\software\\vantry", "authenticationrequiredserverone"),
        RegistryValue(uint32_t{1}));
    EXPECT_EQ(registry.Find(kSwitches, "Upper"), RegistryValue(uint32_t{0xdeadbeef}));
    EXPECT_EQ(registry.Find(kUsers, "ADMIN"), RegistryValue(std::string("secret")));
    EXPECT_EQ(registry.Find(kUsers, "bob"), RegistryValue(std::string("pa\"ss")));
    EXPECT_EQ(registry.Find(kUsers, "back\\slash"), RegistryValue(std::string("c:\\dir\\")));
    EXPECT_FALSE(registry.Find(kUsers, "nobody"));
    EXPECT_FALSE(registry.Find("HKEY_LOCAL_MACHINE\\SOFTWARE", "Admin"));
    // Without the header line the same keys are read.
    EXPECT_EQ(RegistryFile::Parse(std::string(kExample).substr(12)).keys().size(), 2u);

    // A key or name given twice keeps its first place and takes the last value.
    RegistryFile repeated =
        RegistryFile::Parse("[K]\n\"a\"=\"1\"\n\"b\"=\"2\"\n[k]\n\"A\"=dword:00000003\n");
    ASSERT_EQ(repeated.keys().size(), 1u);
    ASSERT_EQ(repeated.keys()[0].values.size(), 2u);
    EXPECT_EQ(repeated.keys()[0].values[0].first, "a");
    EXPECT_EQ(repeated.keys()[0].values[0].second, RegistryValue(uint32_t{3}));
}

TEST(RegistryFileTest, SkipsLinesItDoesNotUnderstand) {
    RegistryFile registry = RegistryFile::Parse(
        "\"orphan\"=\"before any key\"\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VANTRY]\n"
        "\"short\"=dword:1\n"
        "\"long\"=dword:000000001\n"
        "\"nothex\"=dword:0000000g\n"
        "\"signed\"=dword:-0000001\n"
        "\"escape\"=\"a\\nb\"\n"
        "\"open\"=\"unterminated\n"
        "\"trailing\"=\"x\" junk\n"
        "\"good\"=dword:0000000A\n"
        "[HKEY_BROKEN\n"
        "\"lost\"=\"after a broken key line\"\n");
    ASSERT_EQ(registry.keys().size(), 1u);
    ASSERT_EQ(registry.keys()[0].values.size(), 1u);
    EXPECT_EQ(registry.keys()[0].values[0].first, "good");
    EXPECT_EQ(registry.keys()[0].values[0].second, RegistryValue(uint32_t{10}));
}

TEST(RegistryFileTest, EditingKeepsPositionsAndSerializesBackToTheSameRegistry) {
    RegistryFile registry = RegistryFile::Parse(kExample);
    registry.Set(kUsers, "admin", std::string("changed"));
    registry.Set("hkey_local_machine\\software\\vantry\\users", "carol", std::string("q\"\\"));
    registry.Set("HKEY_CURRENT_USER\\New", "n", uint32_t{0x1234abcd});
    registry.Set(kUsers, "evil", std::string("x\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\VANTRY]"));
    EXPECT_TRUE(registry.Erase(kSwitches, "UPPER"));
    EXPECT_FALSE(registry.Erase(kSwitches, "Upper"));

    const std::string text = registry.Serialize();
    EXPECT_EQ(text,
              "REGEDIT4\n\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VANTRY]\n"
              "\"AuthenticationRequiredServerOne\"=dword:00000001\n\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VANTRY\\USERS]\n"
              "\"Admin\"=\"changed\"\n"
              "\"bob\"=\"pa\\\"ss\"\n"
              "\"back\\\\slash\"=\"c:\\\\dir\\\\\"\n"
              "\"carol\"=\"q\\\"\\\\\"\n"
              "\"evil\"=\"x[HKEY_LOCAL_MACHINE\\\\SOFTWARE\\\\VANTRY]\"\n\n"
              "[HKEY_CURRENT_USER\\New]\n"
              "\"n\"=dword:1234abcd\n\n");
    EXPECT_EQ(RegistryFile::Parse(text).Serialize(), text);
}

TEST(RegistryFileTest, SaveCreatesPrivateDirectoriesAndAPrivateFile) {
    testing_support::TempDir temp("vantry-reg");
    const std::string& dir = temp.path();
    const std::string path = dir + "/config/vantry/registry.reg";
    RegistryFile registry = RegistryFile::Parse(kExample);
    EXPECT_TRUE(registry.SaveAs(path));
    EXPECT_EQ(fs::status(dir + "/config").permissions(), fs::perms::owner_all);
    EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(RegistryFile::Load(path).Serialize(), registry.Serialize());

    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
    EXPECT_TRUE(registry.SaveAs(path));
    EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_TRUE(RegistryFile::Load(dir + "/missing.reg").keys().empty());
}

TEST(RegistryFileTest, PathComesFromTheEnvironment) {
    testing_support::ScopedEnv explicitPath("VANTRY_REGISTRY", std::nullopt);
    testing_support::ScopedEnv xdg("XDG_CONFIG_HOME", std::nullopt);
    testing_support::ScopedEnv home("HOME", "/home/someone");
    auto pathWith = [&](const char* explicitValue, const char* xdgValue) {
        explicitPath.Set(explicitValue ? std::optional<std::string>(explicitValue) : std::nullopt);
        xdg.Set(xdgValue ? std::optional<std::string>(xdgValue) : std::nullopt);
        return RegistryFilePath();
    };
    EXPECT_EQ(pathWith("/tmp/explicit.reg", "/xdg"), "/tmp/explicit.reg");
    EXPECT_EQ(pathWith("", "/xdg"), "/xdg/vantry/registry.reg");
    EXPECT_EQ(pathWith(nullptr, "relative"), "/home/someone/.config/vantry/registry.reg");
    EXPECT_EQ(pathWith(nullptr, nullptr), "/home/someone/.config/vantry/registry.reg");
}

}  // namespace
}  // namespace platform
