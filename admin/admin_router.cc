// The routing table of the administration pages and the pieces they share.
#include "admin/admin_router.h"

#include <string_view>

#include "admin/admin_pages.h"
#include "apps/page_template.h"
#include "apps/route_table.h"
#include "platform/resources.h"
#include "platform/text.h"

namespace admin {
namespace {

using apps::Match;
using apps::Route;

template <int kId>
void Document(http::Connection& c) {
    c.SendResource(kId, "HTML");
}

// In the order the names are tried: "CHANGE.HTML" is no prefix of "CHANGEMIME.HTML", so the
// mapping handlers are reached although the property handler comes first.
constexpr Route kRoutes[] = {
    {"VERSION.HTML", Match::kExact, Document<124>},
    {"", Match::kExact, WebMasterHome},
    {"INDEX.HTML", Match::kExact, WebMasterHome},
    {"SERVERPROPERTIES.HTML", Match::kPrefix, HandleServerProperties},
    {"CHANGE.HTML", Match::kPrefix, HandleChange},
    {"DELMIME.HTML", Match::kPrefix, HandleDeleteMime},
    {"CHANGEMIME.HTML", Match::kPrefix, HandleChangeMime},
    {"DELSCRIPT.HTML", Match::kPrefix, HandleDeleteScript},
    {"CHANGESCRIPT.HTML", Match::kPrefix, HandleChangeScript},
    {"DELETEVIRTUALDIRECTORY.HTML", Match::kPrefix, HandleDeleteVirtualDirectory},
    {"CHANGEVIRTUALDIRECTORY.HTML", Match::kPrefix, HandleChangeVirtualDirectory},
    {"LICENSEANDDISCLAIMER.HTML", Match::kPrefix, ShowLicenseAndDisclaimer},
    {"RELEASENOTES.HTML", Match::kExact, Document<151>},
    {"COPYRIGHTPOLICYSTATEMENT.HTML", Match::kExact, Document<150>},
    {"LICENSE.HTML", Match::kExact, Document<119>},
    {"TERMSOFUSE.HTML", Match::kExact, Document<152>},
    {"ABOUT.HTML", Match::kExact, Document<107>},
};

constexpr std::string_view kLicenseTerms = "/us/terms/SoftwareLicenseAndDisclaimer.shtml";
constexpr int kLicenseText = 135;

// "host[:port]" in small letters and without the default port.
std::string CanonicalAuthority(std::string_view authority) {
    std::string canonical = platform::LowerCopy(authority);
    if (canonical.size() > 3 && canonical.ends_with(":80")) canonical.resize(canonical.size() - 3);
    return canonical;
}

// The canonical "host[:port]" of an http URL, or nothing for any other URL.
std::optional<std::string> OriginOf(std::string_view url) {
    constexpr std::string_view kScheme = "http://";
    if (!platform::StartsWithNoCase(url, kScheme)) return std::nullopt;
    std::string_view authority = url.substr(kScheme.size());
    return CanonicalAuthority(authority.substr(0, authority.find_first_of("/?#")));
}

}  // namespace

bool IsSameOriginRequest(std::string_view headers) {
    std::optional<std::string_view> claimed = http::FindHeader(headers, "Origin");
    if (!claimed) claimed = http::FindHeader(headers, "Referer");
    if (!claimed) return true;
    std::optional<std::string> origin = OriginOf(*claimed);
    std::optional<std::string_view> host = http::FindHeader(headers, "Host");
    return origin && host && *origin == CanonicalAuthority(*host);
}

void HandleAdmin(http::Connection& c, std::string path) {
    // Every administration page may change settings when posted to, and a local client needs
    // no login: a form on another site must not be able to post here.
    if (c.isPost && !IsSameOriginRequest(c.headers)) {
        c.SetStatus(403);
        return;
    }
    std::string_view name = path;
    if (!name.empty() && name.front() == '/') name.remove_prefix(1);
    if (!apps::RunRoute(kRoutes, name, c) && !apps::RunRoute(apps::kNavigationImages, name, c)) {
        c.SetStatus(404);
    }
}

void AppendContinueForm(http::Connection& c) {
    c.AppendBodyLine("<FORM METHOD='POST' ACTION='/admin/ServerProperties.html'>");
    c.AppendBodyLine("<INPUT TYPE='SUBMIT' VALUE='Continue'>");
    c.AppendBodyLine("</FORM>");
}

void ShowLicenseAndDisclaimer(http::Connection& c) {
    std::string_view text = platform::FindResource(kLicenseText).value_or("");
    // The text ends where a zero byte would end it.
    text = text.substr(0, text.find('\0'));
    c.AppendBodyLine(
        "<HTML><HEAD><TITLE>Software License And Disclaimer</TITLE><SCRIPT>window.resizeTo(500, "
        "screen.availHeight);</SCRIPT></HEAD><BODY BGCOLOR='#ffffff'><H1> Software License And "
        "Disclaimer</H1>");
    c.AppendBodyLine("<PRE>");
    c.AppendBodyLine(text);
    c.AppendBodyLine("</PRE>");
    std::string link = "<P><A href=\"";
    link.append(apps::kHelpSite).append(kLicenseTerms);
    link.append("\" target='_new'>Click Here To Get The Latest Version Of This Vantry End-User "
                "Software License Agreement</A></P>");
    c.AppendBodyLine(link);
    c.AppendBodyLine("</BODY></HTML>");
}

}  // namespace admin
