// Loading and saving the configuration record through its INI file and the registry file.
#include "config/server_config.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "platform/file_io.h"
#include "platform/ini_file.h"
#include "tests/support/temp_dir.h"

namespace config {
namespace {

namespace fs = std::filesystem;
using testing_support::ReadFile;
using testing_support::WriteFile;

// A program directory of its own, with HOME and the registry file pointed inside it.
class ServerConfigTest : public ::testing::Test {
  protected:
    testing_support::TempDir temp_{"vantry-config"};
    const std::string root_ = temp_.path();
    const std::string dir_ = root_ + "/";
    const std::string ini_ = dir_ + "Vantry.ini";
    testing_support::ScopedEnv home_{"HOME", root_ + "/home"};
    testing_support::ScopedEnv registry_{"VANTRY_REGISTRY", dir_ + "registry.reg"};
};

TEST_F(ServerConfigTest, AMissingFileLeavesZeroValuesAndCreatesNothing) {
    ServerConfig config = ServerConfig::Load(root_);  // the slash is added
    EXPECT_TRUE(config.iniMissing);
    EXPECT_EQ(config.programDirectory, dir_);
    EXPECT_EQ(config.iniPath, ini_);
    EXPECT_EQ(config.servers[0].port, 0);
    EXPECT_EQ(config.servers[1].wwwroot, "");
    EXPECT_FALSE(config.servers[0].list);
    EXPECT_EQ(config.goodByeKiss, 0);
    EXPECT_FALSE(platform::FileExists(ini_));
}

TEST_F(ServerConfigTest, AnEmptyFileGivesTheDefaults) {
    WriteFile(ini_, "");
    ServerConfig config = ServerConfig::Load(dir_);
    EXPECT_FALSE(config.iniMissing);
    for (int i = 0; i < 2; ++i) {
        const ServerSettings& s = config.servers[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(s.port, i == 0 ? 80 : 9600);
        EXPECT_NE(s.servername.find('/'), std::string::npos);
        EXPECT_EQ(s.wwwroot, dir_ + "www/");
        // What visitors send stays out of the web root.
        EXPECT_EQ(s.uploadSaveLocation, dir_ + "Incoming/Uploads");
        EXPECT_EQ(s.messageSaveLocation, dir_ + "Incoming/Messages");
        EXPECT_EQ(s.postSaveLocation, dir_ + "Incoming/Forms");
        EXPECT_FALSE(s.userListPublic);
        EXPECT_EQ(s.defaultDocument, "index.html");
        EXPECT_EQ(s.favoritesLocation, root_ + "/home/Favorites");
        EXPECT_FALSE(s.logs);
        EXPECT_TRUE(s.list);
        EXPECT_FALSE(s.cgi);
        EXPECT_FALSE(s.authRequired);
        EXPECT_TRUE(s.searchEnabled);
        EXPECT_FALSE(s.messageUploadEnabled);
        EXPECT_EQ(s.uploadMaxSizeKB, 1000);
        EXPECT_EQ(s.messageMaxSizeKB, 32000);
        EXPECT_EQ(s.ftpUserID, "Your FTP User ID");
        EXPECT_EQ(s.ftpPassword.size(), 17u);
        EXPECT_EQ(s.ftpPath, "Your Home Page Location");
        EXPECT_EQ(s.vpTableProperties, "BORDER=0 CELLSPACING='1' CELLPADDING='2'");
        EXPECT_EQ(s.vpNavBarBtnImgProperties, "height='25' width='75'");
        EXPECT_TRUE(s.vpEnablePageHeaders);
    }
    EXPECT_EQ(config.adminid, "");
    EXPECT_FALSE(config.secondPortEnabled);
    EXPECT_EQ(config.goodByeKiss, 30);
}

TEST_F(ServerConfigTest, SwitchesAreTrueOnlyForAValueStartingWithY) {
    struct Case {
        const char* stored;
        bool expected;
    } cases[] = {{"yes", true},   {"Y", true},  {"yikes", true}, {"  y", true}, {"1", false},
                 {"TRUE", false}, {"N", false}, {"", false},     {"no", false}};
    for (const Case& c : cases) {
        WriteFile(ini_, std::string("[Config]\nlogs=") + c.stored +
                            "\n[Server-2]\nsecondPortEnabled=" + c.stored + "\n");
        ServerConfig config = ServerConfig::Load(dir_);
        EXPECT_EQ(config.servers[0].logs, c.expected) << c.stored;
        EXPECT_EQ(config.secondPortEnabled, c.expected) << c.stored;
    }
}

TEST_F(ServerConfigTest, ValuesAreReadPerServerAndCutToTheirReadSize) {
    WriteFile(ini_, "[Config]\r\nservername=" + std::string(300, 's') + "\r\nport=8080\r\n" +
                        "default=" + std::string(100, 'd') + "\r\nadminid=" + std::string(90, 'a') +
                        "\r\nvpTableProperties=" + std::string(150, 't') +
                        "\r\nuploadMaxSizeKB=99999999999\r\n"
                        "[Server-2-Config]\r\nwwwroot=/srv/two/\r\nlist=N\r\n"
                        "[Request]\r\ngoodByeKiss=5\r\n");
    ServerConfig config = ServerConfig::Load(dir_);
    EXPECT_EQ(config.servers[0].servername, std::string(259, 's'));
    EXPECT_EQ(config.servers[0].defaultDocument, std::string(79, 'd'));
    EXPECT_EQ(config.adminid, std::string(79, 'a'));
    EXPECT_EQ(config.servers[0].vpTableProperties, std::string(99, 't'));
    EXPECT_EQ(config.servers[0].uploadMaxSizeKB, INT32_MAX);
    EXPECT_EQ(config.servers[0].port, 8080);
    EXPECT_EQ(config.servers[1].port, 9600);
    EXPECT_EQ(config.servers[1].wwwroot, "/srv/two/");
    EXPECT_FALSE(config.servers[1].list);
    EXPECT_TRUE(config.servers[0].list);
    EXPECT_EQ(config.goodByeKiss, 5);
}

TEST_F(ServerConfigTest, GoodByeKissStaysWithinItsRange) {
    const std::pair<const char*, int32_t> cases[] = {
        {"-1", 0}, {"0", 0}, {"5", 5}, {"65535", 65535}, {"65536", 65535}, {"99999999999", 65535}};
    for (const auto& [stored, expected] : cases) {
        WriteFile(ini_, std::string("[Request]\ngoodByeKiss=") + stored + "\n");
        EXPECT_EQ(ServerConfig::Load(dir_).goodByeKiss, expected) << stored;
    }
}

TEST_F(ServerConfigTest, ZelvinIniTakesPrecedenceForReadsAndWrites) {
    EXPECT_EQ(IniFilePath(dir_), ini_);
    WriteFile(ini_, "[Config]\nport=1\n");
    WriteFile(dir_ + "Zelvin.ini", "[Config]\nport=2\n");
    EXPECT_EQ(IniFilePath(dir_), dir_ + "Zelvin.ini");
    ServerConfig config = ServerConfig::Load(dir_);
    EXPECT_EQ(config.servers[0].port, 2);
    config.servers[0].port = 3;
    EXPECT_TRUE(config.Save());
    EXPECT_EQ(ReadFile(ini_), "[Config]\nport=1\n");
    EXPECT_EQ(ServerConfig::Load(dir_).servers[0].port, 3);
}

TEST_F(ServerConfigTest, AuthenticationSwitchesComeFromTheRegistry) {
    WriteFile(dir_ + "registry.reg",
              "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\VANTRY]\n"
              "\"AuthenticationRequiredServerOne\"=dword:00000001\n"
              "\"AuthenticationRequiredServerTwo\"=\"1\"\n"
              "\"Zero\"=dword:00000000\n");
    WriteFile(ini_, "");
    ServerConfig config = ServerConfig::Load(dir_);
    EXPECT_TRUE(config.servers[0].authRequired);
    EXPECT_FALSE(config.servers[1].authRequired);  // a string is not a switch
    EXPECT_FALSE(ReadAuthSwitch("Zero"));
    EXPECT_FALSE(ReadAuthSwitch("Missing"));
    fs::remove(dir_ + "registry.reg");
    EXPECT_FALSE(ReadAuthSwitch("AuthenticationRequiredServerOne"));
}

TEST_F(ServerConfigTest, SaveRewritesKnownKeysAndKeepsEverythingElse) {
    WriteFile(ini_,
              "; owner's notes\n[Config]\nport=81\ncustom=kept\nvpTableProperties=x\n"
              "[Request]\ngoodByeKiss=7\n[VirtualDirectories]\ndocs=/srv/docs\n");
    ServerConfig config = ServerConfig::Load(dir_);
    config.servers[0].logs = true;
    config.servers[0].vpPageProperties = "bgColor=#000000";
    config.servers[1].authRequired = true;
    config.goodByeKiss = 99;
    EXPECT_TRUE(config.Save());

    const std::string text = ReadFile(ini_);
    EXPECT_TRUE(text.starts_with("; owner's notes\n[Config]\nport=81\ncustom=kept\n"));
    using platform::GetProfileString;
    EXPECT_EQ(GetProfileString(ini_, "Config", "logs", ""), "Y");
    EXPECT_EQ(GetProfileString(ini_, "Config", "list", ""), "Y");
    EXPECT_EQ(GetProfileString(ini_, "Config", "cgi", ""), "N");
    EXPECT_EQ(GetProfileString(ini_, "Config", "defaultPageProperties", ""), "bgColor=#000000");
    EXPECT_EQ(GetProfileString(ini_, "Config", "vpTableProperties", ""), "x");
    EXPECT_EQ(GetProfileString(ini_, "Server-2-Config", "vpPageProperties", "absent"), "absent");
    EXPECT_EQ(GetProfileString(ini_, "Request", "goodByeKiss", ""), "7");
    EXPECT_EQ(GetProfileString(ini_, "VirtualDirectories", "docs", ""), "/srv/docs");
    EXPECT_EQ(text.find("auth"), std::string::npos);
    EXPECT_EQ(GetProfileString(ini_, "Server-2", "secondPortEnabled", ""), "N");
    EXPECT_EQ(fs::status(ini_).permissions(), fs::perms::owner_read | fs::perms::owner_write)
        << "the file holds passwords";

    // The saved page properties are not what the next start reads.
    EXPECT_EQ(ServerConfig::Load(dir_).servers[0].vpPageProperties, "bgColor=#ffffff");
}

// Locations an existing file names are kept exactly, wherever they lie. The user list's
// switch is in the file only while it is on.
TEST_F(ServerConfigTest, SavedLocationsAreKeptAndTheUserListSwitchOnlyWhenOn) {
    WriteFile(ini_,
              "[Config]\nuploadSaveLocation=/srv/www/\nmessageSaveLocation=relative\n"
              "postSaveLocation=\nuserListPublic=y\n"
              "[Server-2-Config]\nuserListPublic=N\n");
    ServerConfig config = ServerConfig::Load(dir_);
    EXPECT_EQ(config.servers[0].uploadSaveLocation, "/srv/www/");
    EXPECT_EQ(config.servers[0].messageSaveLocation, "relative");
    EXPECT_EQ(config.servers[0].postSaveLocation, "");
    EXPECT_EQ(config.servers[1].uploadSaveLocation, dir_ + "Incoming/Uploads");
    EXPECT_TRUE(config.servers[0].userListPublic);
    EXPECT_FALSE(config.servers[1].userListPublic);

    ASSERT_TRUE(config.Save());
    const std::vector<std::vector<std::string>> saved = {
        {"Config", "uploadSaveLocation", "/srv/www/"},
        {"Config", "messageSaveLocation", "relative"},
        {"Config", "postSaveLocation", ""},
        {"Config", "userListPublic", "Y"},
        {"Server-2-Config", "userListPublic", "absent"},
    };
    for (const auto& row : saved) {
        EXPECT_EQ(platform::GetProfileString(ini_, row[0], row[1], "absent"), row[2]) << row[1];
    }
    config.servers[0].userListPublic = false;
    ASSERT_TRUE(config.Save());
    EXPECT_EQ(platform::GetProfileString(ini_, "Config", "userListPublic", "absent"), "absent");
}

TEST_F(ServerConfigTest, TheModernLookIsReadInAnyCaseAndSavedOnlyWhenOn) {
    for (const auto& [value, modern] : std::vector<std::pair<std::string, bool>>{
             {"modern", true}, {"Modern", true}, {"classic", false}, {"fancy", false}}) {
        WriteFile(ini_, "[Config]\nlook=" + value + "\n");
        EXPECT_EQ(ServerConfig::Load(dir_).modernLook, modern) << value;
    }
    WriteFile(ini_, "[Config]\nport=80\n");
    ServerConfig config = ServerConfig::Load(dir_);
    EXPECT_FALSE(config.modernLook);
    ASSERT_TRUE(config.Save());
    EXPECT_EQ(platform::GetProfileString(ini_, "Config", "look", "absent"), "absent");
    config.modernLook = true;
    ASSERT_TRUE(config.Save());
    EXPECT_EQ(platform::GetProfileString(ini_, "Config", "look", "absent"), "modern");
    config.modernLook = false;
    ASSERT_TRUE(config.Save());
    EXPECT_EQ(platform::GetProfileString(ini_, "Config", "look", "absent"), "absent");
}

TEST(WebDavSettingTest, ModeLettersAndUrlPrefixesAreReadStrictly) {
    const std::pair<std::string_view, WebDavMode> modes[] = {
        {"", WebDavMode::kOff},       {"N", WebDavMode::kOff},       {"r", WebDavMode::kReadOnly},
        {"R", WebDavMode::kReadOnly}, {"w", WebDavMode::kReadWrite}, {"x", WebDavMode::kOff},
        {"RW", WebDavMode::kOff},     {"Read", WebDavMode::kOff},    {" W", WebDavMode::kOff},
    };
    for (const auto& [value, mode] : modes) {
        EXPECT_EQ(ParseWebDavMode(value), mode) << value;
        EXPECT_EQ(ParseWebDavMode(WebDavModeLetter(mode)), mode) << value;
    }
    struct Path {
        std::string_view value;
        std::string_view normalized;
        bool usable;
    };
    const Path paths[] = {
        {"", "/", true},
        {"/", "/", true},
        {"//", "/", true},
        {"dav", "/dav/", true},
        {"/dav//x/", "/dav/x/", true},
        {"/Shared Files", "/Shared Files/", true},
        {"/.../", "/.../", true},
        // What could climb out of the prefix, or end the path, is refused whole.
        {"/a/../b", "/", false},
        {"/a/./b", "/", false},
        {"..", "/", false},
        {"/a?b", "/", false},
        {"/a#b", "/", false},
        {"/a\\b", "/", false},
        {"/a\tb", "/", false},
        {"/a\x7f", "/", false},
        {std::string_view("/a\0b", 4), "/", false},
    };
    for (const auto& [value, normalized, usable] : paths) {
        EXPECT_EQ(NormalizeWebDavPath(value), normalized) << value;
        EXPECT_EQ(IsWebDavPath(value), usable) << value;
    }
}

// Each server keeps its own drive; one switched off leaves no key of it in its section.
TEST_F(ServerConfigTest, TheNetworkDriveIsKeptPerServerAndRemovedWhenOff) {
    WriteFile(ini_,
              "[Config]\nwebdav=w\nwebdavPath=dav\n"
              "[Server-2-Config]\nwebdav=R\nwebdavPath=/a/../b\n"
              "[Server-2]\nsecondPortEnabled=N\n");
    ServerConfig config = ServerConfig::Load(dir_);
    EXPECT_EQ(config.servers[0].webdav, WebDavMode::kReadWrite);
    EXPECT_EQ(config.servers[0].webdavPath, "/dav/");
    EXPECT_EQ(config.servers[1].webdav, WebDavMode::kReadOnly);
    EXPECT_EQ(config.servers[1].webdavPath, "/");

    struct Step {
        WebDavMode server1;
        WebDavMode server2;
        std::vector<std::vector<std::string>> saved;
    };
    const Step steps[] = {
        {WebDavMode::kReadWrite,
         WebDavMode::kReadOnly,
         {{"Config", "webdav", "W"},
          {"Config", "webdavPath", "/dav/"},
          {"Server-2-Config", "webdav", "R"},
          {"Server-2-Config", "webdavPath", "/"}}},
        {WebDavMode::kOff,
         WebDavMode::kReadOnly,
         {{"Config", "webdav", "absent"},
          {"Config", "webdavPath", "absent"},
          {"Server-2-Config", "webdav", "R"},
          {"Server-2-Config", "webdavPath", "/"}}},
        {WebDavMode::kOff,
         WebDavMode::kOff,
         {{"Server-2-Config", "webdav", "absent"}, {"Server-2-Config", "webdavPath", "absent"}}},
    };
    for (const Step& step : steps) {
        config.servers[0].webdav = step.server1;
        config.servers[1].webdav = step.server2;
        ASSERT_TRUE(config.Save());
        for (const auto& row : step.saved) {
            EXPECT_EQ(platform::GetProfileString(ini_, row[0], row[1], "absent"), row[2])
                << row[0] << " " << row[1];
        }
        const ServerConfig loaded = ServerConfig::Load(dir_);
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(loaded.servers[i].webdav, config.servers[i].webdav) << i;
            if (loaded.servers[i].webdav != WebDavMode::kOff) {
                EXPECT_EQ(loaded.servers[i].webdavPath, config.servers[i].webdavPath) << i;
            }
        }
    }
    // With both drives off, the file is the one a configuration without them saves.
    EXPECT_EQ(ReadFile(ini_).find("webdav"), std::string::npos) << ReadFile(ini_);
}

// The certificate settings survive a save and a load, and a server without names saves none.
TEST_F(ServerConfigTest, CertificateSettingsAreKeptOnlyForAServerWithNames) {
    WriteFile(ini_,
              "[Config]\nacmeDomains=Example.org, www.example.org bad_name\n"
              "acmeEmail=owner@example.org\nacmeAccept=Y\nacmeChallenge=tls-alpn-01\n"
              "[Server-2-Config]\nacmeEmail=orphan@example.org\n");
    ServerConfig config = ServerConfig::Load(dir_);
    const config::ServerSettings& one = config.servers[0];
    EXPECT_EQ(one.acmeDomains, (std::vector<std::string>{"example.org", "www.example.org"}));
    EXPECT_EQ(one.acmeDirectory, config::kDefaultAcmeDirectory);
    EXPECT_TRUE(one.acmeAccept);
    EXPECT_TRUE(one.ObtainsCertificate());
    EXPECT_FALSE(config.servers[1].ObtainsCertificate());
    EXPECT_EQ(config::TlsFilesOf(one, "/p/").chain, "/p/certificates/example.org/fullchain.pem");
    ASSERT_TRUE(config.Save());
    const ServerConfig loaded = ServerConfig::Load(dir_);
    EXPECT_EQ(loaded.servers[0].acmeDomains, one.acmeDomains);
    EXPECT_EQ(loaded.servers[0].acmeEmail, "owner@example.org");
    EXPECT_EQ(loaded.servers[0].acmeChallenge, "tls-alpn-01");
    EXPECT_TRUE(loaded.servers[0].acmeAccept);
    EXPECT_EQ(platform::GetProfileString(ini_, "Server-2-Config", "acmeDirectory", "absent"),
              "absent");
}

// Only the program directory's own Incoming folders are made, and for the owner only.
TEST_F(ServerConfigTest, OnlyTheIncomingFoldersAreMadeAndPrivately) {
    const std::string uploads = IncomingDirectory(dir_, kIncomingUploads);
    EXPECT_EQ(uploads, dir_ + "Incoming/Uploads");
    struct Case {
        std::string location;
        bool made;
    } cases[] = {
        {uploads + "/", true},
        {IncomingDirectory(dir_, kIncomingForms), true},
        {dir_ + "Incoming/Other", false},
        {dir_ + "www", false},
        {"", false},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_TRUE(MakeIncomingDirectory(dir_, c.location, &error)) << c.location << error;
        EXPECT_EQ(fs::is_directory(c.location), c.made) << c.location;
        if (c.made) {
            EXPECT_EQ(fs::status(c.location).permissions(), fs::perms::owner_all) << c.location;
        }
    }
    EXPECT_EQ(fs::status(dir_ + "Incoming").permissions(), fs::perms::owner_all);
    // A file in the way is reported.
    WriteFile(dir_ + "Incoming/Messages", "");
    std::string error;
    EXPECT_FALSE(MakeIncomingDirectory(dir_, IncomingDirectory(dir_, kIncomingMessages), &error));
    EXPECT_NE(error.find("Incoming/Messages"), std::string::npos) << error;
}

TEST_F(ServerConfigTest, FailedSaveNamesTheCallAndTheError) {
    ServerConfig config = ServerConfig::Load(dir_ + "missing/");
    std::string error;
    EXPECT_FALSE(config.Save(&error));
    EXPECT_EQ(error, "open " + dir_ + "missing: No such file or directory");
}

TEST_F(ServerConfigTest, SaveCreatesTheFileWithTheDocumentedKeyOrder) {
    ServerConfig config = ServerConfig::Load(dir_);
    ASSERT_TRUE(config.iniMissing);
    config.servers[0].port = 8080;
    config.servers[1].port = -1;
    config.adminid = "boss";
    EXPECT_TRUE(config.Save());

    auto words = [](std::string text) {
        std::vector<std::string> out;
        for (std::istringstream in(text); in >> text;) out.push_back(text);
        return out;
    };
    const std::string applications =
        " searchEnabled homeEnabled homePageLocation favoritesEnabled favoritesLocation"
        " userListEnabled universalNavBarEnabled uploadEnabled uploadMaxSizeKB uploadSaveLocation"
        " messageUploadEnabled messageMaxSizeKB messageIsXML messageSaveLocation postEnabled"
        " postMaxSizeKB postSaveLocation redirectorEnabled ftpSiteName ftpUserID ftpPassword"
        " ftpPath ftpUploadFileName useJavaScriptRedirector";
    const std::vector<std::string> first = words(
        "servername wwwroot adminid adminpw default logs list cgi port defaultPageProperties" +
        applications);
    const std::vector<std::string> second =
        words("servername wwwroot default logs list cgi port defaultPageProperties" + applications);
    EXPECT_EQ(platform::ListProfileKeys(ini_, "Config"), first);
    EXPECT_EQ(platform::ListProfileKeys(ini_, "Server-2-Config"), second);
    EXPECT_EQ(platform::ListProfileKeys(ini_, "Server-2"),
              std::vector<std::string>{"secondPortEnabled"});

    ServerConfig reloaded = ServerConfig::Load(dir_);
    EXPECT_EQ(reloaded.servers[0].port, 8080);
    EXPECT_EQ(reloaded.servers[1].port, -1);
    EXPECT_EQ(reloaded.adminid, "boss");
}

TEST(SharedConfigTest, ConcurrentUpdatesAllTakeEffectAndReadersSeeWholeRecords) {
    SharedConfig shared{ServerConfig{}};
    constexpr int kWriters = 4, kChanges = 500;
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&shared, w] {
            for (int i = 0; i < kChanges; ++i) {
                shared.Update([w](ServerConfig& config) {
                    ++config.servers[w % 2].port;
                    config.servers[w % 2].servername = std::to_string(config.servers[w % 2].port);
                });
            }
        });
    }
    for (int i = 0; i < kChanges; ++i) {
        auto snapshot = shared.Snapshot();
        for (const ServerSettings& settings : snapshot->servers) {
            ASSERT_EQ(settings.servername, settings.port == 0 ? "" : std::to_string(settings.port));
        }
    }
    for (std::thread& writer : writers) writer.join();
    EXPECT_EQ(shared.Snapshot()->servers[0].port, kWriters / 2 * kChanges);
    EXPECT_EQ(shared.Snapshot()->servers[1].port, kWriters / 2 * kChanges);
}

}  // namespace
}  // namespace config
