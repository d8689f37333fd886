// The site search: the search form, the results page and the result rows alone, found by
// walking the server's document root for names that contain the visitor's word (and, in the
// modern look, for small files whose text holds it).
#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <optional>
#include <semaphore>
#include <set>
#include <string>
#include <string_view>

#include "apps/application_pages.h"
#include "apps/stored_text.h"
#include "config/server_config.h"
#include "http/http_date.h"
#include "pages/icons.h"
#include "pages/page_template.h"
#include "platform/clock.h"
#include "platform/directory.h"
#include "platform/file_io.h"
#include "platform/text.h"
#include "platform/version.h"

namespace apps {
namespace {

constexpr std::string_view kFormPage = "Search";
constexpr std::string_view kResultsPage = "HandleSearch";
constexpr std::string_view kWordParameter = "searchTarget";
// The part of a name, and of the word, that the comparison looks at.
constexpr size_t kMaxComparedLength = 259;
// Directory levels below the root that are searched; deeper ones are left out, which bounds
// the walk's recursion and the paths it builds.
constexpr int kMaxSearchDepth = 32;
// Walks that run at once in the whole program: each reads directories as fast as the disk
// allows. Another search waits this long for one of them to end, then is turned away.
constexpr std::ptrdiff_t kMaxRunningSearches = 2;
constexpr auto kSearchWait = std::chrono::seconds(1);
constexpr std::string_view kBusyPage =
    "<HTML><BODY><H2>Too many searches are running; try again shortly.</H2></BODY></HTML>\r\n";
// A results page up to this size is sent whole with its length, as every page is; a larger
// one leaves while it is built, without a length (the close of the connection ends it), in
// pieces of about kStreamPieceSize.
constexpr size_t kWholePageLimit = 64 * 1024;
constexpr size_t kStreamPieceSize = 16 * 1024;

std::counting_semaphore<kMaxRunningSearches>& RunningSearches() {
    static std::counting_semaphore<kMaxRunningSearches> slots(kMaxRunningSearches);
    return slots;
}

// One of the running searches' places, held for the length of a walk.
class SearchSlot {
  public:
    SearchSlot() : held_(RunningSearches().try_acquire_for(kSearchWait)) {}
    ~SearchSlot() {
        if (held_) RunningSearches().release();
    }
    SearchSlot(const SearchSlot&) = delete;
    SearchSlot& operator=(const SearchSlot&) = delete;
    bool held() const { return held_; }

  private:
    bool held_;
};

// Sends the results page out of the connection's body as it grows (see kWholePageLimit).
class PageStream {
  public:
    explicit PageStream(http::Connection& c) : c_(c) {}
    // Sends what the body holds once there is enough of it; false when the client is gone.
    bool Flush() {
        if (!streaming_ && c_.page().length() > kWholePageLimit) {
            c_.SendText(c_.GeneratedPageHead(std::nullopt));
            c_.Answer(http::Response::Sent(200));
            streaming_ = true;
        }
        if (streaming_ && c_.page().length() >= kStreamPieceSize) SendBody();
        return !failed_;
    }
    // Sends the rest of a page that is being streamed; a small page is left to the usual send.
    void End() {
        if (streaming_) SendBody();
    }

  private:
    void SendBody() {
        http::TextBuffer& page = c_.page();
        if (!failed_ && !c_.request().IsHead() && page.length() > 0) {
            failed_ = !c_.SendToClient(page.data(), page.length(), http::kIdleLimitSeconds * 1000);
        }
        page.Clear();
    }

    http::Connection& c_;
    bool streaming_ = false;
    bool failed_ = false;
};

// A query's name or value as it reads once its escapes are decoded.
std::string QueryDecode(std::string_view text) {
    std::string decoded(text);
    platform::UrlDecode(decoded);
    return decoded;
}

// The value of the query parameter `name` (matched without regard to case) in `url`.
std::optional<std::string> FindQueryValue(std::string_view url, std::string_view name) {
    size_t question = url.find('?');
    if (question == std::string_view::npos) return std::nullopt;
    std::string_view query = url.substr(question + 1);
    while (!query.empty()) {
        size_t amp = query.find('&');
        std::string_view piece = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view{} : query.substr(amp + 1);
        size_t equals = piece.find('=');
        if (equals == std::string_view::npos) continue;
        if (platform::EqualsNoCase(QueryDecode(piece.substr(0, equals)), name)) {
            return QueryDecode(piece.substr(equals + 1));
        }
    }
    return std::nullopt;
}

// True when `word` occurs in `text`, letter case aside; an empty word occurs in every text.
bool ContainsNoCase(std::string_view text, std::string_view word) {
    text = text.substr(0, kMaxComparedLength);
    word = word.substr(0, kMaxComparedLength);
    if (word.size() > text.size()) return false;
    for (size_t start = 0; start + word.size() <= text.size(); ++start) {
        size_t i = 0;
        while (i < word.size() &&
               platform::AsciiUpper(text[start + i]) == platform::AsciiUpper(word[i])) {
            ++i;
        }
        if (i == word.size()) return true;
    }
    return false;
}

// The word of a modern search: read from the URL as the browser sent it, decoded once, so that
// it keeps its letter case and "%" is "%25" as every form sends it. A word that is not UTF-8
// (a Latin-1 page's form) is read as Latin-1, so that it still finds names written in UTF-8.
std::optional<std::string> ModernSearchWord(const http::Connection& c) {
    std::optional<std::string> word = FindQueryValue(c.request().target(), kWordParameter);
    if (word) *word = XmlText(*word);
    return word;
}

// One search: what every directory of the walk shares.
struct SearchWalk {
    SearchWalk(http::Connection& connection, PageStream& pageStream, std::string searchedRoot,
               std::string searchWord, int rowLimit)
        : c(connection),
          stream(pageStream),
          root(std::move(searchedRoot)),
          word(std::move(searchWord)),
          base(connection.BaseUrl()),
          maxRows(rowLimit),
          modern(connection.ModernLook()) {}

    http::Connection& c;
    PageStream& stream;
    std::string root;
    std::string word;
    std::string base;
    int maxRows;
    // Rows in the modern look, where small files are searched for the word too.
    bool modern;
    int counter = 1;
    // Every directory searched so far: one reached again through a link is not searched twice.
    std::set<platform::FileIdentity> visited;
    // A match was found beyond maxRows: the list is cut there.
    bool cut = false;
    // The client went away: nothing more is sent.
    bool gone = false;
    bool Over() const { return cut || gone; }
};

void AppendRow(SearchWalk& walk, std::string_view icon, std::string_view link,
               std::string_view name, std::string_view size, std::string_view date) {
    if (walk.counter > walk.maxRows) {
        walk.cut = true;
        return;
    }
    http::Connection& c = walk.c;
    pages::AppendRowTag(c, kResultsPage, walk.counter++);
    c.AppendBody("<TD><IMG BORDER=\"0\" SRC=\"");
    c.AppendBody(walk.base);
    c.AppendBody(icon);
    c.AppendBody("\"></TD><TD><A HREF=\"");
    c.AppendBody(link);
    c.AppendBody("\"> ");
    c.AppendBody(platform::EscapeHtml(name));
    c.AppendBody("</TD><TD>");
    c.AppendBody(size);
    c.AppendBody("</TD><TD>");
    c.AppendBody(date);
    c.AppendBodyLine("</TD></TR>");
    if (!walk.stream.Flush()) walk.gone = true;
}

// A row of the modern look: the entry's icon and name linked to it, its size as a person reads
// it (the bytes in a tooltip), its time, and the folder it is in, linked.
void AppendModernRow(SearchWalk& walk, const platform::DirectoryEntry& entry, std::string_view link,
                     std::string_view folder, std::string_view folderLink) {
    if (walk.counter > walk.maxRows) {
        walk.cut = true;
        return;
    }
    ++walk.counter;
    std::string row = "<li><a href=\"";
    row.append(link);
    if (entry.isDirectory) row.append("/");
    row.append("\">");
    row.append(entry.isDirectory ? pages::Icon("folder", "Folder")
                                 : pages::Icon(pages::FileIcon(entry.name), "File"));
    row.append(platform::EscapeHtml(entry.name)).append("</a>");
    if (entry.isDirectory) {
        row.append("<span class=\"size\"></span>");
    } else {
        row.append("<span class=\"size\" title=\"").append(platform::GroupedDecimal(entry.size));
        row.append(entry.size == 1 ? " byte\">" : " bytes\">");
        row.append(platform::HumanSize(entry.size)).append("</span>");
    }
    row.append("<span class=\"date\">").append(platform::FormatLocalMinute(entry.modified));
    row.append("</span>");
    row.append("<span class=\"where\">in <a href=\"").append(folderLink).append("\">");
    row.append(platform::EscapeHtml(folder)).append("</a></span></li>");
    walk.c.AppendBodyLine(row);
    if (!walk.stream.Flush()) walk.gone = true;
}

// Appends the rows of the directory `rel` below the root ("" for the root itself, else "/"
// and a name per level) and searches its subdirectories. `relLink` is `rel` as a link: each
// name escaped.
void SearchDirectory(SearchWalk& walk, const std::string& rel, const std::string& relLink,
                     int depth) {
    const std::string& word = walk.word;
    const bool modern = walk.modern;
    // Files that do not match are not even looked at.
    const std::string path = rel.empty() && walk.root.empty() ? "/" : walk.root + rel;
    std::optional<std::vector<platform::DirectoryEntry>> entries =
        platform::ListDirectory(path, [&word](std::string_view name, bool mayBeDirectory) {
            return !platform::IsHiddenName(name) && (mayBeDirectory || ContainsNoCase(name, word));
        });
    if (!entries) return;
    if (modern) {
        std::sort(entries->begin(), entries->end(),
                  [](const platform::DirectoryEntry& a, const platform::DirectoryEntry& b) {
                      return platform::NaturalLess(a.name, b.name);
                  });
    }
    const std::string folder = rel + "/";
    const std::string folderLink = relLink + "/";
    for (const platform::DirectoryEntry& entry : *entries) {
        if (walk.Over()) return;
        if (entry.hidden) continue;
        const bool matches = ContainsNoCase(entry.name, word);
        if (!entry.isDirectory && !matches) continue;
        const std::string link = relLink + "/" + platform::UrlEncodeName(entry.name);
        if (modern) {
            if (matches) AppendModernRow(walk, entry, link, folder, folderLink);
        } else if (!entry.isDirectory) {
            char size[32];
            std::snprintf(size, sizeof size, "%" PRIu64 "   kb", entry.size / 1024);
            AppendRow(walk, "/VNT/file.gif", link, entry.name, size,
                      http::FormatHttpDate(entry.modified));
            continue;
        } else if (matches) {
            AppendRow(walk, "/VNT/folder.gif", link, entry.name, "-", "-");
        }
        if (entry.isDirectory && depth < kMaxSearchDepth &&
            walk.visited.insert(entry.identity).second) {
            SearchDirectory(walk, rel + "/" + entry.name, link, depth + 1);
        }
    }
}

// Turns the request away while other searches take every place: false then, and the answer
// is sent.
bool RefuseWhenBusy(http::Connection& c, const SearchSlot& slot) {
    if (slot.held()) return false;
    c.page().Clear();
    c.SendText("HTTP/1.0 503 Service Unavailable\r\nServer: " VANTRY_SERVER_HEADER
               "\r\nRetry-After: 2\r\n" +
               c.PageTypeLines() + "\r\nContent-Length: " + std::to_string(kBusyPage.size()) +
               "\r\n\r\n" + std::string(kBusyPage));
    c.Answer(http::Response::Sent(503));
    return true;
}

// The word a search looks for: as the page's look reads it (see ModernSearchWord).
std::optional<std::string> SearchWord(const http::Connection& c) {
    if (c.ModernLook()) return ModernSearchWord(c);
    return FindQueryValue(c.RoutedTarget(), kWordParameter);
}

// The rows for the request's search word, at most the server's searchMaxResults of them and
// then a row that says the list was cut; none without a word, or without a root that may be
// searched. In the classic look the URL was decoded once already and the router upper-cased it
// after "VNT", so the word is decoded a second time and arrives in capitals: the matching
// ignores case. Returns the rows found, or std::nullopt when the request was turned away
// because too many searches run.
std::optional<int> AppendResultRows(http::Connection& c, PageStream& stream,
                                    const std::optional<std::string>& word) {
    if (!word || word->empty()) return 0;
    const config::ServerSettings* settings = c.Settings();
    if (settings == nullptr || !config::IsUsableRoot(settings->wwwroot)) return 0;
    const SearchSlot slot;
    if (RefuseWhenBusy(c, slot)) return std::nullopt;
    std::optional<platform::FileIdentity> rootIdentity =
        platform::DirectoryIdentity(settings->wwwroot);
    if (!rootIdentity) return 0;
    // The root without its closing "/", so that "/" and a name lead below it ("" for "/").
    std::string root = settings->wwwroot;
    while (!root.empty() && root.back() == '/') root.pop_back();
    SearchWalk walk(c, stream, std::move(root), *word, settings->searchMaxResults);
    walk.visited.insert(*rootIdentity);
    if (walk.modern) c.AppendBodyLine("<ul class=\"listing results\">");
    SearchDirectory(walk, "", "", 0);
    if (walk.modern) {
        c.AppendBodyLine("</ul>");
        if (walk.cut) {
            c.AppendBodyLine("<p class=\"status\">The list was cut at " +
                             std::to_string(walk.maxRows) + " results.</p>");
        }
    } else if (walk.cut) {
        pages::AppendRowTag(c, kResultsPage, 0);
        c.AppendBodyLine("<TD COLSPAN=4>The list was cut at " + std::to_string(walk.maxRows) +
                         " results.</TD></TR>");
    }
    return walk.counter - 1;
}

// The modern look's search form, holding `word` when there is one.
void AppendModernForm(http::Connection& c, const std::optional<std::string>& word) {
    std::string form =
        "<form class=\"fields search\" method=\"get\" action=\"/VNT/HandleSearch.html\" "
        "accept-charset=\"UTF-8\" role=\"search\">\r\n"
        "<label for=\"searchTarget\">Find files whose name holds</label>\r\n"
        "<div class=\"row\"><input type=\"search\" id=\"searchTarget\" name=\"searchTarget\" "
        "value=\"";
    if (word) form.append(platform::EscapeHtml(*word));
    form.append("\"> <input type=\"submit\" value=\"Search\"></div>\r\n</form>");
    c.AppendBodyLine(form);
}

}  // namespace

void SearchPage(http::Connection& c) {
    const config::ServerSettings* settings = c.Settings();
    if (c.ModernLook()) {
        pages::AppendPageStart(c, kFormPage, "Search", {}, true);
        if (settings != nullptr && settings->searchEnabled) {
            AppendModernForm(c, ModernSearchWord(c));
            pages::AppendHelpLink(c, kFormPage);
        } else {
            c.AppendBodyLine("<p>Searching is switched off by the administrator.</p>");
        }
        pages::AppendPageEnd(c, kFormPage);
        return;
    }
    pages::AppendPageStart(c, kFormPage, "Search", "<SCRIPT>window.resizeTo(600, 470);</SCRIPT>",
                           false);
    if (settings != nullptr && settings->searchEnabled) {
        c.AppendBodyLine("<FORM method=\"GET\" action=\"HandleSearch.html\">");
        c.AppendBodyLine("<TABLE width=555 border=0 CELLSPACING='2' CELLPADDING='10'>");
        pages::AppendRowTag(c, kFormPage, 0);
        c.AppendBodyLine("<td COLSPAN=3 height='60'><font  face='Garamond' size='6'>");
        c.AppendBodyLine("Search");
        c.AppendBodyLine("</font></td></tr>");
        pages::AppendRowTag(c, kFormPage, 1);
        c.AppendBodyLine(
            "<td width=\"100\"><font  face='Garamond' size='3'>Search Word</font></td>");
        c.AppendBodyLine(
            "<td width=\"195\" valign=\"top\"><input type=\"text\" name=\"searchTarget\" "
            "size=\"40\"></td>");
        c.AppendBodyLine("<td><input type=\"submit\" value=\"Submit\" name=\"B1\"></td>");
        c.AppendBodyLine("</tr>");
        pages::AppendRowTag(c, kFormPage, 0);
        c.AppendBodyLine("<TD COLSPAN=3 height='60'>");
        pages::AppendHelpLink(c, kFormPage);
        c.AppendBodyLine("</TD> </TABLE>");
        c.AppendBodyLine("</FORM>");
    } else {
        c.AppendBodyLine("<H2>Searches Are Currently Disabled By The Administrator<H2>");
    }
    pages::AppendPageEnd(c, kFormPage);
}

namespace {

// The modern results page: the word in the heading and in the form, then the hits.
void HandleModernSearch(http::Connection& c) {
    const std::optional<std::string> word = SearchWord(c);
    const bool searched = word && !word->empty();
    const std::string quoted =
        searched ? "\xE2\x80\x9C" + platform::EscapeHtml(*word) + "\xE2\x80\x9D" : "";
    pages::AppendPageStart(c, kResultsPage,
                           searched ? "Results for " + quoted : std::string("Search results"), {},
                           false);
    c.AppendBodyLine(searched ? "<h1>Results for " + quoted + "</h1>"
                              : std::string("<h1>Search results</h1>"));
    AppendModernForm(c, word);
    c.AppendBodyLine(pages::kIconSprite);
    PageStream stream(c);
    const std::optional<int> found = AppendResultRows(c, stream, word);
    if (!found) return;
    if (*found == 0) {
        c.AppendBodyLine(searched
                             ? "<p class=\"empty\">No files match " + quoted + ".</p>"
                             : std::string("<p class=\"empty\">Type a word to search for.</p>"));
    }
    pages::AppendHelpLink(c, kResultsPage);
    pages::AppendPageEnd(c, kResultsPage);
    stream.End();
}

}  // namespace

// The results page searches whatever the form page's switch says: the switch only hides the
// form.
void HandleSearch(http::Connection& c) {
    if (c.ModernLook()) {
        HandleModernSearch(c);
        return;
    }
    pages::AppendPageStart(c, kResultsPage, "Search Results",
                           "<SCRIPT>window.resizeTo(600, screen.availHeight);</SCRIPT>", true);
    pages::AppendTableTag(c, kResultsPage);
    pages::AppendRowTag(c, kResultsPage, 0);
    c.AppendBodyLine("<TH>Type</TH><TH>File Name</TH><TH>Size</TH><TH>Last Modified</TH></TR>");
    PageStream stream(c);
    if (!AppendResultRows(c, stream, SearchWord(c))) return;
    pages::AppendRowTag(c, kResultsPage, 0);
    c.AppendBodyLine("<TD COLSPAN=4 height='30'>");
    pages::AppendHelpLink(c, kResultsPage);
    c.AppendBodyLine("</TD> </TABLE>");
    pages::AppendPageEnd(c, kResultsPage);
    stream.End();
}

void HandleSearchResults(http::Connection& c) {
    PageStream stream(c);
    if (AppendResultRows(c, stream, SearchWord(c))) stream.End();
}

}  // namespace apps
