// The owner's start page: the server the request came to, where its incoming messages,
// uploads and posts can be seen (on the web in the classic look, in the inbox in the modern
// one), the way to its properties and, in the modern look, its address as a QR code.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "admin/admin_pages.h"
#include "config/server_config.h"
#include "pages/page_template.h"
#include "pages/qr_svg.h"
#include "platform/text.h"

namespace admin {
namespace {

constexpr std::string_view kPage = "WebMasterHome";

// One incoming-data directory, its switch and where its help is.
struct IncomingDirectory {
    std::string_view description;
    std::string_view modern;  // the modern look's name
    bool config::ServerSettings::*enabled;
    std::string config::ServerSettings::*location;
    int band;
    std::string_view helpTopic;
    std::string_view inboxSection;  // the modern look's link into the inbox
    size_t InboxCounts::*count;
};

constexpr IncomingDirectory kIncomingDirectories[] = {
    {"Incoming Messages", "Incoming messages", &config::ServerSettings::messageUploadEnabled,
     &config::ServerSettings::messageSaveLocation, 1, "CheckingMessages", "messages",
     &InboxCounts::messages},
    {"Incoming Uploads", "Incoming uploads", &config::ServerSettings::uploadEnabled,
     &config::ServerSettings::uploadSaveLocation, 2, "CheckingUploads", "uploads",
     &InboxCounts::uploads},
    {"Incoming Posts", "Incoming posts", &config::ServerSettings::postEnabled,
     &config::ServerSettings::postSaveLocation, 3, "CheckingPosts", "captures",
     &InboxCounts::captures},
};

// A path without its trailing "/" (but "/" stays "/"), so "/srv/www" and "/srv/www/" name
// the same directory.
std::string_view WithoutTrailingSlash(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    return path;
}

// The address of `directory` on the web when it lies in `root`: the base address for the
// root itself, else the base address, the directory's path below the root and "/". Nothing
// when it lies outside, or when the root is no directory files are served from. Letter case
// is ignored in the comparison.
std::optional<std::string> WebAddressOf(std::string_view directory, std::string_view root,
                                        const std::string& baseUrl) {
    if (!config::IsUsableRoot(root)) return std::nullopt;
    root = WithoutTrailingSlash(root);
    directory = WithoutTrailingSlash(directory);
    if (!platform::StartsWithNoCase(directory, root)) return std::nullopt;
    std::string_view below = directory.substr(root.size());
    if (below.empty()) return baseUrl;
    // "/srv/wwwdata" begins with the text "/srv/www" but does not lie in it.
    if (root.back() != '/') {
        if (below.front() != '/') return std::nullopt;
        below.remove_prefix(1);
    }
    return baseUrl + "/" + std::string(below) + "/";
}

void AppendIncomingRow(http::Connection& c, const IncomingDirectory& row,
                       const config::ServerSettings& settings, const std::string& baseUrl) {
    const std::string& location = settings.*row.location;
    std::string doIt;
    if (location.empty()) {
        doIt = "Path Empty";
    } else if (std::optional<std::string> link =
                   WebAddressOf(location, settings.wwwroot, baseUrl)) {
        doIt = "<A HREF=\"" + platform::EscapeHtml(*link) + "\"> Display </A>";
    } else {
        doIt = "Path Not In Web";
    }
    pages::AppendRowTag(c, kPage, row.band);
    c.AppendBodyLine("<TD>" + std::string(row.description) + "</TD><TD>" + doIt +
                     "</TD><TD><A HREF=\"" + pages::HelpAddress(row.helpTopic) +
                     "\"> Help </A></TD></TR>");
}

// The modern look: every feature in a list, with its state, what it leads to and its help.
std::string ModernFeature(const http::Connection& c, std::string_view name, std::string_view state,
                          std::string_view action, std::string_view helpTopic) {
    std::string item = "<li><span class=\"feature\">";
    item.append(name).append("</span>");
    if (!state.empty()) item.append("<span class=\"state\">").append(state).append("</span>");
    item.append(action).append("<a class=\"help\" href=\"");
    item.append(pages::HelpAddressFor(c, helpTopic)).append("\">Help<span class=\"vh\"> on ");
    item.append(name).append("</span></a></li>");
    return item;
}

// The address of the site for a phone to open: the QR code and the address written beside it.
void AppendSiteCode(http::Connection& c, const std::string& baseUrl) {
    const std::string address = baseUrl + "/";
    const std::string svg = pages::QrCodeSvg(address, "QR code of " + address);
    if (svg.empty()) return;
    const std::string shown = platform::EscapeHtml(address);
    c.AppendBodyLine("<figure class=\"site-code\">" + svg + "<figcaption>Scan to open <a href=\"" +
                     shown + "\">" + shown + "</a></figcaption></figure>");
}

void AppendModernHome(http::Connection& c, const config::ServerSettings* settings,
                      const std::string& baseUrl) {
    pages::AppendPageStart(c, kPage, "Webmaster home", {}, true);
    if (settings != nullptr) {
        c.AppendBodyLine(c.ServerNumber() == 1 ? "<p class=\"status\">Server 1</p>"
                                               : "<p class=\"status\">Server 2</p>");
    }
    c.AppendBodyLine("<ul class=\"features\">");
    if (settings != nullptr) {
        const InboxCounts counts = CountInbox(c.Config().programDirectory, *settings);
        for (const IncomingDirectory& row : kIncomingDirectories) {
            const std::string& location = settings->*row.location;
            const size_t stored = counts.*row.count;
            std::string action = "<span class=\"count\">" + std::to_string(stored) +
                                 (stored == 1 ? " item</span>" : " items</span>");
            if (!(settings->*row.enabled)) {
                action += "<span class=\"note\">Switch it on in the server properties</span>";
            } else if (location.empty()) {
                action += "<span class=\"note\">No folder is set</span>";
            }
            if (!location.empty()) {
                action.append("<a href=\"/admin/inbox#").append(row.inboxSection);
                action.append("\">Open the inbox</a>");
            }
            c.AppendBodyLine(ModernFeature(c, row.modern, settings->*row.enabled ? "On" : "Off",
                                           action, row.helpTopic));
        }
    }
    c.AppendBodyLine(ModernFeature(c, "Server properties", {},
                                   "<a href=\"/admin/ServerProperties.html\">Change them</a>",
                                   "ServerProperties"));
    c.AppendBodyLine(ModernFeature(
        c, "Administering from another machine", {},
        "<a href=\"" + pages::HelpAddressFor(c, "RemoteAdministration") + "\">How to</a>",
        "RemoteAdministration"));
    c.AppendBodyLine("</ul>");
    if (settings != nullptr) AppendSiteCode(c, baseUrl);
    pages::AppendHelpLink(c, kPage);
    pages::AppendPageEnd(c, kPage);
}

}  // namespace

void WebMasterHome(http::Connection& c) {
    const config::ServerSettings* settings = c.Settings();
    const std::string baseUrl = c.BaseUrl();

    if (c.ModernLook()) {
        AppendModernHome(c, settings, baseUrl);
        return;
    }
    c.AppendBodyLine("<HTML><HEAD><TITLE>");
    c.AppendBodyLine("WebMaster Home Page");
    c.AppendBodyLine(" </TITLE>");
    c.AppendBodyLine("<SCRIPT>window.resizeTo(600, 480);</SCRIPT>");
    pages::AppendHtmlHeader(c, kPage);
    c.AppendBodyLine("</HEAD>");
    pages::AppendBodyTag(c, kPage);
    if (settings != nullptr) {
        c.AppendBodyLine(c.ServerNumber() == 1 ? "<H3> Server 1 </H3>" : "<H3> Server 2 </H3>");
    }
    pages::AppendPageHeading(c, kPage);
    pages::AppendTableTag(c, kPage);

    pages::AppendRowTag(c, kPage, 0);
    c.AppendBodyLine("<TH width=\"200\">Description</TH><TH>Do It</TH><TH>Help</TH></TR>");
    if (settings != nullptr) {
        for (const IncomingDirectory& row : kIncomingDirectories) {
            if (settings->*row.enabled) AppendIncomingRow(c, row, *settings, baseUrl);
        }
    }
    pages::AppendRowTag(c, kPage, 4);
    c.AppendBodyLine(
        "<TD>Server Properties</TD><TD><A HREF=\"ServerProperties.html\"> Display </A></TD><TD>"
        "<A HREF=\"" +
        pages::HelpAddress("ServerProperties") + "\"> Help </A></TD></TR>");
    const std::string remoteHelp = pages::HelpAddress("RemoteAdministration");
    pages::AppendRowTag(c, kPage, 5);
    c.AppendBodyLine("<TD>Accessing This Page Remotely</TD><TD><A HREF=\"" + remoteHelp +
                     "\"> Display </A></TD><TD><A HREF=\"" + remoteHelp +
                     "\"> Help </A></TD></TR>");
    pages::AppendRowTag(c, kPage, 0);
    c.AppendBodyLine("<TD COLSPAN=3 height='30'>");
    pages::AppendHelpLink(c, kPage);
    c.AppendBodyLine("</TD> </TABLE>");

    pages::AppendPageEnd(c, kPage);
}

}  // namespace admin
