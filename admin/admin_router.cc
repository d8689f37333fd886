// The routing table of the administration pages and the pieces they share.
#include "admin/admin_router.h"

#include <string_view>

#include "admin/admin_pages.h"
#include "admin/own_hosts.h"
#include "http/listener.h"
#include "pages/page_template.h"
#include "pages/route_table.h"
#include "platform/resources.h"
#include "platform/text.h"

namespace admin {
namespace {

using pages::Match;
using pages::Route;

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
    {"INBOX/VIEW?", Match::kPrefix, HandleInboxView},
    {"INBOX/DOWNLOAD?", Match::kPrefix, HandleInboxDownload},
    {"INBOX/DELETE", Match::kPrefix, HandleInboxDelete},
    {"INBOX", Match::kExact, HandleInbox},
    {"INBOX/", Match::kExact, HandleInbox},
    {"LICENSEANDDISCLAIMER.HTML", Match::kPrefix, ShowLicenseAndDisclaimer},
    {"RELEASENOTES.HTML", Match::kExact, Document<151>},
    {"COPYRIGHTPOLICYSTATEMENT.HTML", Match::kExact, Document<150>},
    {"LICENSE.HTML", Match::kExact, Document<119>},
    {"TERMSOFUSE.HTML", Match::kExact, Document<152>},
    {"ABOUT.HTML", Match::kExact, Document<107>},
};

constexpr std::string_view kLicenseTerms = "/us/terms/SoftwareLicenseAndDisclaimer.shtml";
constexpr int kLicenseText = 135;

// A request's scheme and the port it stands for when a URL leaves it out.
struct Scheme {
    std::string_view prefix;
    std::string_view defaultPort;
};
constexpr Scheme kHttp{"http://", ":80"};
constexpr Scheme kHttps{"https://", ":443"};

constexpr std::string_view kNotSavedNotice =
    "<P><B>The changes are in effect, but the configuration file could not be saved: ";

// "host[:port]" in small letters and without the scheme's default port.
std::string CanonicalAuthority(std::string_view authority, const Scheme& scheme) {
    std::string canonical = platform::LowerCopy(authority);
    const size_t portLength = scheme.defaultPort.size();
    if (canonical.size() > portLength && canonical.ends_with(scheme.defaultPort)) {
        canonical.resize(canonical.size() - portLength);
    }
    return canonical;
}

// The canonical "host[:port]" of a URL of `scheme`, or nothing for any other URL.
std::optional<std::string> OriginOf(std::string_view url, const Scheme& scheme) {
    if (!platform::StartsWithNoCase(url, scheme.prefix)) return std::nullopt;
    std::string_view authority = url.substr(scheme.prefix.size());
    return CanonicalAuthority(authority.substr(0, authority.find_first_of("/?#")), scheme);
}

// Whether the request's Host is one of the machine's own names or addresses; a request
// without Host (an HTTP/1.0 client's) passes.
bool NamesOwnHost(http::Connection& c) {
    std::optional<std::string_view> host = http::FindHeader(c.request().headerText(), "Host");
    if (!host) return true;
    const http::EngineContext& context = c.server->context();
    return IsOwnHost(*host,
                     FindOwnHosts(context.hostAddress, context.bindAddress, c.Config().adminHosts));
}

}  // namespace

bool IsSameOriginRequest(const http::Connection& c) {
    std::optional<std::string_view> claimed = http::FindHeader(c.request().headerText(), "Origin");
    if (!claimed) claimed = http::FindHeader(c.request().headerText(), "Referer");
    if (!claimed) return true;
    const Scheme& scheme = c.IsTls() || c.ForwardedAsHttps() ? kHttps : kHttp;
    std::optional<std::string> origin = OriginOf(*claimed, scheme);
    std::optional<std::string_view> host = c.ClientForwarded()
                                               ? c.ForwardedAuthority()
                                               : http::FindHeader(c.request().headerText(), "Host");
    return origin && host && *origin == CanonicalAuthority(*host, scheme);
}

void HandleAdmin(http::Connection& c, std::string path) {
    // A local client needs no login here. A page of another site that has its own name
    // resolve to this machine would be such a client: only the machine's own names pass.
    if (c.server != nullptr && !NamesOwnHost(c)) {
        c.Answer(http::Response::Error(403));
        return;
    }
    // Every administration page may change settings when posted to: a form on another site
    // must not be able to post here.
    if (c.request().IsPost() && !IsSameOriginRequest(c)) {
        c.Answer(http::Response::Error(403));
        return;
    }
    std::string_view name = path;
    if (!name.empty() && name.front() == '/') name.remove_prefix(1);
    if (!pages::RunRoute(kRoutes, name, c) && !pages::RunRoute(pages::kNavigationImages, name, c)) {
        c.Answer(http::Response::Error(404));
    }
}

bool FormArrivedWhole(http::Connection& c) {
    if (c.request().IsPost() && c.HeadComplete() && c.DeclaredBodyLength() && !c.BodyCutShort())
        return true;
    c.Answer(http::Response::Error(400));
    return false;
}

std::string ReportNotSaved(http::Connection& c, const std::string& iniPath,
                           const std::string& error) {
    c.ReportToOwner("Could not save the configuration file " + iniPath + ": " + error + ".");
    return std::string(kNotSavedNotice) + platform::EscapeHtml(iniPath) + ": " +
           platform::EscapeHtml(error) + ".</B>";
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
    link.append(pages::kHelpSite).append(kLicenseTerms);
    link.append(
        "\" target='_new'>Click Here To Get The Latest Version Of This Vantry End-User "
        "Software License Agreement</A></P>");
    c.AppendBodyLine(link);
    c.AppendBodyLine("</BODY></HTML>");
}

}  // namespace admin
