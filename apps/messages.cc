// The message form, and the handler that stores each posted message as one XML or text file
// in the owner's message directory.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "apps/application_pages.h"
#include "apps/stored_text.h"
#include "config/server_config.h"
#include "http/listener.h"
#include "pages/page_template.h"
#include "platform/file_io.h"
#include "platform/text.h"

namespace apps {
namespace {

constexpr std::string_view kFormPage = "SendMessage";
constexpr std::string_view kFormTitle = "Send Message";
constexpr std::string_view kDisabledContent =
    "<H2>Message Sending Is Currently Disabled By The Administrator<H2>";
constexpr std::string_view kHandlerPage = "HandleSendMessage";
constexpr std::string_view kHandlerTitle = "Message Received";
constexpr std::string_view kModernHandlerTitle = "Thank you";

constexpr const char* kThankYouFormat = "Thank You - %zu Bytes Were Received";

// The range the form page holds the limit to (bytes of a declared Content-Length; 0 means no
// limit).
constexpr int32_t kMaxMessageLimit = 32000;

constexpr size_t kContentLengthCapacity = 32;
constexpr size_t kFieldNameCapacity = 80;
constexpr size_t kFieldValueCapacity = 33000;
constexpr size_t kMaxTextLength = 255;
constexpr size_t kMaxParentIdLength = 31;
constexpr size_t kKeepWhole = std::string::npos;
// How much of the recipient the modern look's answer repeats.
constexpr size_t kMaxRecipientShown = 80;
// How much of the subject goes into the file name.
constexpr size_t kSubjectNameLength = 31;
// Messages given one name (same millisecond, same subject name) are told apart by "-2",
// "-3"... after the timestamp; past this many the message is not stored.
constexpr int kMaxNameAttempts = 1000;

// The stylesheet that shows a stored XML message in a browser.
const std::string kStyleSheetAddress = std::string(pages::kHelpSite) + "/us/vnt/message.xsl";

struct Message {
    std::string from;
    std::string to;
    std::string subject;
    std::string body;
    std::string parentId;
    std::string parentFile;
};

struct FormField {
    std::string_view name;
    std::string Message::*value;
    size_t maxLength;
};

constexpr FormField kFormFields[] = {
    {"messageFrom", &Message::from, kMaxTextLength},
    {"messageTo", &Message::to, kMaxTextLength},
    {"messageSubject", &Message::subject, kMaxTextLength},
    {"messageBody", &Message::body, kKeepWhole},
    {"parentMessageID", &Message::parentId, kMaxParentIdLength},
    {"parentMessageFile", &Message::parentFile, kMaxTextLength},
};

// Writes `text` with the five characters that XML markup gives a meaning replaced by their
// entities; every other byte as it is.
void WriteEscaped(std::string_view text, std::string& out) {
    for (char c : text) {
        switch (c) {
            case '"':
                out += "&quot;";
                break;
            case '&':
                out += "&amp;";
                break;
            case '\'':
                out += "&apos;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            default:
                out += c;
        }
    }
}

void AppendElement(std::string& out, std::string_view tag, std::string_view value) {
    out.append("<").append(tag).append(">");
    WriteEscaped(value, out);
    out.append("</").append(tag).append(">\r\n");
}

std::string XmlFile(const Message& m, std::string_view id) {
    std::string out = "<?xml version='1.0'?>\r\n<?xml-stylesheet type='text/xsl' href='";
    out.append(kStyleSheetAddress).append("'?>\r\n<VNTMessage>\r\n");
    AppendElement(out, "messageFrom", m.from);
    AppendElement(out, "messageTo", m.to);
    AppendElement(out, "messageSubject", m.subject);
    AppendElement(out, "messageBody", m.body);
    AppendElement(out, "messageID", id);
    AppendElement(out, "parentMessageID", m.parentId);
    AppendElement(out, "parentMessageFile", m.parentFile);
    out.append("</VNTMessage>\r\n");
    return out;
}

std::string TextFile(const Message& m) {
    return "Message From: " + m.from + "\r\n\r\nMessage To: " + m.to +
           "\r\n\r\nMessage Subject: " + m.subject + "\r\n\r\n" + m.body;
}

// The subject's part of the file name: only ASCII letters and digits survive, everything else
// (a "/", a ".", control bytes) becomes a space, so the name stays inside the directory.
std::string SubjectName(std::string_view subject) {
    std::string name(subject.substr(0, kSubjectNameLength));
    for (char& c : name) {
        bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!keep) c = ' ';
    }
    return name;
}

// The form's fields as they are stored: for an XML file as XML text, cut between characters.
Message ReadMessage(http::Connection& c, bool xml) {
    Message message;
    std::string name, value;
    while (c.ReadFormField(name, kFieldNameCapacity, value, kFieldValueCapacity)) {
        for (const FormField& field : kFormFields) {
            if (!platform::EqualsNoCase(name, field.name)) continue;
            if (xml) {
                message.*field.value = CutUtf8(XmlText(value), field.maxLength);
            } else {
                message.*field.value = value.substr(0, field.maxLength);
            }
        }
    }
    return message;
}

// The bytes of the visitor's text that a stored message holds.
size_t StoredBytes(const Message& message) {
    size_t total = 0;
    for (const FormField& field : kFormFields) total += (message.*field.value).size();
    return total;
}

// Stores `message` under a name no other file has, whole or not at all; the owner hears of a
// message that could not be stored. True when it was stored.
bool StoreMessage(http::Connection& c, const config::ServerSettings& settings,
                  const Message& message) {
    const std::string& directory = settings.messageSaveLocation;
    // A relative directory would put visitors' files beside the configuration file.
    if (!config::IsUsableRoot(directory)) {
        c.ReportToOwner("A message was not stored: the message directory \"" + directory +
                        "\" is not an absolute path.");
        return false;
    }
    if (std::string error;
        !config::MakeIncomingDirectory(c.Config().programDirectory, directory, &error)) {
        c.ReportToOwner("A message was not stored: " + error + ".");
        return false;
    }
    const std::string timestamp = pages::MakeTimestamp();
    const std::string subjectName = SubjectName(message.subject);
    const char* extension = settings.messageIsXML ? ".xml" : ".txt";
    std::string error = "every name for it is taken";
    for (int attempt = 1; attempt <= kMaxNameAttempts; ++attempt) {
        std::string id = attempt == 1 ? timestamp : timestamp + "-" + std::to_string(attempt);
        std::string path = directory;
        if (path.back() != '/') path += '/';
        path.append(id).append(" - ").append(subjectName).append(extension);
        std::string content = settings.messageIsXML ? XmlFile(message, id) : TextFile(message);
        platform::NewFileResult result =
            platform::CreateNewFile(path, content, platform::kNewFileMode, &error);
        if (result == platform::NewFileResult::kCreated) return true;
        if (result == platform::NewFileResult::kFailed) break;
    }
    c.ReportToOwner("A message was not stored: " + error + ".");
    return false;
}

// Holds the server's limit to 0..32000 in the configuration record, so the handler then
// uses the same value; the change is saved with the next save of the configuration.
int32_t CorrectedLimit(http::Connection& c) {
    auto inRange = [](int32_t limit) { return std::clamp(limit, 0, kMaxMessageLimit); };
    const int32_t limit = c.Settings()->messageMaxSizeKB;
    if (limit == inRange(limit)) return limit;
    const int index = c.ServerNumber() - 1;
    // The record is held to the range as it is now, not set to a value taken before: an
    // administrator's change made in between stays.
    c.server->context().config.Update([&](config::ServerConfig& config) {
        int32_t& stored = config.servers[index].messageMaxSizeKB;
        stored = inRange(stored);
    });
    c.RefreshConfig();
    return c.Settings()->messageMaxSizeKB;
}

void AppendRow(http::Connection& c, int band, std::initializer_list<std::string_view> lines) {
    pages::AppendRowTag(c, kFormPage, band);
    for (std::string_view line : lines) c.AppendBodyLine(line);
}

void AppendForm(http::Connection& c, int32_t limit) {
    constexpr std::string_view kSpacer = "<td width=\"55\" \">&nbsp</td>";
    c.AppendBodyLine(
        "<FORM method=POST name=\"writeform\" action=\"HandleSendMessage.html\" "
        "accept-charset=\"UTF-8\">");
    c.AppendBodyLine("<TABLE width=555 border=0 CELLSPACING='2' CELLPADDING='10'>");
    AppendRow(c, 0,
              {"<td COLSPAN=3 height='60'><font  face='Garamond' size='6'>", "Send Message",
               "</font></td></tr>"});
    AppendRow(c, 1,
              {kSpacer, "<td width=\"230\">From</td>",
               "<td width=\"270\" valign=\"top\"><input tabindex=3 type=text "
               "name=\"messageFrom\" value=\"\" size=65 maxlength=256></td>",
               "</tr>"});
    AppendRow(c, 1,
              {kSpacer, "<td width=\"230\"><font  face='Garamond' size='3'>To</font></td>",
               "<td width=\"270\" valign=\"top\"><input tabindex=3 type=text "
               "name=\"messageTo\" value=\"\" size=65 maxlength=256></td>",
               "</tr>"});
    AppendRow(c, 1,
              {kSpacer, "<td width=\"230\"><font  face='Garamond' size='3'>Subject</font></td>",
               "<td width=\"270\" valign=\"top\"><input tabindex=3 type=text "
               "name=\"messageSubject\" value=\"\" size=65 maxlength=256></td>",
               "</tr>"});
    AppendRow(c, 1,
              {kSpacer, "<td width=\"230\"><font  face='Garamond' size='3'>Message</font></td>"});
    c.AppendBody(
        "<td width=\"270\" valign=\"top\"><textarea tabindex=4 name=\"messageBody\" wrap=soft "
        "cols=56 rows=10  maxlength=");
    c.AppendBody(std::to_string(limit));
    c.AppendBodyLine("></textarea></td>");
    c.AppendBodyLine("</tr>");
    AppendRow(c, 1,
              {kSpacer, "<td width=\"230\">&nbsp</td>",
               "<td width=\"270\" valign=\"top\"><INPUT TYPE='SUBMIT' NAME='ACTION' "
               "VALUE='Send Message'></td>",
               "</tr>"});
    AppendRow(c, 0, {"<TD COLSPAN=3 height='60'>"});
    pages::AppendHelpLink(c, kFormPage);
    c.AppendBodyLine("</TD> </TABLE>");
    c.AppendBodyLine("</FORM>");
}

// The modern look's form: every field with its label, in the order TAB visits them after the
// navigation.
void AppendModernForm(http::Connection& c, int32_t limit) {
    std::string form =
        "<form class=\"fields\" method=\"post\" name=\"writeform\" "
        "action=\"/VNT/HandleSendMessage.html\" accept-charset=\"UTF-8\">\r\n";
    struct Field {
        std::string_view name;
        std::string_view label;
        std::string_view autocomplete;
    };
    constexpr Field kFields[] = {{"messageFrom", "From", "name"},
                                 {"messageTo", "To", "off"},
                                 {"messageSubject", "Subject", "off"}};
    for (const Field& field : kFields) {
        form.append("<label for=\"").append(field.name).append("\">").append(field.label);
        form.append("</label>\r\n<input type=\"text\" id=\"").append(field.name);
        form.append("\" name=\"").append(field.name).append("\" maxlength=\"256\" autocomplete=\"");
        form.append(field.autocomplete).append("\">\r\n");
    }
    form.append(
        "<label for=\"messageBody\">Message</label>\r\n<textarea id=\"messageBody\" "
        "name=\"messageBody\" rows=\"10\"");
    // 0 is no limit.
    if (limit != 0) form.append(" maxlength=\"").append(std::to_string(limit)).append("\"");
    form.append(
        "></textarea>\r\n<p><input type=\"submit\" name=\"ACTION\" value=\"Send message\">"
        "</p>\r\n</form>");
    c.AppendBodyLine(form);
    pages::AppendHelpLink(c, kFormPage);
}

// What the modern look says after a message: its size, and whom it was for when it names
// someone; or that it could not be kept.
std::string ModernReceipt(const Message& message, bool stored) {
    if (!stored) return "Your message arrived, but it could not be stored.";
    const std::string size = platform::HumanSize(StoredBytes(message));
    // The stored "To" is UTF-8 already when the file is XML; a text file keeps it as posted.
    const std::string to(platform::Trim(CutUtf8(XmlText(message.to), kMaxRecipientShown)));
    if (to.empty()) return "Message received: " + size + ".";
    return "Message to " + platform::EscapeHtml(to) + " received: " + size + ".";
}

}  // namespace

void SendMessagePage(http::Connection& c) {
    if (c.Settings() == nullptr) {
        c.Answer(http::Response::Error(404));
        return;
    }
    const int32_t limit = CorrectedLimit(c);
    if (c.ModernLook()) {
        pages::AppendPageStart(c, kFormPage, "Send a message", {}, true);
        if (c.Settings()->messageUploadEnabled) {
            AppendModernForm(c, limit);
        } else {
            c.AppendBodyLine("<p>Messages are switched off by the administrator.</p>");
        }
        pages::AppendPageEnd(c, kFormPage);
        return;
    }
    pages::AppendPageStart(c, kFormPage, kFormTitle, pages::kFullHeightWindow, false);
    if (c.Settings()->messageUploadEnabled) {
        AppendForm(c, limit);
    } else {
        c.AppendBodyLine(kDisabledContent);
    }
    pages::AppendPageEnd(c, kFormPage);
}

void HandleSendMessage(http::Connection& c) {
    const config::ServerSettings* settings = c.Settings();
    if (settings == nullptr) {
        c.Answer(http::Response::Error(404));
        return;
    }
    std::string shown;
    std::optional<std::string> declared;
    if (!settings->messageUploadEnabled) {
        shown = pages::kNotEnabled;
    } else if (!(declared = http::FindHeaderValue(c.request().headerText(), "Content-Length",
                                                  kContentLengthCapacity))) {
        shown = pages::kSizeUnknown;
    } else {
        // The limit is compared in bytes, as the form's maxlength is.
        const long size = platform::ParseDecimalPrefix(platform::Trim(*declared));
        if (settings->messageMaxSizeKB != 0 && size >= settings->messageMaxSizeKB) {
            shown = pages::kTooLarge;
        } else {
            const Message message = ReadMessage(c, settings->messageIsXML);
            // A body that ended before its declared length is not a message: nothing of it
            // is kept.
            const bool whole = c.BodyComplete() && !c.BodyCutShort();
            const bool kept = whole && StoreMessage(c, *settings, message);
            const size_t stored = kept ? StoredBytes(message) : 0;
            char text[96];
            std::snprintf(text, sizeof text, kThankYouFormat, stored);
            shown = c.ModernLook() ? ModernReceipt(message, kept) : text;
        }
    }
    pages::AppendAcknowledgement(c, kHandlerPage,
                                 c.ModernLook() ? kModernHandlerTitle : kHandlerTitle, shown);
}

}  // namespace apps
