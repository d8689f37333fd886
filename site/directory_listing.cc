// The listing of a directory: one table row per entry, inside the "FileList" page template.
#include <cinttypes>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "http/http_date.h"
#include "pages/page_template.h"
#include "platform/directory.h"
#include "platform/text.h"
#include "site/app_connection.h"

namespace site {
namespace {

constexpr std::string_view kPage = "FileList";
constexpr std::string_view kParentLink = "../";
constexpr std::string_view kParentName = "Parent Directory";
constexpr std::string_view kFolderIcon = "/VNT/folder.gif\">";
constexpr std::string_view kFileIcon = "/VNT/file.gif\">";
// What a row holds besides the name, its link, the base address and the row tag.
constexpr size_t kRowBytes = 160;
// The page around the rows: head, heading, table head, help row, navigation bar.
constexpr size_t kPageBytes = 4096;

// Most names need no escaping: they go in without a copy.
void AppendEscaped(http::Connection& c, std::string_view text) {
    if (text.find_first_of(platform::kHtmlSpecialCharacters) == std::string_view::npos) {
        c.AppendBody(text);
    } else {
        c.AppendBody(platform::EscapeHtml(text));
    }
}

}  // namespace

void AppConnection::ListDirectory() {
    const config::ServerSettings* settings = Settings();
    if (settings == nullptr || !settings->list) {
        Answer(http::Response::Error(403));
        return;
    }
    const std::string base = BaseUrl();
    const std::string filePath = response().path();
    SendStatusHeaders();

    // A directory that cannot be read is listed without entries.
    std::vector<platform::DirectoryEntry> entries =
        platform::ListDirectory(filePath).value_or(std::vector<platform::DirectoryEntry>{});
    size_t estimate = kPageBytes + 2 * filePath.size();
    for (const platform::DirectoryEntry& entry : entries) {
        estimate += kRowBytes + base.size() + 2 * entry.name.size();
    }
    page().Reserve(estimate);

    AppendBodyLine(PageTypeLines());
    AppendBodyLine("");
    if (ModernLook()) {
        pages::AppendPageStart(*this, kPage, "File download", {}, true);
    } else {
        AppendBodyLine("<HTML><HEAD><TITLE> File Download");
        AppendEscaped(*this, filePath);
        AppendBody(" </TITLE>");
        AppendBody("<SCRIPT>window.resizeTo(600, screen.availHeight);</SCRIPT>");
        pages::AppendHtmlHeader(*this, kPage);
        AppendBodyLine("</HEAD>");
        pages::AppendBodyTag(*this, kPage);
        pages::AppendBanner(*this, kPage);
        pages::AppendPageHeading(*this, kPage);
    }

    AppendBody("<H4>Directory Listing Of ");
    AppendEscaped(*this, filePath);
    AppendBodyLine("</H4>");
    pages::AppendTableTag(*this, kPage);
    pages::AppendRowTag(*this, kPage, 0);
    AppendBodyLine("<TH>Type</TH><TH>File Name</TH><TH>Size</TH><TH>Last Modified</TH></TR>");

    // Entries written in the same second share their date text.
    std::optional<std::time_t> datedTime;
    std::string date;
    int row = 1;
    for (const platform::DirectoryEntry& entry : entries) {
        // "." and hidden entries are left out; ".." stays as the way up.
        if (entry.name == "." || (entry.hidden && entry.name != "..")) continue;
        if (datedTime != entry.modified) {
            date = http::FormatHttpDate(entry.modified);
            datedTime = entry.modified;
        }
        pages::AppendRowTag(*this, kPage, row++);
        AppendBody("<TD><img src=\"");
        AppendBody(base);
        std::string link = platform::RelativeLink(UrlEncodeName(entry.name));
        char size[24] = "-";
        if (entry.isDirectory) {
            AppendBody(kFolderIcon);
            link.push_back('/');
        } else {
            AppendBody(kFileIcon);
            std::snprintf(size, sizeof size, "%" PRIu64 "K", entry.size >> 10);
        }
        AppendBody("</TD><TD><A HREF=\"");
        AppendBody(link);
        AppendBody("\">");
        if (link == kParentLink) {
            AppendBody(kParentName);
        } else {
            AppendEscaped(*this, entry.name);
        }
        AppendBody("</A></TD><TD>");
        AppendBody(size);
        AppendBody("</TD><TD>");
        AppendBody(date);
        AppendBodyLine("</TD></TR>");
    }

    pages::AppendRowTag(*this, kPage, 0);
    AppendBodyLine("<TD COLSPAN=4 height='30'>");
    pages::AppendHelpLink(*this, kPage);
    AppendBodyLine("</TD> </TABLE>");
    pages::AppendPageEnd(*this, kPage);
    Answer(http::Response::Raw());
}

}  // namespace site
