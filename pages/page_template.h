// The page template every generated page is built from (the applications, the directory
// listing and the administration pages): HTML header, body tag, heading, table and row tags,
// body file, navigation bar and footer, each replaceable by the owner's override files in
// the VNT directory under the server's root; the help links and the navigation images.
#pragma once

#include <string>
#include <string_view>

#include "config/server_config.h"
#include "http/connection.h"

namespace pages {

// The help site the classic pages link to: a help link is its base, "/us/help/vnt/", a
// topic and ".shtml". The modern look links to the help pages the program serves itself
// (pages/help_pages.h).
inline constexpr std::string_view kHelpSite = "http://help.vantry.example";

// The window script of the pages that take the screen's whole height.
inline constexpr std::string_view kFullHeightWindow =
    "<SCRIPT>window.resizeTo(600, screen.availHeight);</SCRIPT>";

// The help page of `topic` on the classic pages' help site.
std::string HelpAddress(std::string_view topic);
// The help of `topic` as the connection's look links it: the local help page in the modern
// look (LocalHelpAddress), the help site's page in the classic one.
std::string HelpAddressFor(const http::Connection& c, std::string_view topic);

// Appends the override file `file` of page `page` (page-specific first, then site-wide)
// followed by CR LF; false when the owner has neither.
bool AppendTemplateFile(http::Connection& c, std::string_view page, std::string_view file);

void AppendHtmlHeader(http::Connection& c, std::string_view page);
void AppendBodyTag(http::Connection& c, std::string_view page);
// The sponsor banner: there is none, so nothing is appended.
void AppendBanner(http::Connection& c, std::string_view page);
// The owner's heading file, else the page's built-in heading; nothing when page headings
// are off.
void AppendPageHeading(http::Connection& c, std::string_view page);
void AppendTableTag(http::Connection& c, std::string_view page);
// A table row: band 0 is the header row, odd bands the odd rows, even ones the even rows.
void AppendRowTag(http::Connection& c, std::string_view page, int band);
void AppendBodyFile(http::Connection& c, std::string_view page);
// The modern look's navigation: the switched-on features of `settings` as text links.
std::string ModernNavigation(const config::ServerSettings& settings);
// The owner's navigation bar, else one built from the switched-on features.
void AppendNavigationBar(http::Connection& c, std::string_view page);
void AppendFooter(http::Connection& c, std::string_view page);
// The modern look's stylesheet and the upload page's script: their addresses, and the
// embedded files they are.
inline constexpr std::string_view kStylesheetPath = http::kModernStylesheetPath;
inline constexpr int kStylesheetResource = 160;
inline constexpr std::string_view kUploadScriptPath = "/VNT/upload.js";
inline constexpr int kUploadScriptResource = 161;
// Sends the stylesheet or the script when `routePath` (without its leading "/") names one,
// for a browser to keep for a day; false when it names neither.
bool SendPageAsset(http::Connection& c, std::string_view routePath);

// The start of a standard page: the title and window script, the HTML header, the body tag
// and the banner, then the page heading when `withHeading` (list pages).
void AppendPageStart(http::Connection& c, std::string_view page, std::string_view title,
                     std::string_view windowScript, bool withHeading);
// The end every page shares: body file, navigation bar, footer and the closing tags.
void AppendPageEnd(http::Connection& c, std::string_view page);

// The right-aligned "Help" link of a page: to the help site in the classic look, to the
// page's local help in the modern one.
void AppendHelpLink(http::Connection& c, std::string_view page);

// Sends a navigation-bar image: the owner's file "<name>.<type>" in the VNT directory when
// there is one (true), else the embedded image `resourceId` (false).
bool SendNavImage(http::Connection& c, int resourceId, std::string_view type,
                  std::string_view name);

// What the page after a submission says when the submission was refused.
inline constexpr std::string_view kNotEnabled = "Feature Not Enabled By Administrator";
inline constexpr std::string_view kSizeUnknown = "Object Size Could Not be Determined";
inline constexpr std::string_view kTooLarge = "Object Is Larger Than Allowed By Administrator";

// The page after a submission: title, message, help link and the closing pieces.
void AppendAcknowledgement(http::Connection& c, std::string_view page, std::string_view title,
                           std::string_view message);

// The local date and time as the year, month, day, hour, minute, second and millisecond
// written one after another without padding: a name no two requests share in practice.
std::string MakeTimestamp();

}  // namespace pages
