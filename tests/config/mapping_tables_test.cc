// The MIME, Script and VirtualDirectories tables in the configuration file.
#include "config/mapping_tables.h"

#include <gtest/gtest.h>

#include <fstream>

#include "config/server_config.h"
#include "platform/file_io.h"
#include "platform/ini_file.h"
#include "tests/support/temp_dir.h"

namespace config {
namespace {

class MappingTablesTest : public ::testing::Test {
  protected:
    void WriteIni(const std::string& text) { std::ofstream(ini_, std::ios::trunc) << text; }

    testing_support::TempDir temp_{"vantry-tables"};
    const std::string dir_ = temp_.path() + "/";
    const std::string ini_ = dir_ + "Vantry.ini";
};

const std::vector<std::string> kBuiltInMimeKeys = {"gif", "jpeg", "jpg", "html", "htm",
                                                   "pps", "pot",  "ppt", "doc"};

TEST_F(MappingTablesTest, LoadWritesTheBuiltInTablesIntoAFileWithoutThem) {
    WriteIni("[Config]\nport=80\n");
    ServerConfig::Load(dir_);
    EXPECT_EQ(ListMime(dir_), kBuiltInMimeKeys);
    EXPECT_EQ(GetMime(dir_, "doc"), "application/msword");
    EXPECT_EQ(GetMime(dir_, "JPG"), "image/jpeg");
    EXPECT_EQ(ListScript(dir_), (std::vector<std::string>{"pl", "cgi"}));
    EXPECT_EQ(GetScript(dir_, ".cgi"), "perl");
    EXPECT_TRUE(ListVirtualDirectory(dir_).empty());
}

TEST_F(MappingTablesTest, DeletingTheHtmlRowRestoresTheBuiltInRowsAtTheNextStart) {
    WriteIni("");
    ServerConfig::Load(dir_);
    EXPECT_TRUE(SetMime(dir_, "gif", "image/changed"));
    EXPECT_TRUE(SetMime(dir_, "svg", "image/svg+xml"));
    EXPECT_TRUE(DeleteMime(dir_, ".HTML"));
    EXPECT_EQ(GetMime(dir_, "html"), "application/octet-stream");
    ServerConfig::Load(dir_);
    EXPECT_EQ(GetMime(dir_, "gif"), "image/gif");
    EXPECT_EQ(GetMime(dir_, "svg"), "image/svg+xml");
    EXPECT_EQ(GetMime(dir_, "html"), "text/html");
}

TEST_F(MappingTablesTest, AnHtmlRowOfAnotherTypeKeepsTheOwnersTables) {
    const std::string own = "[Mime]\nhtml=text/plain\ngif=image/mine\n[Script]\npl=/usr/bin/perl\n";
    WriteIni(own);
    ServerConfig::Load(dir_);
    EXPECT_EQ(platform::ReadWholeFile(ini_), own);

    WriteIni("[Mime]\nhtml=dEfAuLt\ngif=image/mine\n[Script]\npl=Default\n");
    ServerConfig::Load(dir_);
    EXPECT_EQ(GetMime(dir_, "html"), "text/html");
    EXPECT_EQ(GetMime(dir_, "gif"), "image/gif");
    EXPECT_EQ(GetScript(dir_, "pl"), "perl");
}

TEST_F(MappingTablesTest, KeysLoseTheirDotAndMimeTypesAreStoredInSmallLetters) {
    EXPECT_TRUE(SetMime(dir_, ".TXT", "Text/Plain"));
    EXPECT_EQ(platform::ListProfileKeys(ini_, "Mime"), std::vector<std::string>{"txt"});
    EXPECT_EQ(GetMime(dir_, "TXT"), "text/plain");
    EXPECT_TRUE(SetVirtualDirectory(dir_, "Docs", "/Srv/Docs"));
    EXPECT_EQ(platform::ListProfileKeys(ini_, "VirtualDirectories"),
              std::vector<std::string>{"docs"});
    EXPECT_EQ(GetVirtualDirectory(dir_, "docs"), "/Srv/Docs") << "paths keep their letter case";
    EXPECT_TRUE(SetScript(dir_, ".PY", "/opt/Python/bin/python3"));
    EXPECT_EQ(GetScript(dir_, "py"), "/opt/Python/bin/python3");
    EXPECT_TRUE(DeleteScript(dir_, "Py"));
    EXPECT_TRUE(DeleteVirtualDirectory(dir_, "DOCS"));
    EXPECT_EQ(GetVirtualDirectory(dir_, "docs"), "");
    EXPECT_EQ(GetScript(dir_, "py"), "");
    EXPECT_EQ(GetMime(dir_, "unknown"), "application/octet-stream");
}

TEST_F(MappingTablesTest, SetCutsAt255AndGetAt79) {
    EXPECT_TRUE(SetMime(dir_, std::string(300, 'K'), std::string(300, 'V')));
    const std::string key(255, 'k');
    EXPECT_EQ(platform::GetProfileString(ini_, "Mime", key, ""), std::string(255, 'v'));
    EXPECT_EQ(GetMime(dir_, key), std::string(79, 'v'));
}

TEST_F(MappingTablesTest, ListingStopsWhereA4096CharacterBufferWouldBeFull) {
    // 102 keys of 39 characters fill 102 * 40 + 1 = 4081 characters; a key of 14 more
    // characters (15 with its NUL) fits exactly, anything after it does not.
    std::vector<platform::ProfileChange> rows;
    for (int i = 0; i < 102; ++i) {
        std::string key = std::to_string(1000 + i) + std::string(35, 'x');
        rows.push_back({"VirtualDirectories", key, "/d"});
    }
    rows.push_back({"VirtualDirectories", std::string(14, 'e'), "/d"});
    rows.push_back({"VirtualDirectories", "z", "/d"});
    platform::WriteProfileChanges(ini_, rows);
    std::vector<std::string> keys = ListVirtualDirectory(dir_);
    ASSERT_EQ(keys.size(), 103u);
    EXPECT_EQ(keys.back(), std::string(14, 'e'));
}

TEST_F(MappingTablesTest, ContentTypeLinesStayWithin79Characters) {
    const std::string fits(65, 'a');
    WriteIni("[Mime]\nhtml=text/html\nfits=" + fits + "\nlong=" + std::string(66, 'a') +
             "\ntab=text/\thtml\nempty=\n");
    EXPECT_EQ(ContentTypeFor(dir_, "html"), "Content-Type: text/html");
    EXPECT_EQ(ContentTypeFor(dir_, ".fits"), "Content-Type: " + fits);
    EXPECT_EQ(ContentTypeFor(dir_, "fits").size(), 79u);
    for (const char* refused : {"long", "tab", "empty", "missing"}) {
        EXPECT_EQ(ContentTypeFor(dir_, refused), "Content-Type: application/octet-stream")
            << refused;
    }
}

}  // namespace
}  // namespace config
