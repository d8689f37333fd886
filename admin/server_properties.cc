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

// The classic form's rows are texts, numbers and switches.
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
        if (row.modernOnly) continue;
        const std::string field2 = std::string(row.field) + std::string(kServer2Suffix);
        pages::AppendRowTag(c, kPage, row.band);
        c.AppendBodyLine(row.label);
        c.AppendBodyLine(ValueCells(Control(row, row.field, config.servers[0]),
                                    Control(row, field2, config.servers[1]), row.helpTopic));
    }
}

// The modern look: one fieldset per feature, each setting a row with its name, a labelled
// control per server and a link to its help.

// The legend of the fieldset of each band of kPropertyRows.
struct Group {
    int band;
    std::string_view legend;
};
constexpr Group kGroups[] = {
    {2, "Website"},        {3, "Website"},    {4, "Website"},    {5, "Website"},
    {6, "Features"},       {7, "Features"},   {8, "Features"},   {9, "Features"},
    {10, "Home page"},     {11, "Favorites"}, {12, "User list"}, {13, "Navigation bar"},
    {14, "File uploads"},  {15, "Messages"},  {16, "Posting"},   {17, "Site redirector"},
    {18, "Network drive"},
};

// The network drive's modes as the modern form offers them.
struct WebDavChoice {
    config::WebDavMode mode;
    std::string_view label;
};
constexpr WebDavChoice kWebDavChoices[] = {
    {config::WebDavMode::kOff, "Off"},
    {config::WebDavMode::kReadOnly, "Read only"},
    {config::WebDavMode::kReadWrite, "Read and write"},
};

std::string_view LegendOf(int band) {
    for (const Group& group : kGroups) {
        if (group.band == band) return group.legend;
    }
    return "Other settings";
}

// The control of one server, with its label "Server 1" or "Server 2"; a screen reader names
// the setting from the group the control stands in (ModernName).
std::string ModernControl(const PropertyRow& row, std::string_view name, int server,
                          const config::ServerSettings& settings) {
    std::string label = "<label for=\"";
    label.append(name).append("\">Server ").append(std::to_string(server)).append("</label>");
    std::string control = "<div class=\"value\">";
    if (auto flag = std::get_if<bool ServerSettings::*>(&row.setting)) {
        control.append("<input type=\"checkbox\" id=\"").append(name).append("\" name=\"");
        control.append(name).append(settings.*(*flag) ? "\" checked>" : "\">").append(label);
    } else if (auto mode = std::get_if<config::WebDavMode ServerSettings::*>(&row.setting)) {
        control.append(label).append("<select id=\"").append(name).append("\" name=\"");
        control.append(name).append("\">");
        for (const WebDavChoice& choice : kWebDavChoices) {
            control.append("<option value=\"").append(config::WebDavModeLetter(choice.mode));
            control.append(settings.*(*mode) == choice.mode ? "\" selected>" : "\">");
            control.append(choice.label).append("</option>");
        }
        control.append("</select>");
    } else {
        std::string value;
        if (auto text = std::get_if<std::string ServerSettings::*>(&row.setting)) {
            value = settings.*(*text);
        } else {
            const int32_t number = settings.*std::get<int32_t ServerSettings::*>(row.setting);
            if (!row.modernOnly || number >= 0) value = std::to_string(static_cast<long>(number));
        }
        control.append(label).append("<input type=\"text\" id=\"").append(name);
        control.append("\" name=\"").append(name).append("\" value=\"");
        control.append(platform::EscapeHtml(value)).append("\">");
    }
    control.append("</div>");
    return control;
}

// The start of a setting's row, a group named by the setting (`id` names its name), with the
// name and its help link in the first cell.
std::string ModernName(const http::Connection& c, std::string_view name, std::string_view id,
                       std::string_view helpTopic) {
    std::string cell = "<div class=\"setting\" role=\"group\" aria-labelledby=\"n-";
    cell.append(id).append("\"><span class=\"name\"><span id=\"n-").append(id).append("\">");
    cell.append(name).append("</span> <a class=\"help\" href=\"");
    cell.append(pages::HelpAddressFor(c, helpTopic)).append("\">Help</a></span>");
    return cell;
}

void AppendModernForm(http::Connection& c, const config::ServerConfig& config) {
    c.AppendBodyLine("<form class=\"properties\" method=\"post\" action=\"/admin/change.html\">");
    // The look is the one setting of the whole program here; a classic form never sends it.
    c.AppendBodyLine("<fieldset><legend>Pages</legend>");
    c.AppendBodyLine(
        "<div class=\"setting\"><span class=\"name\">Look of the generated pages</span>"
        "<div class=\"value\"><label for=\"LOOK\">Look</label><select id=\"LOOK\" "
        "name=\"LOOK\"><option value=\"modern\" selected>Modern</option><option "
        "value=\"classic\">Classic</option></select></div></div>");
    c.AppendBodyLine("</fieldset>");

    c.AppendBodyLine("<fieldset><legend>Servers</legend>");
    c.AppendBodyLine(ModernName(c, "Server enabled", "SECONDPORTENABLED", "EnableServer2") +
                     "<div class=\"value\">Server 1 always runs</div><div class=\"value\">"
                     "<input type=\"checkbox\" id=\"SECONDPORTENABLED\" "
                     "name=\"SECONDPORTENABLED\"" +
                     (config.secondPortEnabled ? " checked" : "") +
                     "><label for=\"SECONDPORTENABLED\">Server 2</label></div></div>");
    std::string_view legend = "Servers";
    for (const PropertyRow& row : kPropertyRows) {
        if (LegendOf(row.band) != legend) {
            legend = LegendOf(row.band);
            c.AppendBodyLine("</fieldset>\n<fieldset><legend>" + std::string(legend) + "</legend>");
        }
        const std::string field2 = std::string(row.field) + std::string(kServer2Suffix);
        c.AppendBodyLine(ModernName(c, row.modern, row.field, row.helpTopic) +
                         ModernControl(row, row.field, 1, config.servers[0]) +
                         ModernControl(row, field2, 2, config.servers[1]) + "</div>");
    }
    c.AppendBodyLine("</fieldset>");

    // The first button is the one Enter presses: saving.
    c.AppendBodyLine(
        "<div class=\"actions\"><button type=\"submit\" name=\"ACTION\" value=\"SAVE\">Save"
        "</button> <button type=\"submit\" name=\"ACTION\" value=\"MIME\">MIME types</button> "
        "<button type=\"submit\" name=\"ACTION\" value=\"SCRIPT\">Scripts</button> <button "
        "type=\"submit\" name=\"ACTION\" value=\"Virtual Directories\">Virtual "
        "directories</button> <a href=\"/admin/ServerProperties.html\">Cancel changes</a> "
        "<a class=\"help\" href=\"" +
        pages::HelpAddressFor(c, "SubPropertyButtons") +
        "\">Help<span class=\"vh\"> on these buttons</span></a></div>");
    c.AppendBodyLine("</form>");
    pages::AppendHelpLink(c, kPage);
}

}  // namespace

void HandleServerProperties(http::Connection& c) {
    if (c.ModernLook()) {
        pages::AppendPageStart(c, kPage, "Server properties", {}, true);
        // The record this request began with: one consistent view, whatever changes meanwhile.
        AppendModernForm(c, c.Config());
        pages::AppendPageEnd(c, kPage);
        return;
    }
    c.AppendBodyLine("<HTML><HEAD><TITLE>");
    c.AppendBodyLine("Vantry Server Properties Page");
    c.AppendBodyLine("</TITLE><SCRIPT>window.resizeTo(710, screen.availHeight);</SCRIPT></HEAD>");
    pages::AppendBodyTag(c, kPage);
    pages::AppendPageHeading(c, kPage);
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
