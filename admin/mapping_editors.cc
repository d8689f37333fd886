// The MIME, script and virtual-directory editors: one implementation driven by a table per
// family, since the three differ only in their texts and in the table they edit.
#include <array>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "admin/admin_pages.h"
#include "admin/admin_router.h"
#include "config/mapping_tables.h"
#include "http/listener.h"
#include "pages/page_template.h"
#include "platform/text.h"

namespace admin {
namespace {

// The buffers the handlers read form fields into: a value keeps at most 255 characters.
constexpr size_t kFieldNameCapacity = 80;
constexpr size_t kFieldValueCapacity = 256;

// A piece of a page that is one line for one family and two for another; an empty second
// line is not appended.
using Lines = std::array<std::string_view, 2>;

// What the modern look shows of a family: its page's title and introduction, the names of
// a row's two fields, and where its forms post.
struct ModernFamily {
    std::string_view title;
    std::string_view introduction;
    std::string_view keyName;
    std::string_view valueName;
    std::string_view changePath;
    std::string_view deletePath;
};

struct Family {
    std::string_view helpPage;
    std::string_view modernName;  // what a row is called in the modern look
    ModernFamily modern;
    std::string_view introduction;  // up to and including the table's header row
    Lines addFormStart;
    Lines addFormFields;
    std::string_view deleteFormStart;
    std::string_view deleteFormFields;
    Lines changed;
    Lines deleted;
    bool (*set)(const std::string&, std::string_view, std::string_view, std::string*);
    std::string (*get)(const std::string&, std::string_view);
    bool (*remove)(const std::string&, std::string_view, std::string*);
    std::vector<std::string> (*list)(const std::string&);
};

constexpr std::string_view kConfirmationHead =
    "<HTML><HEAD><TITLE>Changes Made</TITLE><SCRIPT>window.resizeTo(500, 300);</SCRIPT></HEAD>"
    "<BODY BGCOLOR='#ffffff'>";
constexpr std::string_view kNotMade =
    "<HTML><HEAD><TITLE>Changes Not Made</TITLE><SCRIPT>window.resizeTo(500, 300);</SCRIPT>"
    "</HEAD><BODY BGCOLOR='#ffffff'><H1> The change you requested could not be made.</H1>";
constexpr std::string_view kDeleteExtensionFields =
    "<TR><TD>File Extension to Delete:</TD><TD><INPUT TYPE='TEXT' NAME='EXT'></TD></TR></TABLE>"
    "<INPUT TYPE='SUBMIT' VALUE='Delete'></FORM><HR>";

constexpr Family kMime{
    "HandleMime",
    "MIME mapping",
    {"MIME types",
     "<p>A MIME type tells the browser what kind of file it receives. Here a file extension is "
     "given the MIME type sent with its files.</p>",
     "File extension (such as .gif)", "MIME type", "/admin/changemime.html", "/admin/delmime.html"},
    "<HTML><HEAD><TITLE>MIME Config</TITLE><SCRIPT>window.resizeTo(500, screen.availHeight);"
    "</SCRIPT></HEAD><BODY BGCOLOR='#ffffff'><H1>MIME Type Configuration</H1><P>Mime types allow "
    "a web server to communicate to a browser what sort of file is being sent.  Web browsers "
    "recognize standard mime tags. This utility allows you to associate certain MIME tags with "
    "file extensions.</P><TABLE BORDER=1><TR><TD><B>File Extension(i.e. .gif, .jpg, .html etc)"
    "</B></TD><TD><B>Mime Tag to Map</B></TD></TR>",
    {"</TABLE><HR><FORM METHOD='POST' ACTION='/admin/changemime.html'><H2>Add/Change a MIME "
     "Mapping</H2>"},
    {"<TABLE><TR><TD>File Extension</TD><TD><INPUT TYPE='TEXT' NAME='EXT'></TD></TR><TR><TD>Mime "
     "Mapping</TD><TD><INPUT TYPE='TEXT' NAME='TAG'></TD></TR></TABLE><INPUT TYPE='SUBMIT' "
     "VALUE='Add/Change'></FORM>"},
    "<HR><FORM METHOD='POST' ACTION='/admin/delmime.html'><H2>Delete a MIME Mapping</H2>",
    kDeleteExtensionFields,
    {kConfirmationHead, "<H1> The MIME changes you requested have been made.</H1>"},
    {kConfirmationHead, "<H1> The MIME tag you requested has been deleted.</H1>"},
    config::SetMime,
    config::GetMime,
    config::DeleteMime,
    config::ListMime,
};

constexpr Family kScript{
    "HandleScript",
    "script mapping",
    {"Scripts",
     "<p>A program in the /cgi-bin folder that needs an interpreter to run (Perl, say) is run "
     "with the interpreter given for its extension. Programs run only while \"Run programs in "
     "the /cgi-bin folder\" is switched on in the server properties.</p>",
     "File extension (such as .pl)", "Script interpreter (full path)", "/admin/changescript.html",
     "/admin/delscript.html"},
    "<HTML><HEAD><TITLE>Script Config</TITLE><SCRIPT>window.resizeTo(500, screen.availHeight);"
    "</SCRIPT></HEAD><BODY BGCOLOR='#ffffff'><H1>Script Configuration</H1><P>If any of the files "
    "in your cgi-bin directory require a script program to run(i.e. perl) the extension must be "
    "listed, as well as the script program to run.</P><P>The Use Enable /cgi-bin directory "
    "option on the server properties page must be enabled in order for scripts or cgi programs "
    "to be executed.</P><TABLE BORDER=1><TR><TD><B>File Extension(i.e. .cgi, .pl, etc)</B></TD>"
    "<TD><B>Script Interpreter</B></TD></TR>",
    {"</TABLE>",
     "<HR><FORM METHOD='POST' ACTION='/admin/changescript.html'><H2>Add/Change a Script "
     "Mapping</H2>"},
    {"<TABLE>",
     "<TR><TD>File Extension</TD><TD><INPUT TYPE='TEXT' NAME='EXT'></TD></TR><TR><TD>Script "
     "Interpreter(full path)</TD><TD><INPUT TYPE='TEXT' NAME='TAG'></TD></TR></TABLE><INPUT "
     "TYPE='SUBMIT' VALUE='Add/Change'></FORM>"},
    "<HR><FORM METHOD='POST' ACTION='/admin/delscript.html'><H2>Delete a Script Mapping</H2>",
    kDeleteExtensionFields,
    {"<HTML><HEAD><TITLE>Changes Made</TITLE><SCRIPT>window.resizeTo(500, 300);</SCRIPT></HEAD>"
     "<BODY BGCOLOR='#ffffff'><H1> The Script changes you requested have been made.</H1>"},
    {"<HTML><HEAD><TITLE>Changes Made</TITLE><SCRIPT>window.resizeTo(500, 300);</SCRIPT></HEAD>"
     "<BODY BGCOLOR='#ffffff'><H1> The Script tag you requested has been deleted.</H1>"},
    config::SetScript,
    config::GetScript,
    config::DeleteScript,
    config::ListScript,
};

// Its page's title is "Script Config" too.
constexpr Family kVirtualDirectory{
    "HandleVirtualDirectory",
    "virtual directory",
    {"Virtual directories",
     "<p>A virtual directory gives a folder anywhere on the machine a short name in the "
     "website's addresses.</p>",
     "Virtual directory name", "Folder on disk (full path)", "/admin/changevirtualdirectory.html",
     "/admin/deletevirtualdirectory.html"},
    "<HTML><HEAD><TITLE>Script Config</TITLE><SCRIPT>window.resizeTo(500, screen.availHeight);"
    "</SCRIPT></HEAD><BODY BGCOLOR='#ffffff'><H1>Virtual Directory Configuration</H1><P>In order "
    "to have simpler paths to other directories or drives the virtual name and its corresponding "
    "directory must be listed.</P><TABLE BORDER=1><TR><TD><B>Virtual Directory Name</B></TD><TD>"
    "<B>Actual Directory Path</B></TD></TR>",
    {"</TABLE>",
     "<HR><FORM METHOD='POST' ACTION='/admin/changevirtualdirectory.html'><H2>Add/Change a "
     "Virtual Directory</H2>"},
    {"<TABLE>",
     "<TR><TD>Virtual Directory Name</TD><TD><INPUT TYPE='TEXT' NAME='EXT'></TD></TR><TR><TD>"
     "Actual Directory Path</TD><TD><INPUT TYPE='TEXT' NAME='TAG'></TD></TR></TABLE><INPUT "
     "TYPE='SUBMIT' VALUE='Add/Change'></FORM>"},
    "<HR><FORM METHOD='POST' ACTION='/admin/deletevirtualdirectory.html'><H2>Delete a Virtual "
    "Directory</H2>",
    "<TR><TD>Virtual Directory to Delete:</TD><TD><INPUT TYPE='TEXT' NAME='EXT'></TD></TR>"
    "</TABLE><INPUT TYPE='SUBMIT' VALUE='Delete'></FORM><HR>",
    {"<HTML><HEAD><TITLE>Changes Made</TITLE><SCRIPT>window.resizeTo(500, 300);</SCRIPT></HEAD>"
     "<BODY BGCOLOR='#ffffff'><H1> The Virtual Directory changes you requested have been "
     "made.</H1>"},
    {"<HTML><HEAD><TITLE>Changes Made</TITLE><SCRIPT>window.resizeTo(500, 300);</SCRIPT></HEAD>"
     "<BODY BGCOLOR='#ffffff'><H1> The Virtual Directory you requested has been deleted.</H1>"},
    config::SetVirtualDirectory,
    config::GetVirtualDirectory,
    config::DeleteVirtualDirectory,
    config::ListVirtualDirectory,
};

void AppendLines(http::Connection& c, const Lines& lines) {
    for (std::string_view line : lines) {
        if (!line.empty()) c.AppendBodyLine(line);
    }
}

// The administrator's name and password ride along in every form of a mapping page.
void AppendHiddenCredentials(http::Connection& c) {
    const config::ServerConfig& config = c.Config();
    c.AppendBodyLine("<INPUT TYPE='HIDDEN' NAME='AID' VALUE='" +
                     platform::EscapeHtml(config.adminid) + "'>");
    c.AppendBodyLine("<INPUT TYPE='HIDDEN' NAME='APW' VALUE='" +
                     platform::EscapeHtml(config.adminpw) + "'>");
}

// A labelled text field of a modern form.
std::string ModernField(std::string_view id, std::string_view name, std::string_view label) {
    std::string field = "<label for=\"";
    field.append(id).append("\">").append(label).append("</label><input type=\"text\" id=\"");
    field.append(id).append("\" name=\"").append(name).append("\">");
    return field;
}

// The modern look's page of a family: its rows in a table, then a form to add or change a
// row and one to delete a row. The forms carry no administrator's login: the handlers
// ignore it.
void ShowModernTable(http::Connection& c, const Family& family) {
    const ModernFamily& modern = family.modern;
    const std::string& directory = c.Config().programDirectory;
    pages::AppendPageStart(c, family.helpPage, modern.title, {}, false);
    c.AppendBodyLine("<h1>" + std::string(modern.title) + "</h1>");
    c.AppendBodyLine(modern.introduction);
    c.AppendBodyLine("<table>\n<tr><th scope=\"col\">" + std::string(modern.keyName) +
                     "</th><th scope=\"col\">" + std::string(modern.valueName) + "</th></tr>");
    for (const std::string& key : family.list(directory)) {
        c.AppendBodyLine("<tr><td>" + platform::EscapeHtml(key) + "</td><td>" +
                         platform::EscapeHtml(family.get(directory, key)) + "</td></tr>");
    }
    c.AppendBodyLine("</table>");
    c.AppendBodyLine("<form method=\"post\" action=\"" + std::string(modern.changePath) +
                     "\">\n<h2>Add or change</h2>");
    c.AppendBodyLine(ModernField("add-EXT", "EXT", modern.keyName) +
                     ModernField("add-TAG", "TAG", modern.valueName));
    c.AppendBodyLine("<p><button type=\"submit\">Add or change</button></p>\n</form>");
    c.AppendBodyLine("<form method=\"post\" action=\"" + std::string(modern.deletePath) +
                     "\">\n<h2>Delete</h2>");
    c.AppendBodyLine(ModernField("delete-EXT", "EXT", modern.keyName));
    c.AppendBodyLine("<p><button type=\"submit\">Delete</button></p>\n</form>");
    c.AppendBodyLine(
        "<p><a href=\"/admin/ServerProperties.html\">Back to the server properties</a></p>");
    pages::AppendHelpLink(c, family.helpPage);
    pages::AppendPageEnd(c, family.helpPage);
}

void ShowTable(http::Connection& c, const Family& family) {
    if (c.ModernLook()) {
        ShowModernTable(c, family);
        return;
    }
    const std::string& directory = c.Config().programDirectory;
    c.AppendBodyLine(family.introduction);
    for (const std::string& key : family.list(directory)) {
        c.AppendBodyLine("<TR><TD>" + platform::EscapeHtml(key) + "</TD><TD>" +
                         platform::EscapeHtml(family.get(directory, key)) + "</TD></TR>");
    }
    AppendLines(c, family.addFormStart);
    AppendHiddenCredentials(c);
    AppendLines(c, family.addFormFields);
    c.AppendBodyLine(family.deleteFormStart);
    AppendHiddenCredentials(c);
    c.AppendBodyLine("<TABLE>");
    c.AppendBodyLine(family.deleteFormFields);
    AppendContinueForm(c);
    pages::AppendHelpLink(c, family.helpPage);
    c.AppendBodyLine("</BODY></HTML>");
}

// The posted "EXT" and "TAG" fields; a field that does not arrive stays empty and any other
// field ("AID", "APW", ...) is read and ignored.
struct MappingForm {
    std::string ext;
    std::string tag;
};

// Reads the form; false when it did not arrive whole, and the request is then answered.
bool ReadMappingForm(http::Connection& c, MappingForm& form) {
    std::string name;
    std::string value;
    while (c.ReadFormField(name, kFieldNameCapacity, value, kFieldValueCapacity)) {
        if (platform::EqualsNoCase(name, "EXT")) {
            form.ext = value;
        } else if (platform::EqualsNoCase(name, "TAG")) {
            form.tag = value;
        }
    }
    return FormArrivedWhole(c);
}

// The modern look's page after a change: the page template's frame, what happened, the
// notice of a configuration that could not be saved and a link back to the properties.
void AppendModernResult(http::Connection& c, const Family& family, bool changed,
                        std::string_view done, const std::string& changeError,
                        const std::string& notSaved) {
    const std::string_view title = changed ? "Changes made" : "Changes not made";
    pages::AppendPageStart(c, family.helpPage, title, {}, false);
    c.AppendBodyLine("<h1>" + std::string(title) + "</h1>");
    if (changed) {
        c.AppendBodyLine("<p>The " + std::string(family.modernName) + " has been " +
                         std::string(done) + ".</p>");
    } else {
        c.AppendBodyLine("<p>The change you asked for could not be made: " +
                         platform::EscapeHtml(changeError) + ".</p>");
    }
    if (!notSaved.empty()) c.AppendBodyLine(notSaved);
    c.AppendBodyLine(
        "<p><a class=\"button\" href=\"/admin/ServerProperties.html\">Continue</a></p>");
    pages::AppendHelpLink(c, family.helpPage);
    pages::AppendPageEnd(c, family.helpPage);
}

// A table change (or none): the row is written, then the whole configuration as it stands
// now, settings applied but not yet saved included, both under the change lock so that they
// land in line with the other changes. Then the page: the family's confirmation of the
// change (or of the deletion when `deleting`), or why the change was not made, and whether
// the configuration could not be saved.
void ChangeAndSave(
    http::Connection& c, const Family& family, bool deleting,
    const std::function<bool(const std::string& programDirectory, std::string* error)>& change) {
    bool changed = true;
    bool saved = true;
    std::string changeError;
    std::string saveError;
    std::string iniPath;
    c.server->context().config.WithChangeLock([&](const config::ServerConfig& config) {
        changed = change(config.programDirectory, &changeError);
        saved = config.Save(&saveError);
        iniPath = config::IniFilePath(config.programDirectory);
    });
    if (!changed) c.ReportToOwner("The change was not made: " + changeError + ".");
    const std::string notSaved = saved ? "" : ReportNotSaved(c, iniPath, saveError);
    if (c.ModernLook()) {
        AppendModernResult(c, family, changed, deleting ? "deleted" : "saved", changeError,
                           notSaved);
        return;
    }
    if (changed) {
        AppendLines(c, deleting ? family.deleted : family.changed);
    } else {
        c.AppendBodyLine(kNotMade);
        c.AppendBodyLine("<P><B>" + platform::EscapeHtml(changeError) + ".</B>");
    }
    if (!saved) c.AppendBodyLine(notSaved);
    AppendContinueForm(c);
    c.AppendBodyLine("</BODY></HTML>");
}

void ChangeRow(http::Connection& c, const Family& family) {
    MappingForm form;
    if (!ReadMappingForm(c, form)) return;
    ChangeAndSave(c, family, false, [&](const std::string& directory, std::string* error) {
        return form.ext.empty() || form.tag.empty() ||
               family.set(directory, form.ext, form.tag, error);
    });
}

void DeleteRow(http::Connection& c, const Family& family) {
    MappingForm form;
    if (!ReadMappingForm(c, form)) return;
    ChangeAndSave(c, family, true, [&](const std::string& directory, std::string* error) {
        return form.ext.empty() || family.remove(directory, form.ext, error);
    });
}

}  // namespace

void HandleMime(http::Connection& c) { ShowTable(c, kMime); }
void HandleChangeMime(http::Connection& c) { ChangeRow(c, kMime); }
void HandleDeleteMime(http::Connection& c) { DeleteRow(c, kMime); }
void HandleScript(http::Connection& c) { ShowTable(c, kScript); }
void HandleChangeScript(http::Connection& c) { ChangeRow(c, kScript); }
void HandleDeleteScript(http::Connection& c) { DeleteRow(c, kScript); }
void HandleVirtualDirectory(http::Connection& c) { ShowTable(c, kVirtualDirectory); }
void HandleChangeVirtualDirectory(http::Connection& c) { ChangeRow(c, kVirtualDirectory); }
void HandleDeleteVirtualDirectory(http::Connection& c) { DeleteRow(c, kVirtualDirectory); }

}  // namespace admin
