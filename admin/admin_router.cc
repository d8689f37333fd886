// The routing table of the administration pages and the pieces they share.
#include "admin/admin_router.h"

#include <string_view>

#include "admin/admin_pages.h"
#include "apps/page_template.h"
#include "platform/resources.h"
#include "platform/text.h"

namespace admin {
namespace {

enum class Match { kPrefix, kExact };

struct Route {
    std::string_view name;
    Match match;
    void (*answer)(http::Connection&);
};

template <int kId>
void Document(http::Connection& c) {
    c.SendResource(kId, "HTML");
}
template <int kId>
void Gif(http::Connection& c) {
    c.SendResource(kId, "GIF");
}
template <int kId, const std::string_view* kName>
void NavImage(http::Connection& c) {
    apps::SendNavImage(c, kId, "GIF", *kName);
}
void NotFound(http::Connection& c) { c.SetStatus(404); }

constexpr std::string_view kHome = "Home", kSearch = "Search", kFavorites = "Favorites",
                           kDownload = "Download", kUpload = "Upload", kMessage = "Message",
                           kUserList = "UserList";

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
    {"VNTICON.GIF", Match::kExact, Gif<145>},
    // The desktop's bitmaps are no web files.
    {"VNTICON.BMP", Match::kExact, NotFound},
    {"VNTGRAYICON.BMP", Match::kExact, NotFound},
    {"HOME.GIF", Match::kExact, NavImage<137, &kHome>},
    {"SEARCH.GIF", Match::kExact, NavImage<138, &kSearch>},
    {"FAVORITES.GIF", Match::kExact, NavImage<139, &kFavorites>},
    {"DOWNLOAD.GIF", Match::kExact, NavImage<140, &kDownload>},
    {"UPLOAD.GIF", Match::kExact, NavImage<141, &kUpload>},
    {"MESSAGE.GIF", Match::kExact, NavImage<142, &kMessage>},
    {"USERLIST.GIF", Match::kExact, NavImage<143, &kUserList>},
};

constexpr std::string_view kLicenseTerms = "/us/terms/SoftwareLicenseAndDisclaimer.shtml";
constexpr int kLicenseText = 135;

// "scheme://host[:port]" of an absolute URL, in small letters and without the default
// port, or nothing when the URL is no http URL.
std::optional<std::string> OriginOf(std::string_view url) {
    constexpr std::string_view kScheme = "http://";
    if (!platform::StartsWithNoCase(url, kScheme)) return std::nullopt;
    std::string_view authority = url.substr(kScheme.size());
    authority = authority.substr(0, authority.find_first_of("/?#"));
    std::string origin = platform::LowerCopy(authority);
    if (origin.size() > 3 && origin.ends_with(":80")) origin.resize(origin.size() - 3);
    return origin;
}

}  // namespace

bool IsSameOriginRequest(std::string_view headers) {
    std::optional<std::string_view> claimed = http::FindHeader(headers, "Origin");
    if (!claimed) claimed = http::FindHeader(headers, "Referer");
    if (!claimed) return true;
    std::optional<std::string> origin = OriginOf(*claimed);
    std::optional<std::string_view> host = http::FindHeader(headers, "Host");
    if (!origin || !host) return false;
    std::string own = platform::LowerCopy(*host);
    if (own.size() > 3 && own.ends_with(":80")) own.resize(own.size() - 3);
    return *origin == own;
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
    for (const Route& route : kRoutes) {
        bool matches = route.match == Match::kPrefix ? platform::StartsWithNoCase(name, route.name)
                                                     : platform::EqualsNoCase(name, route.name);
        if (matches) {
            route.answer(c);
            return;
        }
    }
    c.SetStatus(404);
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
