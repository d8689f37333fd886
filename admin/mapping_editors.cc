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

struct Family {
    std::string_view helpPage;
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

void ShowTable(http::Connection& c, const Family& family) {
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

// A table change (or none): the row is written, then the whole configuration as it stands
// now, settings applied but not yet saved included, both under the change lock so that they
// land in line with the other changes. Then the page: `confirmation`, or why the change was
// not made, and whether the configuration could not be saved.
void ChangeAndSave(
    http::Connection& c, const Lines& confirmation,
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
    if (changed) {
        AppendLines(c, confirmation);
    } else {
        c.ReportToOwner("The change was not made: " + changeError + ".");
        c.AppendBodyLine(kNotMade);
        c.AppendBodyLine("<P><B>" + platform::EscapeHtml(changeError) + ".</B>");
    }
    if (!saved) c.AppendBodyLine(ReportNotSaved(c, iniPath, saveError));
    AppendContinueForm(c);
    c.AppendBodyLine("</BODY></HTML>");
}

void ChangeRow(http::Connection& c, const Family& family) {
    MappingForm form;
    if (!ReadMappingForm(c, form)) return;
    ChangeAndSave(c, family.changed, [&](const std::string& directory, std::string* error) {
        return form.ext.empty() || form.tag.empty() ||
               family.set(directory, form.ext, form.tag, error);
    });
}

void DeleteRow(http::Connection& c, const Family& family) {
    MappingForm form;
    if (!ReadMappingForm(c, form)) return;
    ChangeAndSave(c, family.deleted, [&](const std::string& directory, std::string* error) {
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
