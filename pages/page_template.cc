// The page template: the pieces of every generated page and the owner's override files.
#include "pages/page_template.h"

#include <cstdio>

#include "config/server_config.h"
#include "http/response.h"
#include "pages/help_pages.h"
#include "platform/clock.h"
#include "platform/file_io.h"
#include "platform/resources.h"
#include "platform/text.h"

namespace pages {
namespace {

constexpr std::string_view kHelpSitePath = "/us/help/vnt/";
constexpr std::string_view kOverrideDirectory = "VNT/";
constexpr std::string_view kSiteWidePrefix = "Site";
// Override files and images are small; anything larger is not read into a page.
constexpr size_t kMaxOverrideBytes = 4 * 1024 * 1024;

// A page's built-in heading: the classic markup, and the words of the modern look.
struct Heading {
    std::string_view page;
    std::string_view text;
    std::string_view modern;
};
constexpr Heading kHeadings[] = {
    {"FileList", "<H2>Download</H2>", "Files"},
    {"Favorites", "<H2>Favorites Listng</H2>", "Favorites"},
    {"FileUpload", "<H2>File Upload</H2>", "File upload"},
    {"UserList", "<H2>User List</H2>", "User list"},
    {"Search", "<H2>Search</H2>", "Search"},
    {"HandleSearch", "<H2>Search Results</H2>", "Search results"},
    {"SendMessage", "<H2>Send Message</H2>", "Send a message"},
    {"HandleSendMessage", "<H2>Message Received</H2>", "Message received"},
    {"Navigator", "<H2>Navigator</H2>", "Navigator"},
    {"HandlePost", "<H2>Data Received</H2>", "Data received"},
    {"WebMasterHome", "<H2>WebMaster Home Page</H2>", "Webmaster home"},
    {"HandleServerProperties", "<H2>Vantry Server Properties Page</H2>", "Server properties"},
};

// One button of the navigation bar: its switch, where it leads (after the base address;
// empty for the home page) and its image.
struct NavButton {
    bool config::ServerSettings::*enabled;
    std::string_view target;
    std::string_view image;
    std::string_view label;  // the modern look's text
};
constexpr NavButton kNavButtons[] = {
    {&config::ServerSettings::homeEnabled, "", "home.gif", "Home"},
    {&config::ServerSettings::searchEnabled, "/VNT/search.html", "search.gif", "Search"},
    {&config::ServerSettings::favoritesEnabled, "/VNT/FAVORITES/", "favorites.gif", "Favorites"},
    {&config::ServerSettings::list, "/VNTFileDownload.html", "download.gif", "Download"},
    {&config::ServerSettings::uploadEnabled, "/VNT/fileupload.html", "upload.gif", "Upload"},
    {&config::ServerSettings::messageUploadEnabled, "/VNT/sendmessage.html", "message.gif",
     "Message"},
    {&config::ServerSettings::userListEnabled, "/VNT/userlist.html", "userlist.gif", "Users"},
};

// The VNT directory of the connection's server, ending in "/"; empty when the server has
// no root files may be read from.
std::string OverrideDirectory(const http::Connection& c) {
    const config::ServerSettings* settings = c.Settings();
    if (settings == nullptr || !config::IsUsableRoot(settings->wwwroot)) return {};
    std::string directory = settings->wwwroot;
    platform::EndWithSlash(directory);
    directory.append(kOverrideDirectory);
    return directory;
}

// "<TAG properties >", with the second server's tags written with two spaces.
void AppendPropertyTag(http::Connection& c, std::string_view tag,
                       const std::string config::ServerSettings::*properties) {
    const config::ServerSettings* settings = c.Settings();
    std::string line = "<";
    line.append(tag).append(c.ServerNumber() == 2 ? "  " : " ");
    if (settings != nullptr) line.append(settings->*properties);
    line.append(" >");
    c.AppendBodyLine(line);
}

// The start of a page in the modern look, with its navigation at the top, up to the opening
// of its main part.
void AppendModernStart(http::Connection& c, std::string_view page, std::string_view title) {
    std::string head;
    http::AppendModernHead(title, &head);
    c.AppendBodyLine(head);
    AppendHtmlHeader(c, page);
    c.AppendBodyLine("</head>\n<body>");
    AppendNavigationBar(c, page);
    c.AppendBodyLine("<main>");
}

}  // namespace

// Addressed from the root, so that the links hold behind a proxy and over HTTPS alike.
std::string ModernNavigation(const config::ServerSettings& settings) {
    std::string bar = "<nav class=\"site\" aria-label=\"Site\">";
    for (const NavButton& button : kNavButtons) {
        if (!(settings.*button.enabled)) continue;
        bar.append("<a href=\"").append(button.target.empty() ? "/" : button.target);
        bar.append("\">").append(button.label).append("</a>");
    }
    bar.append("</nav>");
    return bar;
}

std::string HelpAddress(std::string_view topic) {
    std::string address(kHelpSite);
    address.append(kHelpSitePath).append(topic).append(".shtml");
    return address;
}

std::string HelpAddressFor(const http::Connection& c, std::string_view topic) {
    return c.ModernLook() ? LocalHelpAddress(topic) : HelpAddress(topic);
}

bool AppendTemplateFile(http::Connection& c, std::string_view page, std::string_view file) {
    std::string directory = OverrideDirectory(c);
    if (directory.empty()) return false;
    std::string path = directory + std::string(page) + std::string(file);
    if (!platform::FileExists(path)) {
        path = directory + std::string(kSiteWidePrefix) + std::string(file);
        if (!platform::FileExists(path)) return false;
    }
    // A file that vanished or cannot be read contributes nothing, but still counts as found.
    if (std::optional<std::string> text =
            platform::ReadWholeFile(path, kMaxOverrideBytes, nullptr)) {
        c.AppendBodyLine(*text);
    }
    return true;
}

void AppendHtmlHeader(http::Connection& c, std::string_view page) {
    AppendTemplateFile(c, page, "HTMLHeader.html");
}

void AppendBodyTag(http::Connection& c, std::string_view) {
    AppendPropertyTag(c, "BODY", &config::ServerSettings::vpPageProperties);
}

void AppendBanner(http::Connection&, std::string_view) {}

void AppendPageHeading(http::Connection& c, std::string_view page) {
    const config::ServerSettings* settings = c.Settings();
    if (settings == nullptr || !settings->vpEnablePageHeaders) return;
    if (AppendTemplateFile(c, page, "Header.html")) return;
    for (const Heading& heading : kHeadings) {
        if (platform::EqualsNoCase(heading.page, page)) {
            if (c.ModernLook()) {
                c.AppendBodyLine("<h1>" + std::string(heading.modern) + "</h1>");
            } else {
                c.AppendBodyLine(heading.text);
            }
            return;
        }
    }
}

void AppendTableTag(http::Connection& c, std::string_view) {
    if (c.ModernLook()) {
        c.AppendBodyLine("<table>");
        return;
    }
    AppendPropertyTag(c, "TABLE", &config::ServerSettings::vpTableProperties);
}

void AppendRowTag(http::Connection& c, std::string_view, int band) {
    if (c.ModernLook()) {
        c.AppendBodyLine(band == 0 ? "<tr class=\"head\">" : "<tr>");
        return;
    }
    const config::ServerSettings* settings = c.Settings();
    std::string line = "<TR ";
    if (settings != nullptr) {
        if (band == 0) {
            line.append(settings->vpTHRowProperties);
        } else if (band % 2 == 1) {
            line.append(settings->vpOddRowProperties);
        } else {
            line.append(settings->vpEvenRowProperties);
        }
    }
    line.append(" >");
    c.AppendBodyLine(line);
}

void AppendBodyFile(http::Connection& c, std::string_view page) {
    AppendTemplateFile(c, page, "Body.html");
}

void AppendNavigationBar(http::Connection& c, std::string_view page) {
    const config::ServerSettings* settings = c.Settings();
    if (settings == nullptr) return;
    if (!settings->universalNavBarEnabled && page != "Navigator") return;
    if (AppendTemplateFile(c, page, "NavBar.html")) return;
    if (c.ModernLook()) {
        c.AppendBodyLine(ModernNavigation(*settings));
        return;
    }
    // The administration pages take their images from /Admin/, the others from /VNT/.
    const bool admin = page == "HandleServerProperties" || page == "WebMasterHome";
    const std::string base = c.BaseUrl();
    std::string bar = "<P><table border='0'>\n<tr>\n";
    for (const NavButton& button : kNavButtons) {
        if (!(settings->*button.enabled)) continue;
        bar.append("<TD><A HREF='").append(base).append(button.target).append("' ");
        bar.append(settings->vpNavBarBtnProperties);
        bar.append("><IMG border='0' SRC='").append(base).append(admin ? "/Admin/" : "/VNT/");
        bar.append(button.image).append("' ").append(settings->vpNavBarBtnImgProperties);
        bar.append("></A></TD>\n");
    }
    bar.append("</tr>\n</table></P>\n");
    c.AppendBodyLine(bar);
}

void AppendFooter(http::Connection& c, std::string_view page) {
    AppendTemplateFile(c, page, "Footer.html");
}

void AppendPageStart(http::Connection& c, std::string_view page, std::string_view title,
                     std::string_view windowScript, bool withHeading) {
    if (c.ModernLook()) {
        // No window script: a page does not resize the visitor's browser.
        AppendModernStart(c, page, title);
        if (withHeading) AppendPageHeading(c, page);
        return;
    }
    c.AppendBodyLine("<HTML><HEAD><TITLE>");
    c.AppendBodyLine(title);
    c.AppendBodyLine("</TITLE>");
    c.AppendBodyLine(windowScript);
    AppendHtmlHeader(c, page);
    c.AppendBodyLine("</HEAD>");
    AppendBodyTag(c, page);
    AppendBanner(c, page);
    if (withHeading) AppendPageHeading(c, page);
}

void AppendPageEnd(http::Connection& c, std::string_view page) {
    AppendBodyFile(c, page);
    if (c.ModernLook()) {
        // The navigation came at the top (AppendPageStart).
        c.AppendBodyLine("</main>");
        AppendFooter(c, page);
        c.AppendBodyLine("</body></html>");
        return;
    }
    AppendNavigationBar(c, page);
    AppendFooter(c, page);
    c.AppendBodyLine("</BODY></HTML>");
}

void AppendHelpLink(http::Connection& c, std::string_view page) {
    if (c.ModernLook()) {
        c.AppendBodyLine("<p class=\"help\"><a href=\"" + LocalHelpAddress(page) +
                         "\">Help</a></p>");
        return;
    }
    std::string link =
        "<div align='right'><font size='2' face='Verdana,Arial,Helvetica' "
        "color='White'> <A href=\"";
    link.append(HelpAddress(page)).append("\" target='_new'>Help</A> &nbsp</b></font></div>");
    c.AppendBodyLine(link);
}

bool SendNavImage(http::Connection& c, int resourceId, std::string_view type,
                  std::string_view name) {
    std::string directory = OverrideDirectory(c);
    if (!directory.empty()) {
        std::string path = directory + std::string(name) + "." + std::string(type);
        if (platform::FileExists(path)) {
            if (std::optional<std::string> image =
                    platform::ReadWholeFile(path, kMaxOverrideBytes, nullptr)) {
                c.SendData(*image, type);
                return true;
            }
        }
    }
    c.SendResource(resourceId, type);
    return false;
}

void AppendAcknowledgement(http::Connection& c, std::string_view page, std::string_view title,
                           std::string_view message) {
    if (c.ModernLook()) {
        AppendModernStart(c, page, title);
        c.AppendBodyLine("<h1>" + std::string(title) + "</h1>\n<p>" + std::string(message) +
                         "</p>");
        AppendPageEnd(c, page);
        return;
    }
    c.AppendBodyLine("<HTML><HEAD><TITLE>");
    c.AppendBodyLine(title);
    c.AppendBodyLine("</TITLE>");
    c.AppendBodyLine("<SCRIPT>window.resizeTo(600, 450);</SCRIPT>");
    AppendHtmlHeader(c, page);
    c.AppendBodyLine("</HEAD>");
    AppendBodyTag(c, page);
    AppendBanner(c, page);
    c.AppendBodyLine("<TABLE width=555 border=0 CELLSPACING='2' CELLPADDING='10'>");
    AppendRowTag(c, page, 0);
    c.AppendBodyLine("<td height='60'><font  face='Garamond' size='6'>");
    c.AppendBodyLine(title);
    c.AppendBodyLine("</font></TD></TR>");
    AppendRowTag(c, page, 1);
    c.AppendBodyLine("<TD><font  face='Garamond' size='5'>");
    c.AppendBodyLine(message);
    c.AppendBodyLine("</font>");
    c.AppendBodyLine("</TD></TR>");
    AppendRowTag(c, page, 0);
    c.AppendBodyLine("<TD COLSPAN=3 height='60'>");
    AppendHelpLink(c, page);
    c.AppendBodyLine("</TD> </TABLE>");
    AppendPageEnd(c, page);
}

bool SendPageAsset(http::Connection& c, std::string_view routePath) {
    int resource = 0;
    std::string_view type;
    if (platform::EqualsNoCase(routePath, kStylesheetPath.substr(1))) {
        resource = kStylesheetResource;
        type = "Content-Type: text/css; charset=utf-8";
    } else if (platform::EqualsNoCase(routePath, kUploadScriptPath.substr(1))) {
        resource = kUploadScriptResource;
        type = "Content-Type: text/javascript; charset=utf-8";
    } else {
        return false;
    }
    std::optional<std::string_view> data = platform::FindResource(resource);
    if (!data) {
        c.Answer(http::Response::Error(404));
        return true;
    }
    constexpr int kDay = 24 * 60 * 60;
    c.SendUnchanging(*data, type, kDay);
    return true;
}

std::string MakeTimestamp() {
    platform::CalendarTime t = platform::LocalNow();
    char text[96];
    std::snprintf(text, sizeof text, "%d%d%d%d%d%d%d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second, t.millisecond);
    return text;
}

}  // namespace pages
