// The user list page: the visitor table with each visitor's address, links to the
// visitor's own web, FTP and search pages, the hits and the time of the last visit.
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "apps/application_pages.h"
#include "apps/visitor_table.h"
#include "http/http_date.h"
#include "pages/page_template.h"
#include "platform/ip_address.h"
#include "platform/text.h"

namespace apps {
namespace {

constexpr std::string_view kPage = "UserList";
constexpr std::string_view kTitle = "User List";
constexpr std::string_view kDisabled =
    "<H2>The User List Is Currently Disabled By The Administrator<H2>";
constexpr std::string_view kColumns =
    "<TH>IP Address</TH><TH>WEB</TH><TH>FTP</TH><TH>SEARCH</TH><TH>Hits</TH>"
    "<TH>Last Accessed</TH></TR>";

// One visitor's cells; the user's name leads when the server asks for logins.
std::string VisitorCells(const Visitor& visitor, bool withUser) {
    const std::string address = visitor.address.Text();
    const std::string web = "http://" + platform::UrlHost(address);
    std::string cells;
    if (withUser) cells = "<TD>" + platform::EscapeHtml(visitor.userName) + "</TD>";
    cells += "<TD><A HREF=\"" + web + "\"> " + address + " </A><TD><A HREF=\"" + web +
             "\">WEB</TD><TD><A HREF=\"" + web + ":21\">FTP</TD><TD><A HREF=\"" + web +
             "/VNT/Search.html\">SEARCH</TD></TD><TD>" + std::to_string(visitor.hits) +
             "</TD><TD>" + http::FormatHttpDate(visitor.lastAccess) + "</TD></TR>";
    return cells;
}

// The modern look's table: one row per visitor, with the columns named in its head.
void AppendModernTable(http::Connection& c, bool withUser) {
    c.AppendBodyLine("<div class=\"table-wrap\"><table class=\"visitors\">");
    c.AppendBodyLine(std::string("<thead><tr>") + (withUser ? "<th scope=\"col\">User</th>" : "") +
                     "<th scope=\"col\">IP address</th><th scope=\"col\">Visits</th>"
                     "<th scope=\"col\">Last visit</th><th scope=\"col\">Open</th></tr>"
                     "</thead>\r\n<tbody>");
    size_t i = 0;
    for (; std::optional<Visitor> visitor = Visitors().CopyVisitor(i); ++i) {
        const std::string address = visitor->address.Text();
        const std::string web = "http://" + platform::UrlHost(address);
        const platform::CalendarTime& t = visitor->lastAccess;
        char when[64];
        std::snprintf(when, sizeof when, "%04d-%02d-%02d %02d:%02d", t.year, t.month, t.day, t.hour,
                      t.minute);
        std::string row = "<tr>";
        if (withUser) row += "<td>" + platform::EscapeHtml(visitor->userName) + "</td>";
        row += "<td>" + address + "</td><td>" + std::to_string(visitor->hits) + "</td><td>" + when +
               "</td><td><a href=\"" + web + "/\">Web</a> <a href=\"" + web +
               "/VNT/search.html\">Search</a> <a href=\"ftp://" + platform::UrlHost(address) +
               "/\">FTP</a></td></tr>";
        c.AppendBodyLine(row);
    }
    c.AppendBodyLine("</tbody></table></div>");
    if (i == 0) c.AppendBodyLine("<p class=\"empty\">No visitors yet.</p>");
}

}  // namespace

void UserListPage(http::Connection& c) {
    const config::ServerSettings* settings = c.Settings();
    // The columns follow this server's login setting, whoever recorded the entries.
    const bool withUser = settings != nullptr && settings->authRequired;
    if (c.ModernLook()) {
        pages::AppendPageStart(c, kPage, "Users", {}, true);
        if (settings == nullptr || !settings->userListEnabled) {
            c.AppendBodyLine("<p>The user list is switched off by the administrator.</p>");
        } else {
            AppendModernTable(c, withUser);
            pages::AppendHelpLink(c, kPage);
        }
        pages::AppendPageEnd(c, kPage);
        return;
    }
    pages::AppendPageStart(c, kPage, kTitle, pages::kFullHeightWindow, true);
    if (settings == nullptr || !settings->userListEnabled) {
        c.AppendBodyLine(kDisabled);
    } else {
        pages::AppendTableTag(c, kPage);
        pages::AppendRowTag(c, kPage, 0);
        c.AppendBodyLine(withUser ? "<TH>User</TH>" + std::string(kColumns)
                                  : std::string(kColumns));
        // Entries recorded while the page is built may or may not show.
        for (size_t i = 0; std::optional<Visitor> visitor = Visitors().CopyVisitor(i); ++i) {
            pages::AppendRowTag(c, kPage, static_cast<int>(i) + 1);
            c.AppendBodyLine(VisitorCells(*visitor, withUser));
        }
        pages::AppendRowTag(c, kPage, 0);
        c.AppendBodyLine(withUser ? "<TD COLSPAN=7 height='30'>" : "<TD COLSPAN=6 height='30'>");
        pages::AppendHelpLink(c, kPage);
        c.AppendBodyLine("</TD> </TABLE>");
    }
    pages::AppendPageEnd(c, kPage);
}

}  // namespace apps
