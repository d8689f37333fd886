// Directory listings of the real program: the page's bytes, which entries show and how, the
// download page, the per-server switch, large directories and the access log.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <thread>

#include "tests/e2e/vantry_instance.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr std::string_view kHead =
    "HTTP/1.0 200 OK\r\nServer: Vantry/1.0\r\nAccept-Ranges: bytes\r\n"
    "Content-Type: text/html\r\nX-Content-Type-Options: nosniff\r\n\r\n";
// Every entry of the listed directory carries this time, so its date text is known.
constexpr time_t kModified = 1000000000;
constexpr std::string_view kModifiedText = "Sun. 9 Sep 2001 01:46:40 GMT";
constexpr std::string_view kOddRow = "<TR bgColor=#cbfad2 >";
constexpr std::string_view kEvenRow = "<TR bgColor=#caeaff >";

void SetModified(const std::string& path) {
    const timespec times[2] = {{kModified, 0}, {kModified, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

// The page's rows between the table's head and its help row, each without its CR LF.
std::vector<std::string> Rows(const std::string& page) {
    return testing_support::LinesBetween(
        page, "<TH>Last Modified</TH></TR>\r\n",
        "<TR bgColor=#66ccff height='30' align='left' >\r\n<TD COLSPAN=4");
}

// The entries of the rows (the cells after each row tag), checking that the tags alternate
// between the odd and the even properties from the first row on.
std::multiset<std::string> Entries(const std::vector<std::string>& rows) {
    std::multiset<std::string> entries;
    for (size_t i = 0; i + 1 < rows.size(); i += 2) {
        EXPECT_EQ(rows[i], (i / 2) % 2 == 0 ? kOddRow : kEvenRow) << "row " << i / 2 + 1;
        entries.insert(rows[i + 1]);
    }
    EXPECT_EQ(rows.size() % 2, 0u);
    return entries;
}

class DirectoryListingTest : public ::testing::Test {
  protected:
    DirectoryListingTest()
        : vantry(
              "[Config]\nport={port1}\nwwwroot={dir}/www/\nlogs=Y\n"
              "[Server-2-Config]\nport={port2}\nwwwroot={dir}/www/\nlist=N\n"
              "[Server-2]\nsecondPortEnabled=Y\n") {}
    void SetUp() override { vantry.Start(); }
    std::string Ask(const std::string& target, int port = 0) {
        return Exchange(vantry.address(), port == 0 ? vantry.port1() : port,
                        "GET " + target + " HTTP/1.0\r\n\r\n");
    }
    std::string Www() const { return vantry.dir() + "/www"; }
    std::string Base() const {
        return "http://" + vantry.address() + ":" + std::to_string(vantry.port1());
    }
    // One entry's cells as the listing shows them.
    std::string Entry(bool directory, const std::string& link, const std::string& shown,
                      const std::string& size) const {
        return "<TD><img src=\"" + Base() +
               (directory ? "/VNT/folder.gif\">" : "/VNT/file.gif\">") + "</TD><TD><A HREF=\"" +
               link + "\">" + shown + "</A></TD><TD>" + size + "</TD><TD>" +
               std::string(kModifiedText) + "</TD></TR>";
    }
    VantryInstance vantry;
};

TEST_F(DirectoryListingTest, ListsEachVisibleEntryWithItsIconLinkSizeAndDate) {
    const std::string dir = Www() + "/files";
    fs::create_directories(dir + "/sub");
    fs::create_directories(dir + "/.secret-dir");
    WriteFile(dir + "/.secret", "hidden");
    WriteFile(dir + "/small.txt", std::string(1023, 's'));
    WriteFile(dir + "/two.bin", std::string(2048, 't'));
    WriteFile(dir + "/a b&c.txt", "x");
    WriteFile(dir + "/x#y.txt", "x");
    WriteFile(dir + "/<img src=x onerror=alert(1)>.txt", "x");
    WriteFile(dir + "/javascript:alert(1)", "x");
    fs::create_directories(dir + "/data:text");
    // Sizes past 4 GiB are shown whole (a sparse file takes no room).
    WriteFile(dir + "/huge.iso", "");
    fs::resize_file(dir + "/huge.iso", (5ull << 30) + 3072);
    for (const auto& item : fs::directory_iterator(dir)) SetModified(item.path());
    SetModified(dir);
    SetModified(Www());

    std::string page = Ask("/files/");
    const std::string path = dir + "/";
    const std::string opening =
        std::string(kHead) + "<HTML><HEAD><TITLE> File Download\r\n" + path +
        " </TITLE><SCRIPT>window.resizeTo(600, screen.availHeight);</SCRIPT></HEAD>\r\n"
        "<BODY bgColor=#ffffff >\r\n<H2>Download</H2>\r\n<H4>Directory Listing Of " +
        path +
        "</H4>\r\n<TABLE BORDER=0 CELLSPACING='1' CELLPADDING='2' >\r\n"
        "<TR bgColor=#66ccff height='30' align='left' >\r\n"
        "<TH>Type</TH><TH>File Name</TH><TH>Size</TH><TH>Last Modified</TH></TR>\r\n";
    EXPECT_EQ(page.substr(0, opening.size()), opening);

    const std::multiset<std::string> expected = {
        Entry(true, "../", "Parent Directory", "-"),
        Entry(true, "sub/", "sub", "-"),
        Entry(false, "small.txt", "small.txt", "0K"),
        Entry(false, "two.bin", "two.bin", "2K"),
        Entry(false, "a%20b%26c.txt", "a b&amp;c.txt", "0K"),
        Entry(false, "x#y.txt", "x#y.txt", "0K"),
        Entry(false, "<img%20src=x%20onerror=alert(1)>.txt",
              "&lt;img src=x onerror=alert(1)&gt;.txt", "0K"),
        Entry(false, "huge.iso", "huge.iso", "5242883K"),
        // A name that would read as a scheme is a relative link.
        Entry(false, "./javascript:alert(1)", "javascript:alert(1)", "0K"),
        Entry(true, "./data:text/", "data:text", "-"),
    };
    EXPECT_EQ(Entries(Rows(page)), expected);

    // The help row closes the table; the navigation bar (its buttons are the page
    // template's) and the end of the page follow.
    const std::string closing =
        "<TR bgColor=#66ccff height='30' align='left' >\r\n<TD COLSPAN=4 height='30'>\r\n"
        "<div align='right'><font size='2' face='Verdana,Arial,Helvetica' color='White'> "
        "<A href=\"http://help.vantry.example/us/help/vnt/FileList.shtml\" target='_new'>Help</A>"
        " &nbsp</b></font></div>\r\n</TD> </TABLE>\r\n<P><table border='0'>\n<tr>\n<TD><A HREF='" +
        Base() + "' target='_parent'>";
    EXPECT_NE(page.find(closing), std::string::npos) << page;
    EXPECT_TRUE(page.ends_with("</A></TD>\n</tr>\n</table></P>\n\r\n</BODY></HTML>\r\n")) << page;

    // The listing is a success in the access log; the log line follows the response.
    std::string log;
    for (int i = 0; i < 100 && log.find("\"/files/\" 200 ") == std::string::npos; ++i) {
        std::this_thread::sleep_for(20ms);
        log = ReadFile(vantry.dir() + "/access.log");
    }
    EXPECT_NE(log.find("\"/files/\" 200 "), std::string::npos) << log;
}

TEST_F(DirectoryListingTest, PathsShownInThePageAreEscaped) {
    // A directory that does not exist is listed without entries, and what the visitor asked
    // for never stands in the page as markup.
    std::string page = Ask("/<script>alert(1)</script>/");
    EXPECT_EQ(page.substr(0, kHead.size()), kHead);
    const std::string shown = Www() + "/&lt;script&gt;alert(1)&lt;/script&gt;/";
    EXPECT_NE(page.find("<TITLE> File Download\r\n" + shown + " </TITLE>"), std::string::npos);
    EXPECT_NE(page.find("<H4>Directory Listing Of " + shown + "</H4>"), std::string::npos);
    EXPECT_EQ(page.find("<script>"), std::string::npos);
    EXPECT_TRUE(Rows(page).empty());
}

TEST_F(DirectoryListingTest, DownloadPageListsTheRootWhereTheServerListsDirectories) {
    fs::create_directories(Www() + "/empty");
    // Server 1 lists; Server 2, on the same root, refuses.
    for (const std::string target : {"/VNTFileDownload.html", "/vntfiledownload.html?x", "/"}) {
        std::string page = Ask(target);
        EXPECT_NE(page.find("<H4>Directory Listing Of " + Www() + "/</H4>"), std::string::npos)
            << target;
        EXPECT_NE(page.find("<A HREF=\"empty/\">empty</A>"), std::string::npos) << target;
        EXPECT_EQ(Ask(target, vantry.port2()), ErrorPage("403 Forbidden")) << target;
    }
    EXPECT_EQ(Entries(Rows(Ask("/empty/"))).size(), 1u) << "only the way up";
    EXPECT_EQ(Ask("/empty/", vantry.port2()), ErrorPage("403 Forbidden"));
}

TEST_F(DirectoryListingTest, ThousandsOfEntriesAreListedCompletely) {
    constexpr int kFiles = 2000;
    const std::string dir = Www() + "/many";
    fs::create_directories(dir);
    std::set<std::string> names;
    for (int i = 0; i < kFiles; ++i) {
        std::string name = "entry-" + std::to_string(i) + ".dat";
        WriteFile(dir + "/" + name, std::string(i % 3 * 1024, 'd'));
        names.insert(name);
    }
    std::string page = Ask("/many/");
    ASSERT_EQ(page.substr(page.size() - 16), "</BODY></HTML>\r\n");
    std::set<std::string> listed;
    for (const std::string& entry : Entries(Rows(page))) {
        size_t start = entry.find("<A HREF=\"") + 9;
        listed.insert(entry.substr(start, entry.find('"', start) - start));
    }
    names.insert("../");
    EXPECT_EQ(listed, names);
}

}  // namespace
}  // namespace e2e
