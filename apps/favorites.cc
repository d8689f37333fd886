// The owner's favorites listing: the folders and Internet shortcuts below the favorites
// location, one table row each.
#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "apps/application_pages.h"
#include "config/server_config.h"
#include "pages/icons.h"
#include "pages/page_template.h"
#include "platform/directory.h"
#include "platform/file_io.h"
#include "platform/ini_file.h"
#include "platform/text.h"

namespace apps {
namespace {

constexpr std::string_view kPage = "Favorites";
constexpr std::string_view kTitle = "Favorites Listng";
constexpr std::string_view kDisabled =
    "<H2>The Favorites List Is Currently Disabled By The Administrator<H2>";
constexpr std::string_view kShortcutExtension = ".url";
constexpr std::string_view kShortcutSection = "InternetShortcut";
constexpr std::string_view kShortcutKey = "URL";
constexpr size_t kMaxShortcutUrlLength = 999;
// A shortcut is a few hundred bytes; a larger file is read as one without an address.
constexpr size_t kMaxShortcutFileBytes = 64 * 1024;
constexpr std::string_view kParentName = "Parent Directory";

struct NameParts {
    std::string_view stem;
    std::string_view extension;  // from the last "." on; empty without one
};

NameParts SplitName(std::string_view name) {
    size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) return {name, {}};
    return {name.substr(0, dot), name.substr(dot)};
}

enum class Entry { kFolder, kShortcut };

// A row's two cells, the icon and the name, both linking to `link`. A shortcut's icon opens a
// new window, and its anchor stays open to the end of its cell.
void AppendEntryCells(http::Connection& c, Entry entry, std::string_view link,
                      std::string_view text, const std::string& base) {
    const bool shortcut = entry == Entry::kShortcut;
    c.AppendBody("<TD><A HREF=\"");
    c.AppendBody(link);
    c.AppendBody(shortcut ? "\" target='_new'>" : "\">");
    c.AppendBody("<img src=\"" + base);
    c.AppendBody(shortcut ? "/VNT/shortcut.gif\" border='0'>"
                          : "/VNT/folder.gif\" border='0'></A>");
    c.AppendBody("</TD><TD><A HREF=\"");
    c.AppendBody(link);
    c.AppendBody("\">");
    c.AppendBody(text);
    c.AppendBody("</A></TD>");
}

// The address an Internet shortcut file holds; empty when it holds none.
std::string ShortcutAddress(const std::string& path) {
    std::optional<std::string> text = platform::ReadWholeFile(path, kMaxShortcutFileBytes, nullptr);
    if (!text) return {};
    return platform::GetIniTextString(*text, kShortcutSection, kShortcutKey, "");
}

void AppendEntries(http::Connection& c, const std::string& location, const std::string& subPath) {
    // A location that is no absolute path would be read against the working directory, or
    // as the file system's root when empty: such a folder lists nothing.
    if (!config::IsUsableRoot(location)) return;
    std::string folder = location + "/" + subPath;
    platform::EndWithSlash(folder);
    std::vector<platform::DirectoryEntry> entries =
        platform::ListDirectory(folder).value_or(std::vector<platform::DirectoryEntry>{});

    const std::string base = c.BaseUrl();
    int row = 1;
    for (const platform::DirectoryEntry& entry : entries) {
        if (entry.name == ".") continue;
        const bool parent = entry.name == "..";
        if (parent ? subPath.empty() : entry.hidden) continue;
        NameParts parts = SplitName(entry.name);
        if (entry.isDirectory) {
            pages::AppendRowTag(c, kPage, row++);
            if (parent) {
                AppendEntryCells(c, Entry::kFolder, "../", kParentName, base);
            } else {
                std::string link = platform::EscapeHtml(
                    platform::RelativeLink(platform::UrlEncodeName(parts.stem)));
                link.push_back('/');
                AppendEntryCells(c, Entry::kFolder, link, platform::EscapeHtml(parts.stem), base);
            }
        } else if (platform::EqualsNoCase(parts.extension, kShortcutExtension)) {
            pages::AppendRowTag(c, kPage, row++);
            std::string address = ShortcutAddress(folder + entry.name);
            if (address.size() > kMaxShortcutUrlLength) address.resize(kMaxShortcutUrlLength);
            AppendEntryCells(c, Entry::kShortcut, platform::EscapeHtml(address),
                             platform::EscapeHtml(parts.stem), base);
        }
    }
}

// The modern look's list: the way up, the folders, then the shortcuts, each in the order a
// person sorts names, with an icon that says which it is and a shortcut's address beneath it.
void AppendModernEntries(http::Connection& c, const std::string& location,
                         const std::string& subPath) {
    c.AppendBodyLine(pages::kIconSprite);
    c.AppendBodyLine("<ul class=\"listing favorites\">");
    if (!subPath.empty()) {
        c.AppendBodyLine("<li class=\"up\"><a href=\"../\">" + pages::Icon("folder", "Folder") +
                         "Parent folder</a></li>");
    }
    std::vector<platform::DirectoryEntry> entries;
    std::string folder;
    if (config::IsUsableRoot(location)) {
        folder = location + "/" + subPath;
        platform::EndWithSlash(folder);
        entries = platform::ListDirectory(folder).value_or(std::vector<platform::DirectoryEntry>{});
    }
    std::erase_if(entries, [](const platform::DirectoryEntry& entry) {
        return entry.hidden ||
               (!entry.isDirectory &&
                !platform::EqualsNoCase(SplitName(entry.name).extension, kShortcutExtension));
    });
    std::sort(entries.begin(), entries.end(),
              [](const platform::DirectoryEntry& a, const platform::DirectoryEntry& b) {
                  if (a.isDirectory != b.isDirectory) return a.isDirectory;
                  return platform::NaturalLess(a.name, b.name);
              });
    for (const platform::DirectoryEntry& entry : entries) {
        const std::string_view stem = SplitName(entry.name).stem;
        std::string row = "<li><a href=\"";
        if (entry.isDirectory) {
            row.append(platform::EscapeHtml(platform::RelativeLink(platform::UrlEncodeName(stem))));
            row.append("/\">").append(pages::Icon("folder", "Folder"));
            row.append(platform::EscapeHtml(stem)).append("</a></li>");
        } else {
            std::string address = ShortcutAddress(folder + entry.name);
            if (address.size() > kMaxShortcutUrlLength) address.resize(kMaxShortcutUrlLength);
            const std::string shown = platform::EscapeHtml(address);
            row.append(shown).append("\">").append(pages::Icon("link", "Web site"));
            row.append(platform::EscapeHtml(stem)).append("</a><span class=\"where\">");
            row.append(shown).append("</span></li>");
        }
        c.AppendBodyLine(row);
    }
    if (entries.empty()) c.AppendBodyLine("<li class=\"empty\">No favorites here.</li>");
    c.AppendBodyLine("</ul>");
}

}  // namespace

void ListFavorites(http::Connection& c, std::string subPath) {
    // The listing stays inside the favorites location.
    if (subPath.find("..") != std::string::npos) {
        c.Answer(http::Response::Error(403));
        return;
    }
    const config::ServerSettings* settings = c.Settings();
    if (c.ModernLook()) {
        pages::AppendPageStart(c, kPage, "Favorites", {}, true);
        if (settings == nullptr || !settings->favoritesEnabled) {
            c.AppendBodyLine("<p>The favorites list is switched off by the administrator.</p>");
        } else {
            AppendModernEntries(c, settings->favoritesLocation, subPath);
            pages::AppendHelpLink(c, kPage);
        }
        pages::AppendPageEnd(c, kPage);
        return;
    }
    pages::AppendPageStart(c, kPage, kTitle, pages::kFullHeightWindow, true);
    if (settings == nullptr || !settings->favoritesEnabled) {
        c.AppendBody(kDisabled);
    } else {
        pages::AppendTableTag(c, kPage);
        pages::AppendRowTag(c, kPage, 0);
        c.AppendBodyLine("<TH>Type</TH><TH>Web Site Name</TH></TR>");
        AppendEntries(c, settings->favoritesLocation, subPath);
        pages::AppendRowTag(c, kPage, 0);
        c.AppendBodyLine("<TD COLSPAN=2 height='30'>");
        pages::AppendHelpLink(c, kPage);
        c.AppendBodyLine("</TD> </TABLE>");
    }
    pages::AppendPageEnd(c, kPage);
}

}  // namespace apps
