// The site search of the real program: the rows it finds under the root and how they read,
// where the word comes from, hidden entries, link cycles and very deep trees, the form page
// and its switch, and roots that may not be searched.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <set>
#include <utility>

#include "tests/e2e/vantry_instance.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr std::string_view kOk = "HTTP/1.0 200 OK\r\n";
constexpr time_t kModified = 1000000000;
constexpr std::string_view kModifiedText = "Sun. 9 Sep 2001 01:46:40 GMT";
constexpr std::string_view kHeaderRow = "<TR bgColor=#66ccff height='30' align='left' >\r\n";
constexpr std::string_view kOddRow = "<TR bgColor=#cbfad2 >\r\n";
constexpr std::string_view kEvenRow = "<TR bgColor=#caeaff >\r\n";
constexpr std::string_view kTableHead =
    "<TH>Type</TH><TH>File Name</TH><TH>Size</TH><TH>Last Modified</TH></TR>\r\n";

void WriteDated(const std::string& path, size_t size) {
    WriteFile(path, std::string(size, 'x'));
    const timespec times[2] = {{kModified, 0}, {kModified, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

// The body of a 200 page; a marker that fails every comparison for anything else.
std::string PageBody(const std::string& response) {
    if (response.compare(0, kOk.size(), kOk) != 0 ||
        response.find("\r\nContent-Type: text/html\r\n") > response.find("\r\n\r\n")) {
        return "<not a page: " + response.substr(0, 40) + ">";
    }
    return BodyOf(response);
}

// The links of the rows, in the order they stand.
std::vector<std::string> Links(const std::string& rows) {
    const std::string opening = "<A HREF=\"";
    std::vector<std::string> links;
    for (size_t at = rows.find(opening); at != std::string::npos; at = rows.find(opening, at)) {
        at += opening.size();
        links.push_back(rows.substr(at, rows.find('"', at) - at));
    }
    return links;
}

class SearchTest : public ::testing::Test {
  protected:
    SearchTest()
        : vantry(
              "[Config]\nport={port1}\nwwwroot={dir}/www/\n"
              "[Server-2-Config]\nport={port2}\nwwwroot={dir}/www\nsearchEnabled=N\n"
              "[Server-2]\nsecondPortEnabled=Y\n") {}
    void SetUp() override { vantry.Start(); }
    std::string Ask(const std::string& target, int port = 0) {
        return Exchange(vantry.address(), port == 0 ? vantry.port1() : port,
                        "GET " + target + " HTTP/1.0\r\n\r\n");
    }
    std::string Rows(const std::string& word) {
        return PageBody(Ask("/VNT/HandleSearchResults.html?searchTarget=" + word));
    }
    std::string Www() const { return vantry.dir() + "/www"; }
    std::string Base(int port = 0) const {
        return "http://" + vantry.address() + ":" +
               std::to_string(port == 0 ? vantry.port1() : port);
    }
    std::string FileCells(const std::string& link, const std::string& shown,
                          const std::string& size) const {
        return "<TD><IMG BORDER=\"0\" SRC=\"" + Base() + "/VNT/file.gif\"></TD><TD><A HREF=\"" +
               link + "\"> " + shown + "</TD><TD>" + size + "</TD><TD>" +
               std::string(kModifiedText) + "</TD></TR>\r\n";
    }
    std::string FolderCells(const std::string& link, const std::string& shown) const {
        return "<TD><IMG BORDER=\"0\" SRC=\"" + Base() + "/VNT/folder.gif\"></TD><TD><A HREF=\"" +
               link + "\"> " + shown + "</TD><TD>-</TD><TD>-</TD></TR>\r\n";
    }
    VantryInstance vantry;
};

TEST_F(SearchTest, ResultsPageListsEveryMatchBelowTheRoot) {
    fs::create_directories(Www() + "/docs");
    fs::create_directories(Www() + "/Threads");
    fs::create_directories(Www() + "/.private");
    WriteDated(Www() + "/readme.txt", 1023);
    WriteDated(Www() + "/docs/README.HTM", 2048);
    WriteDated(Www() + "/Threads/old read.txt", 5);
    WriteDated(Www() + "/<b>read&.txt", 0);
    WriteDated(Www() + "/other.txt", 1);
    WriteDated(Www() + "/.readme", 1);
    WriteDated(Www() + "/.private/readme.txt", 1);

    const std::string page = PageBody(Ask("/VNT/HandleSearch.html?searchTarget=read"));
    const std::string opening =
        "<HTML><HEAD><TITLE>\r\nSearch Results\r\n</TITLE>\r\n"
        "<SCRIPT>window.resizeTo(600, screen.availHeight);</SCRIPT>\r\n</HEAD>\r\n"
        "<BODY bgColor=#ffffff >\r\n<H2>Search Results</H2>\r\n"
        "<TABLE BORDER=0 CELLSPACING='1' CELLPADDING='2' >\r\n" +
        std::string(kHeaderRow) + std::string(kTableHead);
    ASSERT_EQ(page.substr(0, opening.size()), opening);
    const std::string closing =
        std::string(kHeaderRow) +
        "<TD COLSPAN=4 height='30'>\r\n"
        "<div align='right'><font size='2' face='Verdana,Arial,Helvetica' color='White'> "
        "<A href=\"http://help.vantry.example/us/help/vnt/HandleSearch.shtml\" "
        "target='_new'>Help</A> &nbsp</b></font></div>\r\n</TD> </TABLE>\r\n<P><table border='0'>";
    const size_t end = page.find(closing);
    ASSERT_NE(end, std::string::npos) << page;
    EXPECT_EQ(page.substr(page.size() - 16), "</BODY></HTML>\r\n");

    // Rows alternate from the odd colour; the walk's order is the system's.
    std::string rows = page.substr(opening.size(), end - opening.size());
    std::multiset<std::string> cells;
    for (size_t at = 0, row = 0; at < rows.size(); ++row) {
        std::string_view tag = row % 2 == 0 ? kOddRow : kEvenRow;
        ASSERT_EQ(rows.substr(at, tag.size()), tag) << rows;
        at += tag.size();
        size_t next = rows.find("\r\n", at) + 2;
        cells.insert(rows.substr(at, next - at));
        at = next;
    }
    const std::multiset<std::string> expected = {
        FileCells("/readme.txt", "readme.txt", "0   kb"),
        FileCells("/docs/README.HTM", "README.HTM", "2   kb"),
        FolderCells("/Threads", "Threads"),
        FileCells("/Threads/old%20read.txt", "old read.txt", "0   kb"),
        FileCells("/<b>read%26.txt", "&lt;b&gt;read&amp;.txt", "0   kb"),
    };
    EXPECT_EQ(cells, expected);

    // The rows alone are the same rows.
    EXPECT_EQ(Rows("read"), rows);
}

TEST_F(SearchTest, WordIsTheQueryValueDecodedOnceMoreAndMatchedWithoutCase) {
    fs::create_directories(Www() + "/Threads");
    WriteDated(Www() + "/Threads/old read.txt", 5);
    WriteDated(Www() + "/100%.txt", 5);
    WriteDated(Www() + "/readme.txt", 5);
    struct Case {
        std::string query;
        std::vector<std::string> links;
    } cases[] = {
        {"/VNT/HandleSearchResults.html", {}},
        {"/VNT/HandleSearchResults.html?searchTarget=", {}},
        {"/VNT/HandleSearchResults.html?other=readme", {}},
        {"/VNT/HandleSearchResults.html?searchTarget=nothing", {}},
        {"/VNT/HandleSearchResults.html?x&&SEARCHtarget=ReadMe&searchTarget=old", {"/readme.txt"}},
        {"/vnt/handlesearchresults.html?searchTarget=old+read", {"/Threads/old%20read.txt"}},
        {"/VNT/HandleSearchResults.html?searchTarget=old%2520read", {"/Threads/old%20read.txt"}},
        {"/VNT/HandleSearchResults.html?searchTarget=100%2525", {"/100%25.txt"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Links(PageBody(Ask(c.query))), c.links) << c.query;
    }
}

TEST_F(SearchTest, EachDirectoryIsSearchedOnceWhateverLinksLeadToIt) {
    fs::create_directories(Www() + "/loop/inner");
    WriteDated(Www() + "/loop/inner/cycle-target.txt", 1);
    fs::create_directory_symlink(Www(), Www() + "/loop/inner/to-root");
    fs::create_directory_symlink(Www() + "/loop", Www() + "/loop/inner/to-parent");
    fs::create_directory_symlink(Www() + "/loop/inner", Www() + "/also-inner");
    std::vector<std::string> links = Links(Rows("cycle"));
    ASSERT_EQ(links.size(), 1u);
    EXPECT_TRUE(links[0] == "/loop/inner/cycle-target.txt" ||
                links[0] == "/also-inner/cycle-target.txt")
        << links[0];
}

TEST_F(SearchTest, DeepTreesAreSearchedToAFixedDepth) {
    // leaf-N.txt lies N directories below the root.
    std::string dir = Www();
    std::set<std::string> expected;
    for (int level = 1; level <= 40; ++level) {
        dir += "/d";
        fs::create_directory(dir);
        WriteDated(dir + "/leaf-" + std::to_string(level) + ".txt", 1);
        if (level <= 32) expected.insert("leaf-" + std::to_string(level) + ".txt");
    }
    std::set<std::string> found;
    for (const std::string& link : Links(Rows("leaf")))
        found.insert(link.substr(link.rfind('/') + 1));
    EXPECT_EQ(found, expected);
}

TEST_F(SearchTest, FormPageShowsTheFormOrThatSearchIsOff) {
    WriteDated(Www() + "/readme.txt", 1);
    const std::string form =
        "<HTML><HEAD><TITLE>\r\nSearch\r\n</TITLE>\r\n<SCRIPT>window.resizeTo(600, "
        "470);</SCRIPT>\r\n"
        "</HEAD>\r\n<BODY bgColor=#ffffff >\r\n"
        "<FORM method=\"GET\" action=\"HandleSearch.html\">\r\n"
        "<TABLE width=555 border=0 CELLSPACING='2' CELLPADDING='10'>\r\n" +
        std::string(kHeaderRow) +
        "<td COLSPAN=3 height='60'><font  face='Garamond' "
        "size='6'>\r\nSearch\r\n</font></td></tr>\r\n" +
        std::string(kOddRow) +
        "<td width=\"100\"><font  face='Garamond' size='3'>Search Word</font></td>\r\n"
        "<td width=\"195\" valign=\"top\"><input type=\"text\" name=\"searchTarget\" "
        "size=\"40\"></td>\r\n"
        "<td><input type=\"submit\" value=\"Submit\" name=\"B1\"></td>\r\n</tr>\r\n" +
        std::string(kHeaderRow) +
        "<TD COLSPAN=3 height='60'>\r\n"
        "<div align='right'><font size='2' face='Verdana,Arial,Helvetica' color='White'> "
        "<A href=\"http://help.vantry.example/us/help/vnt/Search.shtml\" target='_new'>Help</A> "
        "&nbsp</b></font></div>\r\n</TD> </TABLE>\r\n</FORM>\r\n<P><table border='0'>";
    EXPECT_EQ(PageBody(Ask("/VNT/search.html")).substr(0, form.size()), form);

    // Server 2 has the search switched off: its form page says so, its results page still
    // searches (its root names no closing "/").
    std::string page = PageBody(Ask("/VNT/Search.html", vantry.port2()));
    const std::string off =
        "<BODY  bgColor=#ffffff >\r\n"
        "<H2>Searches Are Currently Disabled By The Administrator<H2>\r\n";
    EXPECT_NE(page.find(off), std::string::npos) << page;
    EXPECT_EQ(page.find("<FORM"), std::string::npos);
    EXPECT_EQ(Links(PageBody(Ask("/VNT/HandleSearch.html?searchTarget=readme", vantry.port2()))),
              std::vector<std::string>{"/readme.txt"});
}

TEST_F(SearchTest, NamesWithAColonStayLinksIntoTheSite) {
    fs::create_directories(Www() + "/http:colon");
    WriteDated(Www() + "/javascript:colon(1)", 1);
    WriteDated(Www() + "/http:colon/data:colon.txt", 1);
    std::vector<std::string> links = Links(Rows("colon"));
    std::sort(links.begin(), links.end());
    EXPECT_EQ(links, (std::vector<std::string>{"/http:colon", "/http:colon/data:colon.txt",
                                               "/javascript:colon(1)"}));
}

// The head and body of a response.
std::pair<std::string, std::string> Split(const std::string& response) {
    const size_t end = response.find("\r\n\r\n");
    if (end == std::string::npos) return {response, ""};
    return {response.substr(0, end + 2), response.substr(end + 4)};
}

TEST(SearchLimitTest, TheListStopsAtTheLimitAndSaysSo) {
    // Server 1 lists 3 rows at most, Server 2 the default 1000.
    VantryInstance vantry(
        "[Config]\nport={port1}\nwwwroot={dir}/www\nsearchMaxResults=3\n"
        "[Server-2-Config]\nport={port2}\nwwwroot={dir}/www\n"
        "[Server-2]\nsecondPortEnabled=Y\n");
    for (int i = 0; i < 3; ++i) WriteDated(vantry.dir() + "/www/three-" + std::to_string(i), 1);
    for (int i = 0; i < 1001; ++i) WriteDated(vantry.dir() + "/www/many-" + std::to_string(i), 1);
    vantry.Start();
    const std::string cut = "<TD COLSPAN=4>The list was cut at ";
    const struct {
        int port;
        std::string page;
        std::string word;
        size_t rows;
        std::string cutAt;  // empty: the list is whole
        bool withLength;    // a page larger than 64 KB leaves as it is built, without a length
    } cases[] = {
        {vantry.port1(), "HandleSearch", "three", 3, "", true},
        {vantry.port1(), "HandleSearch", "many", 3, "3", true},
        {vantry.port1(), "HandleSearchResults", "many", 3, "3", true},
        {vantry.port2(), "HandleSearch", "three", 3, "", true},
        {vantry.port2(), "HandleSearch", "many", 1000, "1000", false},
        {vantry.port2(), "HandleSearchResults", "many", 1000, "1000", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.page + " " + c.word + " on " + std::to_string(c.port));
        const auto [head, body] = Split(
            Exchange(vantry.address(), c.port,
                     "GET /VNT/" + c.page + ".html?searchTarget=" + c.word + " HTTP/1.0\r\n\r\n"));
        EXPECT_TRUE(head.starts_with(
            "HTTP/1.0 200 OK\r\nServer: Vantry/1.0\r\nAccept-Ranges: bytes\r\nDate: "))
            << head;
        EXPECT_NE(head.find("\r\nContent-Type: text/html\r\nX-Content-Type-Options: "
                            "nosniff\r\nLast-Modified: "),
                  std::string::npos);
        const size_t length = head.find("\r\nContent-Length: ");
        if (c.withLength) {
            EXPECT_EQ(head.substr(length + 18), std::to_string(body.size()) + "\r\n");
        } else {
            EXPECT_EQ(length, std::string::npos) << head;
        }
        EXPECT_EQ(Links(body).size(), c.rows);
        if (c.cutAt.empty()) {
            EXPECT_EQ(body.find(cut), std::string::npos);
        } else {
            EXPECT_NE(
                body.find(std::string(kHeaderRow) + cut + c.cutAt + " results.</TD></TR>\r\n"),
                std::string::npos);
        }
        if (c.page == "HandleSearch") {
            EXPECT_TRUE(body.ends_with("</BODY></HTML>\r\n"));
        }
    }
}

TEST(SearchLimitTest, AThirdSearchAtOnceIsTurnedAway) {
    VantryInstance vantry("[Config]\nport={port1}\nwwwroot={dir}/www\nsearchMaxResults=5000\n");
    // 1500 rows of about 9 KB each, far more than the sockets hold: a search whose client
    // reads nothing stays busy.
    std::string dir = vantry.dir() + "/www";
    for (int level = 0; level < 12; ++level) dir += "/" + std::string(240, '%');
    fs::create_directories(dir);
    for (int i = 0; i < 1500; ++i) WriteFile(dir + "/hit-" + std::to_string(i), "");
    vantry.Start();
    const std::string search =
        "GET /VNT/HandleSearchResults.html?searchTarget=hit HTTP/1.0\r\n\r\n";
    {
        std::vector<std::unique_ptr<Client>> readers;
        for (int i = 0; i < 2; ++i) {
            readers.push_back(
                std::make_unique<Client>(vantry.address(), vantry.port1(), "", 0, 4096));
            readers.back()->Send(search);
        }
        for (auto& reader : readers) ASSERT_TRUE(reader->WaitUntilServerWaitsForUs(10s));
        const std::string busy = Exchange(vantry.address(), vantry.port1(), search);
        EXPECT_TRUE(busy.starts_with("HTTP/1.0 503 Service Unavailable\r\n")) << busy.substr(0, 80);
        EXPECT_NE(Split(busy).first.find("\r\nRetry-After: "), std::string::npos);
    }
    // The readers are gone: their searches end and free their places.
    EXPECT_TRUE(WaitUntil(10s, [&] {
        return Exchange(vantry.address(), vantry.port1(),
                        "GET /VNT/HandleSearchResults.html?searchTarget=none HTTP/1.0\r\n\r\n")
            .starts_with("HTTP/1.0 200 OK\r\n");
    }));
}

TEST(SearchRootTest, RootThatIsNotAnAbsolutePathIsNotSearched) {
    // "www/" would resolve against the working directory, which holds that very tree.
    VantryInstance vantry("[Config]\nport={port1}\nwwwroot=www/\n");
    WriteFile(vantry.dir() + "/www/readme.txt", "x");
    vantry.Start();
    EXPECT_EQ(
        PageBody(Exchange(vantry.address(), vantry.port1(),
                          "GET /VNT/HandleSearchResults.html?searchTarget=read HTTP/1.0\r\n\r\n")),
        "");
}

}  // namespace
}  // namespace e2e
