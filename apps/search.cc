// The site search: the search form, the results page and the result rows alone, found by
// walking the server's document root for names that contain the visitor's word.
#include <cinttypes>
#include <cstdio>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "apps/application_pages.h"
#include "apps/page_template.h"
#include "config/server_config.h"
#include "http/http_date.h"
#include "platform/directory.h"
#include "platform/text.h"

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

// One search: what every directory of the walk shares.
struct SearchWalk {
    http::Connection& c;
    std::string root;
    std::string word;
    std::string base;
    int counter = 1;
    // Every directory searched so far: one reached again through a link is not searched twice.
    std::set<platform::FileIdentity> visited;
};

void AppendRow(SearchWalk& walk, std::string_view icon, std::string_view link,
               std::string_view name, std::string_view size, std::string_view date) {
    http::Connection& c = walk.c;
    AppendRowTag(c, kResultsPage, walk.counter++);
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
}

// Appends the rows of the directory `rel` below the root ("" for the root itself, else "/"
// and a name per level) and searches its subdirectories. `relLink` is `rel` as a link: each
// name escaped.
void SearchDirectory(SearchWalk& walk, const std::string& rel, const std::string& relLink,
                     int depth) {
    const std::string& word = walk.word;
    // Files that do not match are not even looked at.
    const std::string path = rel.empty() && walk.root.empty() ? "/" : walk.root + rel;
    std::optional<std::vector<platform::DirectoryEntry>> entries = platform::ListDirectory(
        path, [&word](std::string_view name, bool mayBeDirectory) {
            return !platform::IsHiddenName(name) && (mayBeDirectory || ContainsNoCase(name, word));
        });
    if (!entries) return;
    for (const platform::DirectoryEntry& entry : *entries) {
        if (entry.hidden) continue;
        const bool matches = ContainsNoCase(entry.name, word);
        if (!entry.isDirectory && !matches) continue;
        const std::string link = relLink + "/" + platform::UrlEncodeName(entry.name);
        if (!entry.isDirectory) {
            char size[32];
            std::snprintf(size, sizeof size, "%" PRIu64 "   kb", entry.size / 1024);
            AppendRow(walk, "/VNT/file.gif", link, entry.name, size,
                      http::FormatHttpDate(entry.modified));
            continue;
        }
        if (matches) AppendRow(walk, "/VNT/folder.gif", link, entry.name, "-", "-");
        if (depth < kMaxSearchDepth && walk.visited.insert(entry.identity).second) {
            SearchDirectory(walk, rel + "/" + entry.name, link, depth + 1);
        }
    }
}

// The rows for the request's search word; none without a word, or without a root that may
// be searched. The URL was decoded once already and the router upper-cased it after "VNT",
// so the word is decoded a second time and arrives in capitals: the matching ignores case.
void AppendResultRows(http::Connection& c) {
    std::optional<std::string> word = FindQueryValue(c.url, kWordParameter);
    if (!word || word->empty()) return;
    const config::ServerSettings* settings = c.Settings();
    if (settings == nullptr || !config::IsUsableRoot(settings->wwwroot)) return;
    std::optional<platform::FileIdentity> rootIdentity =
        platform::DirectoryIdentity(settings->wwwroot);
    if (!rootIdentity) return;
    // The root without its closing "/", so that "/" and a name lead below it ("" for "/").
    std::string root = settings->wwwroot;
    while (!root.empty() && root.back() == '/') root.pop_back();
    SearchWalk walk{c, std::move(root), std::move(*word), c.BaseUrl(), 1, {}};
    walk.visited.insert(*rootIdentity);
    SearchDirectory(walk, "", "", 0);
}

}  // namespace

void SearchPage(http::Connection& c) {
    AppendPageStart(c, kFormPage, "Search", "<SCRIPT>window.resizeTo(600, 470);</SCRIPT>",
                      false);
    const config::ServerSettings* settings = c.Settings();
    if (settings != nullptr && settings->searchEnabled) {
        c.AppendBodyLine("<FORM method=\"GET\" action=\"HandleSearch.html\">");
        c.AppendBodyLine("<TABLE width=555 border=0 CELLSPACING='2' CELLPADDING='10'>");
        AppendRowTag(c, kFormPage, 0);
        c.AppendBodyLine("<td COLSPAN=3 height='60'><font  face='Garamond' size='6'>");
        c.AppendBodyLine("Search");
        c.AppendBodyLine("</font></td></tr>");
        AppendRowTag(c, kFormPage, 1);
        c.AppendBodyLine("<td width=\"100\"><font  face='Garamond' size='3'>Search Word</font></td>");
        c.AppendBodyLine("<td width=\"195\" valign=\"top\"><input type=\"text\" name=\"searchTarget\" "
                         "size=\"40\"></td>");
        c.AppendBodyLine("<td><input type=\"submit\" value=\"Submit\" name=\"B1\"></td>");
        c.AppendBodyLine("</tr>");
        AppendRowTag(c, kFormPage, 0);
        c.AppendBodyLine("<TD COLSPAN=3 height='60'>");
        AppendHelpLink(c, kFormPage);
        c.AppendBodyLine("</TD> </TABLE>");
        c.AppendBodyLine("</FORM>");
    } else {
        c.AppendBodyLine("<H2>Searches Are Currently Disabled By The Administrator<H2>");
    }
    AppendPageEnd(c, kFormPage);
}

// The results page searches whatever the form page's switch says: the switch only hides the
// form.
void HandleSearch(http::Connection& c) {
    AppendPageStart(c, kResultsPage, "Search Results",
                      "<SCRIPT>window.resizeTo(600, screen.availHeight);</SCRIPT>", true);
    AppendTableTag(c, kResultsPage);
    AppendRowTag(c, kResultsPage, 0);
    c.AppendBodyLine("<TH>Type</TH><TH>File Name</TH><TH>Size</TH><TH>Last Modified</TH></TR>");
    AppendResultRows(c);
    AppendRowTag(c, kResultsPage, 0);
    c.AppendBodyLine("<TD COLSPAN=4 height='30'>");
    AppendHelpLink(c, kResultsPage);
    c.AppendBodyLine("</TD> </TABLE>");
    AppendPageEnd(c, kResultsPage);
}

void HandleSearchResults(http::Connection& c) { AppendResultRows(c); }

}  // namespace apps
