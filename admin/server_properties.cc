// The server properties page: both servers' settings side by side in one form.
#include <string>
#include <string_view>

#include "admin/admin_pages.h"
#include "admin/property_rows.h"
#include "pages/page_template.h"
#include "platform/text.h"

namespace admin {
namespace {

constexpr std::string_view kPage = "HandleServerProperties";

// The value cells of a row: Server 1's control, Server 2's control, the help link.
std::string ValueCells(std::string_view control1, std::string_view control2,
                       std::string_view helpTopic) {
    std::string cells = "<TD>";
    cells.append(control1).append("</TD><TD>").append(control2);
    cells.append("</TD><TD><A HREF=\"").append(pages::HelpAddress(helpTopic));
    cells.append("\" target='_new'> Help </A></TD></TR>");
    return cells;
}

// Values are escaped: a quote in a root would otherwise end the attribute, and the next
// save would store the root cut short there.
std::string TextBox(std::string_view name, std::string_view value) {
    std::string box = "<INPUT TYPE='TEXT' NAME='";
    box.append(name).append("' VALUE='").append(platform::EscapeHtml(value));
    box.append("' SIZE='30'>");
    return box;
}

std::string CheckBox(std::string_view name, bool checked) {
    std::string box = "<INPUT TYPE='CHECKBOX' NAME='";
    box.append(name).append("' ").append(checked ? "CHECKED" : "").append(">");
    return box;
}

std::string Control(const PropertyRow& row, std::string_view name,
                    const config::ServerSettings& settings) {
    if (auto text = std::get_if<std::string ServerSettings::*>(&row.setting)) {
        return TextBox(name, settings.*(*text));
    }
    if (auto number = std::get_if<int32_t ServerSettings::*>(&row.setting)) {
        return TextBox(name, std::to_string(static_cast<long>(settings.*(*number))));
    }
    return CheckBox(name, settings.*std::get<bool ServerSettings::*>(row.setting));
}

void AppendSettingRows(http::Connection& c, const config::ServerConfig& config) {
    pages::AppendRowTag(c, kPage, 1);
    c.AppendBodyLine("<TD>Enable Server</TD>");
    c.AppendBodyLine(ValueCells("&nbsp", CheckBox("SECONDPORTENABLED", config.secondPortEnabled),
                                "EnableServer2"));
    for (const PropertyRow& row : kPropertyRows) {
        const std::string field2 = std::string(row.field) + std::string(kServer2Suffix);
        pages::AppendRowTag(c, kPage, row.band);
        c.AppendBodyLine(row.label);
        c.AppendBodyLine(ValueCells(Control(row, row.field, config.servers[0]),
                                    Control(row, field2, config.servers[1]), row.helpTopic));
    }
}

}  // namespace

void HandleServerProperties(http::Connection& c) {
    if (c.ModernLook()) {
        pages::AppendPageStart(c, kPage, "Vantry Server Properties Page", {}, true);
    } else {
        c.AppendBodyLine("<HTML><HEAD><TITLE>");
        c.AppendBodyLine("Vantry Server Properties Page");
        c.AppendBodyLine(
            "</TITLE><SCRIPT>window.resizeTo(710, screen.availHeight);</SCRIPT></HEAD>");
        pages::AppendBodyTag(c, kPage);
        pages::AppendPageHeading(c, kPage);
    }
    c.AppendBodyLine("<FORM METHOD='POST' ACTION='/admin/change.html'>");
    pages::AppendTableTag(c, kPage);
    pages::AppendRowTag(c, kPage, 0);
    c.AppendBodyLine(
        "<TH>Description</TH><TH>Server 1</TH><TH>Server 2</TH><TH width=\"50\"> Help </TH></TR>");

    // The record this request began with: one consistent view, whatever changes meanwhile.
    AppendSettingRows(c, c.Config());

    pages::AppendRowTag(c, kPage, 0);
    c.AppendBodyLine(
        "<TD COLSPAN=2 ALIGN=\"CENTER\"><INPUT TYPE='SUBMIT' NAME='ACTION' VALUE='SAVE'><INPUT "
        "TYPE='SUBMIT' NAME='ACTION' VALUE='MIME'><INPUT TYPE='SUBMIT' NAME='ACTION' "
        "VALUE='SCRIPT'><INPUT TYPE='SUBMIT' NAME='ACTION' VALUE='Virtual Directories'>");
    c.AppendBodyLine("<A HREF=\"" + pages::HelpAddress("SubPropertyButtons") +
                     "\" target='_new'> Help </A></TD>");
    c.AppendBodyLine("<TD COLSPAN=2>");
    pages::AppendHelpLink(c, kPage);
    c.AppendBodyLine("</TR>");
    c.AppendBodyLine("</TABLE></FORM>");
    c.AppendBodyLine("<P><A HREF='ServerProperties.html'>[Cancel Changes]</A></P>");

    pages::AppendPageEnd(c, kPage);
}

}  // namespace admin
