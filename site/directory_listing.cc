// The listing of a directory: one table row per entry, inside the "FileList" page template.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "http/http_date.h"
#include "pages/icons.h"
#include "pages/page_template.h"
#include "pages/qr_svg.h"
#include "platform/clock.h"
#include "platform/directory.h"
#include "platform/text.h"
#include "site/app_connection.h"
#include "site/folder_zip.h"

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
// The modern look's QR code of the page's address, a path of a few kilobytes.
constexpr size_t kQrCodeBytes = 6144;

// Most names need no escaping: they go in without a copy.
void AppendEscaped(http::Connection& c, std::string_view text) {
    if (text.find_first_of(platform::kHtmlSpecialCharacters) == std::string_view::npos) {
        c.AppendBody(text);
    } else {
        c.AppendBody(platform::EscapeHtml(text));
    }
}

// The modern look's listing: folders first, then files, in the order the visitor picked
// (name, size or date, either way), each with its kind's icon, a size a person reads and the
// local time; a breadcrumb of the address instead of the disk path.
enum class SortKey { kName, kSize, kDate };
struct SortOrder {
    SortKey key = SortKey::kName;
    bool descending = false;
    bool choosing = false;  // "select": a tick box per entry, to download the ticked as zip
};

// The order a query asks for ("sort=size&order=desc"); names, rising, by default.
SortOrder SortOrderOf(std::string_view query) {
    SortOrder order;
    while (!query.empty()) {
        size_t amp = query.find('&');
        std::string_view piece = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view{} : query.substr(amp + 1);
        if (piece == "sort=size") order.key = SortKey::kSize;
        if (piece == "sort=date") order.key = SortKey::kDate;
        if (piece == "order=desc") order.descending = true;
        if (piece == "select") order.choosing = true;
    }
    return order;
}

// Sorts by each name's key, made once, rather than comparing the names themselves each time.
void SortEntries(std::vector<const platform::DirectoryEntry*>& entries, SortOrder order) {
    struct Sorted {
        std::string key;
        const platform::DirectoryEntry* entry;
    };
    std::vector<Sorted> sorted;
    sorted.reserve(entries.size());
    for (const platform::DirectoryEntry* entry : entries) {
        sorted.push_back({platform::NaturalSortKey(entry->name), entry});
    }
    auto byName = [](const Sorted& a, const Sorted& b) {
        if (int compared = a.key.compare(b.key); compared != 0) return compared < 0;
        return a.entry->name < b.entry->name;
    };
    auto less = [order, &byName](const Sorted& a, const Sorted& b) {
        if (a.entry->isDirectory != b.entry->isDirectory) return a.entry->isDirectory;
        if (order.key == SortKey::kSize && a.entry->size != b.entry->size) {
            return (a.entry->size < b.entry->size) != order.descending;
        }
        if (order.key == SortKey::kDate && a.entry->modified != b.entry->modified) {
            return (a.entry->modified < b.entry->modified) != order.descending;
        }
        // Equal sizes or dates (every folder's size) go by name, rising.
        if (order.key != SortKey::kName) return byName(a, b);
        return byName(a, b) != order.descending;
    };
    std::sort(sorted.begin(), sorted.end(), less);
    for (size_t i = 0; i < sorted.size(); ++i) entries[i] = sorted[i].entry;
}

// A column's heading, a link that sorts by it: rising first for names, falling first for sizes
// and dates (the largest and newest), and the other way when it already sorts the page.
void AppendSortLink(http::Connection& c, std::string_view label, SortKey key,
                    std::string_view keyName, SortOrder current) {
    const bool active = current.key == key;
    const bool descendingFirst = key != SortKey::kName;
    const bool nextDescending = active ? !current.descending : descendingFirst;
    c.AppendBody("<a class=\"");
    c.AppendBody(keyName);
    c.AppendBody("\" href=\"?sort=");
    c.AppendBody(keyName);
    c.AppendBody(nextDescending ? "&amp;order=desc" : "&amp;order=asc");
    c.AppendBody(current.choosing ? "&amp;select\"" : "\"");
    if (active) {
        c.AppendBody(current.descending ? " aria-current=\"true\" title=\"Sorted, falling\">"
                                        : " aria-current=\"true\" title=\"Sorted, rising\">");
    } else {
        c.AppendBody(">");
    }
    c.AppendBody(label);
    if (active) {
        c.AppendBody(current.descending ? " <span aria-hidden=\"true\">&#9660;</span>"
                                        : " <span aria-hidden=\"true\">&#9650;</span>");
    }
    c.AppendBody("</a>");
}

// "Files / photos / 2026": each folder of the address a link, the last one the page itself.
void AppendBreadcrumb(http::Connection& c, std::string_view directory) {
    c.AppendBody("<nav class=\"crumbs\" aria-label=\"Folder\"><a href=\"/\">Files</a>");
    size_t start = 0;
    while (start < directory.size()) {
        size_t slash = directory.find('/', start);
        if (slash == std::string_view::npos) slash = directory.size();
        const std::string_view name = directory.substr(start, slash - start);
        c.AppendBody(" / ");
        if (slash + 1 >= directory.size()) {
            c.AppendBody("<span aria-current=\"page\">");
            AppendEscaped(c, name);
            c.AppendBody("</span>");
        } else {
            c.AppendBody("<a href=\"/");
            c.AppendBody(platform::UrlEncodeName(directory.substr(0, slash + 1)));
            c.AppendBody("\">");
            AppendEscaped(c, name);
            c.AppendBody("</a>");
        }
        start = slash + 1;
    }
    c.AppendBodyLine("</nav>");
}

// The page's own address as a QR code, for a phone to open the folder: folded away under its
// summary, so that on a small screen the entries stay where they are. One code per page,
// whatever the number of entries.
void AppendPageCode(http::Connection& c, const std::string& address) {
    const std::string svg = pages::QrCodeSvg(address, "QR code of " + address);
    if (svg.empty()) return;
    const std::string shown = platform::EscapeHtml(address);
    c.AppendBody(
        "<details class=\"qr\"><summary>QR code of this page</summary>"
        "<figure class=\"site-code\">");
    c.AppendBody(svg);
    c.AppendBodyLine("<figcaption>Scan to open <a href=\"" + shown + "\">" + shown +
                     "</a></figcaption></figure></details>");
}

void AppendModernRows(http::Connection& c, const std::vector<platform::DirectoryEntry>& all,
                      std::string_view directory, std::string_view query,
                      const std::string& address) {
    const SortOrder order = SortOrderOf(query);
    std::vector<const platform::DirectoryEntry*> entries;
    entries.reserve(all.size());
    for (const platform::DirectoryEntry& entry : all) {
        if (!entry.hidden) entries.push_back(&entry);
    }
    SortEntries(entries, order);

    AppendBreadcrumb(c, directory);
    c.AppendBodyLine(pages::kIconSprite);
    // The folder as one zip; or, once the visitor chooses entries, a form without script whose
    // ticks come back as "n" values of the folder's own address. The tick boxes are only on
    // the page that asks for them, so that the plain listing stays small.
    if (order.choosing) {
        c.AppendBodyLine(
            "<form class=\"zip\" method=\"get\" action=\"\"><p class=\"zip\"><button "
            "type=\"submit\" name=\"zip\" value=\"ticked\">Download ticked as zip</button> "
            "<a href=\"?\">Cancel</a></p>");
    } else {
        c.AppendBodyLine(
            "<p class=\"zip\"><a class=\"button\" href=\"?zip\" download>Download as zip</a> "
            "<a href=\"?select\">Choose entries to download</a></p>");
    }
    AppendPageCode(c, address);
    // A list rather than a table: a browser lays out only the rows in view, so a folder of
    // thousands of entries shows at once.
    c.AppendBody("<div class=\"listing-head\">Sort by ");
    AppendSortLink(c, "Name", SortKey::kName, "name", order);
    AppendSortLink(c, "Size", SortKey::kSize, "size", order);
    AppendSortLink(c, "Modified", SortKey::kDate, "date", order);
    c.AppendBodyLine("</div>\n<ul class=\"listing\">");
    if (!directory.empty()) {
        c.AppendBodyLine(
            "<li class=\"up\"><a href=\"../\"><svg aria-hidden=\"true\"><use "
            "href=\"#i-folder\"/></svg>Parent folder</a></li>");
    }
    // Entries written in the same minute share their date text.
    std::optional<std::time_t> datedMinute;
    std::string date;
    for (const platform::DirectoryEntry* entry : entries) {
        if (datedMinute != entry->modified / 60) {
            date =
                "<span class=\"date\">" + platform::FormatLocalMinute(entry->modified) + "</span>";
            datedMinute = entry->modified / 60;
        }
        c.AppendBody("<li>");
        if (order.choosing) {
            c.AppendBody("<input type=\"checkbox\" name=\"n\" value=\"");
            AppendEscaped(c, entry->name);
            c.AppendBody("\" aria-label=\"Tick ");
            AppendEscaped(c, entry->name);
            c.AppendBody("\">");
        }
        c.AppendBody("<a href=\"");
        c.AppendBody(platform::RelativeLink(platform::UrlEncodeName(entry->name)));
        // A folder's icon is read out; a file's kind is its name's to tell.
        if (entry->isDirectory) {
            c.AppendBody(
                "/\"><svg role=\"img\" aria-label=\"Folder\"><use href=\"#i-folder\"/></svg>");
        } else {
            c.AppendBody("\"><svg><use href=\"#i-");
            c.AppendBody(pages::FileIcon(entry->name));
            c.AppendBody("\"/></svg>");
        }
        AppendEscaped(c, entry->name);
        if (entry->isDirectory) {
            c.AppendBody("</a><span class=\"size\"></span>");
        } else {
            // The exact bytes are a tooltip where the size is rounded.
            if (entry->size < 1000) {
                c.AppendBody("</a><span class=\"size\">");
            } else {
                c.AppendBody("</a><span class=\"size\" title=\"");
                c.AppendBody(platform::GroupedDecimal(entry->size));
                c.AppendBody(" bytes\">");
            }
            c.AppendBody(platform::HumanSize(entry->size));
            c.AppendBody("</span>");
        }
        c.AppendBody(date);
        c.AppendBodyLine("</li>");
    }
    if (entries.empty()) c.AppendBodyLine("<li class=\"empty\">This folder is empty.</li>");
    c.AppendBodyLine(order.choosing ? "</ul></form>" : "</ul>");
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
    if (ModernLook() && AsksForZip(request().target())) {
        SendFolderZip(filePath);
        return;
    }
    SendStatusHeaders();

    // A directory that cannot be read is listed without entries.
    std::vector<platform::DirectoryEntry> entries =
        platform::ListDirectory(filePath).value_or(std::vector<platform::DirectoryEntry>{});
    size_t estimate = kPageBytes + 2 * filePath.size();
    for (const platform::DirectoryEntry& entry : entries) {
        estimate += kRowBytes + base.size() + 2 * entry.name.size();
    }
    if (ModernLook()) estimate += kQrCodeBytes;
    page().Reserve(estimate);

    AppendBodyLine(PageTypeLines());
    AppendBodyLine("");
    if (ModernLook()) {
        // The folder's address as the page names it: the download page lists the root.
        const std::string_view path = std::string_view(routePath).substr(0, routePath.find('?'));
        std::string_view directory = path;
        if (!directory.empty() && directory.back() != '/') directory = {};
        const size_t question = routePath.find('?');
        const std::string_view query = question == std::string::npos
                                           ? std::string_view{}
                                           : std::string_view(routePath).substr(question + 1);
        std::string title = "/";
        title.append(platform::EscapeHtml(directory));
        pages::AppendPageStart(*this, kPage, title, {}, true);
        // The page's absolute address, escaped as the entries' links are, without the query.
        std::string address = base;
        address.push_back('/');
        address.append(platform::UrlEncodeName(path));
        AppendModernRows(*this, entries, directory, query, address);
        pages::AppendHelpLink(*this, kPage);
        pages::AppendPageEnd(*this, kPage);
        Answer(http::Response::Raw());
        return;
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
