// The owner's start page: the server the request came to, where its incoming messages,
// uploads and posts can be seen on the web, and the way to its properties.
#include <optional>
#include <string>
#include <string_view>

#include "admin/admin_pages.h"
#include "config/server_config.h"
#include "pages/page_template.h"
#include "platform/text.h"

namespace admin {
namespace {

constexpr std::string_view kPage = "WebMasterHome";

// One incoming-data directory, its switch and where its help is.
struct IncomingDirectory {
    std::string_view description;
    bool config::ServerSettings::*enabled;
    std::string config::ServerSettings::*location;
    int band;
    std::string_view helpTopic;
};

constexpr IncomingDirectory kIncomingDirectories[] = {
    {"Incoming Messages", &config::ServerSettings::messageUploadEnabled,
     &config::ServerSettings::messageSaveLocation, 1, "CheckingMessages"},
    {"Incoming Uploads", &config::ServerSettings::uploadEnabled,
     &config::ServerSettings::uploadSaveLocation, 2, "CheckingUploads"},
    {"Incoming Posts", &config::ServerSettings::postEnabled,
     &config::ServerSettings::postSaveLocation, 3, "CheckingPosts"},
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

}  // namespace

void WebMasterHome(http::Connection& c) {
    const config::ServerSettings* settings = c.Settings();
    const std::string baseUrl = c.BaseUrl();

    if (c.ModernLook()) {
        pages::AppendPageStart(c, kPage, "WebMaster Home Page", {}, false);
    } else {
        c.AppendBodyLine("<HTML><HEAD><TITLE>");
        c.AppendBodyLine("WebMaster Home Page");
        c.AppendBodyLine(" </TITLE>");
        c.AppendBodyLine("<SCRIPT>window.resizeTo(600, 480);</SCRIPT>");
        pages::AppendHtmlHeader(c, kPage);
        c.AppendBodyLine("</HEAD>");
        pages::AppendBodyTag(c, kPage);
    }
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
