// The owner's inbox: the messages, form captures and uploads the server stored in its
// incoming folders, each to read, download or delete. The folders lie outside the web root as
// a rule, so this is the owner's way to them from a browser.
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "admin/admin_pages.h"
#include "admin/admin_router.h"
#include "config/server_config.h"
#include "http/listener.h"
#include "pages/page_template.h"
#include "platform/directory.h"
#include "platform/file_io.h"
#include "platform/open_file.h"
#include "platform/text.h"

namespace admin {
namespace {

constexpr std::string_view kPage = "Inbox";
constexpr std::string_view kInboxAddress = "/admin/inbox";
// A message file larger than this is listed by name only: the stored ones are far smaller.
constexpr size_t kMaxMessageBytes = 1024 * 1024;
// The longest name a folder's entry may have.
constexpr size_t kMaxNameLength = 255;
constexpr size_t kFieldNameCapacity = 16;
constexpr size_t kFieldValueCapacity = 512;

// The files the program itself stores in each folder.
// Which files of a folder are the server's: `dedicated` when the folder is one of its own (see
// IsDedicated), where every file is what a visitor sent.
bool IsMessageName(std::string_view name, bool) {
    return name.ends_with(".xml") || name.ends_with(".txt");
}
bool IsSubmissionName(std::string_view name, bool = false) {
    for (std::string_view ending : {"-POST.raw", "-POST.hdr", "-POST.env", "-POST.mim"}) {
        if (name.ends_with(ending)) return true;
    }
    return false;
}

// An upload is stored under a timestamp's name by the classic form and under its own name by
// the modern one, which only a folder of uploads alone tells from the owner's files; a file
// still being written ends in ".part", and an unfinished resumable upload is hidden.
bool IsUploadName(std::string_view name, bool dedicated) {
    return IsSubmissionName(name) || (dedicated && !name.ends_with(".part"));
}

// One incoming folder: its name in links, its heading, where the settings keep it and which
// of its files are the server's.
struct Folder {
    std::string_view kind;
    std::string_view heading;
    std::string config::ServerSettings::*location;
    bool (*isStored)(std::string_view name, bool dedicated);
};

constexpr Folder kFolders[] = {
    {"message", "Messages", &config::ServerSettings::messageSaveLocation, IsMessageName},
    {"capture", "Form captures", &config::ServerSettings::postSaveLocation, IsSubmissionName},
    {"upload", "Uploads", &config::ServerSettings::uploadSaveLocation, IsUploadName},
};

const Folder* FindFolder(std::string_view kind) {
    for (const Folder& folder : kFolders) {
        if (folder.kind == kind) return &folder;
    }
    return nullptr;
}

// A name that can only mean a file directly in its folder: no separator, no "." or "..",
// nothing hidden, no control character.
bool IsPlainFileName(std::string_view name) {
    return !name.empty() && name.size() <= kMaxNameLength && name.front() != '.' &&
           name.find('/') == std::string_view::npos && name.find("..") == std::string_view::npos &&
           !platform::HasControlCharacter(name) && name.find('\0') == std::string_view::npos;
}

// The server's files in `folder`, newest first (names break ties, the later first).
std::vector<platform::DirectoryEntry> StoredFiles(const std::string& directory,
                                                  const Folder& folder, bool dedicated) {
    std::vector<platform::DirectoryEntry> files;
    if (!config::IsUsableRoot(directory)) return files;
    auto keep = [&folder, dedicated](std::string_view name, bool) {
        return IsPlainFileName(name) && folder.isStored(name, dedicated);
    };
    std::optional<std::vector<platform::DirectoryEntry>> entries =
        platform::ListDirectory(directory, keep);
    if (!entries) return files;
    for (platform::DirectoryEntry& entry : *entries) {
        if (!entry.isDirectory) files.push_back(std::move(entry));
    }
    std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) {
        if (a.modified != b.modified) return a.modified > b.modified;
        return platform::NaturalLess(b.name, a.name);
    });
    return files;
}

// True when `directory` is a folder of its own for what visitors send: neither the program's
// (its settings lie there) nor the server's web root (the owner's site).
bool IsDedicated(const std::string& programDirectory, const config::ServerSettings& settings,
                 const std::string& directory) {
    const std::optional<platform::FileIdentity> identity = platform::DirectoryIdentity(directory);
    if (!identity) return false;
    for (const std::string* other : {&programDirectory, &settings.wwwroot}) {
        if (platform::DirectoryIdentity(*other) == identity) return false;
    }
    return true;
}

std::string PathIn(const std::string& directory, std::string_view name) {
    std::string path = directory;
    platform::EndWithSlash(path);
    return path.append(name);
}

// `text` as valid UTF-8: well-formed sequences are kept, every other byte becomes U+FFFD.
std::string ValidUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        const platform::Utf8Start start =
            platform::Utf8StartOf(static_cast<unsigned char>(text[at]));
        bool whole = start.length > 0 && at + start.length <= text.size();
        for (size_t i = 1; whole && i < start.length; ++i) {
            const auto byte = static_cast<unsigned char>(text[at + i]);
            whole = i == 1 ? byte >= start.low && byte <= start.high : byte >= 0x80 && byte <= 0xbf;
        }
        if (whole) {
            out.append(text.substr(at, start.length));
            at += start.length;
        } else {
            out.append("\xEF\xBF\xBD");
            ++at;
        }
    }
    return out;
}

// The text of XML character data with the five predefined entities and numeric references
// read back.
std::string XmlUnescape(std::string_view text) {
    static constexpr std::pair<std::string_view, char> kEntities[] = {
        {"&quot;", '"'}, {"&amp;", '&'}, {"&apos;", '\''}, {"&lt;", '<'}, {"&gt;", '>'}};
    std::string out;
    for (size_t at = 0; at < text.size();) {
        bool replaced = false;
        if (text[at] == '&') {
            for (const auto& [entity, character] : kEntities) {
                if (text.substr(at).starts_with(entity)) {
                    out += character;
                    at += entity.size();
                    replaced = true;
                    break;
                }
            }
        }
        if (!replaced) out += text[at++];
    }
    return out;
}

struct Message {
    std::string from;
    std::string to;
    std::string subject;
    std::string body;
};

std::string XmlElement(std::string_view file, std::string_view tag) {
    const std::string open = "<" + std::string(tag) + ">";
    const std::string close = "</" + std::string(tag) + ">";
    const size_t start = file.find(open);
    if (start == std::string_view::npos) return {};
    const size_t from = start + open.size();
    const size_t end = file.find(close, from);
    if (end == std::string_view::npos) return {};
    return XmlUnescape(file.substr(from, end - from));
}

// A stored message read back: an XML file by its elements, a text file by its labelled
// paragraphs ("Message From: ...", blank line, "Message To: ...", and so on, then the body).
Message ParseMessage(std::string_view name, std::string_view file) {
    Message m;
    if (name.ends_with(".xml")) {
        m.from = XmlElement(file, "messageFrom");
        m.to = XmlElement(file, "messageTo");
        m.subject = XmlElement(file, "messageSubject");
        m.body = XmlElement(file, "messageBody");
        return m;
    }
    struct Label {
        std::string_view prefix;
        std::string Message::*field;
    };
    constexpr Label kLabels[] = {{"Message From: ", &Message::from},
                                 {"Message To: ", &Message::to},
                                 {"Message Subject: ", &Message::subject}};
    std::string_view rest = file;
    for (const Label& label : kLabels) {
        if (!rest.starts_with(label.prefix)) {
            m.body = std::string(rest);
            return m;
        }
        rest.remove_prefix(label.prefix.size());
        const size_t end = rest.find("\r\n\r\n");
        m.*label.field = std::string(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 4);
    }
    m.body = std::string(rest);
    return m;
}

// Shown in a page: valid UTF-8, markup characters escaped.
std::string Shown(std::string_view text) { return platform::EscapeHtml(ValidUtf8(text)); }

// The address of `action` ("view", "download", "delete") for one file, as an attribute value.
std::string ItemAddress(std::string_view action, const Folder& folder, std::string_view name) {
    return std::string(kInboxAddress) + "/" + std::string(action) +
           "?kind=" + std::string(folder.kind) + "&amp;name=" + platform::PercentEncode(name);
}

std::string ItemActions(const Folder& folder, std::string_view name, bool withView) {
    std::string links = "<span class=\"actions\">";
    if (withView) {
        links.append("<a href=\"").append(ItemAddress("view", folder, name)).append("\">View</a> ");
    }
    links.append("<a href=\"").append(ItemAddress("download", folder, name));
    links.append("\">Download</a> <a href=\"").append(ItemAddress("delete", folder, name));
    links.append("\">Delete</a></span>");
    return links;
}

std::string Modified(std::time_t modified) {
    std::tm local{};
    ::localtime_r(&modified, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
    return text;
}

void AppendMessages(http::Connection& c, const Folder& folder, const std::string& directory,
                    const std::vector<platform::DirectoryEntry>& files) {
    for (const platform::DirectoryEntry& file : files) {
        std::string item = "<article class=\"message\">";
        std::optional<std::string> text =
            platform::ReadWholeFile(PathIn(directory, file.name), kMaxMessageBytes, nullptr);
        if (text) {
            const Message m = ParseMessage(file.name, *text);
            item.append("<dl><dt>From</dt><dd>").append(Shown(m.from));
            item.append("</dd><dt>To</dt><dd>").append(Shown(m.to));
            item.append("</dd><dt>Subject</dt><dd>").append(Shown(m.subject));
            item.append("</dd><dt>Received</dt><dd>").append(Modified(file.modified));
            item.append("</dd></dl><pre class=\"body\">").append(Shown(m.body)).append("</pre>");
        } else {
            item.append("<p>").append(Shown(file.name)).append(" could not be read.</p>");
        }
        item.append(ItemActions(folder, file.name, false)).append("</article>");
        c.AppendBodyLine(item);
    }
}

void AppendFiles(http::Connection& c, const Folder& folder,
                 const std::vector<platform::DirectoryEntry>& files) {
    c.AppendBodyLine("<ul class=\"inbox\">");
    for (const platform::DirectoryEntry& file : files) {
        c.AppendBodyLine("<li><span class=\"name\">" + Shown(file.name) +
                         "</span> <span class=\"size\">" + platform::HumanSize(file.size) +
                         "</span> <span class=\"date\">" + Modified(file.modified) + "</span> " +
                         ItemActions(folder, file.name, true) + "</li>");
    }
    c.AppendBodyLine("</ul>");
}

// The start of an inbox page in either look; the classic one states its charset, as the
// stored texts are shown in UTF-8.
void AppendStart(http::Connection& c, std::string_view title) {
    pages::AppendPageStart(c, kPage, title,
                           c.ModernLook() ? std::string_view{}
                                          : "<META HTTP-EQUIV=\"Content-Type\" "
                                            "CONTENT=\"text/html; charset=utf-8\">",
                           false);
    c.AppendBodyLine("<h1>" + std::string(title) + "</h1>");
}

void AppendBackLink(http::Connection& c) {
    c.AppendBodyLine("<p><a href=\"" + std::string(kInboxAddress) + "\">Back to the inbox</a></p>");
}

// The value of query parameter `name` in the request's own target, decoded.
std::optional<std::string> QueryValue(const http::Connection& c, std::string_view name) {
    for (auto& [parameter, value] : http::QueryParameters(c.request().target())) {
        if (parameter == name) return std::move(value);
    }
    return std::nullopt;
}

// One stored file that a request names: its folder, its name and its path.
struct NamedFile {
    const Folder* folder;
    std::string name;
    std::string path;
};

// The file `kind` and `name` name, or nothing after answering 400 (no such folder, or a name
// that is no plain file name of the server's) or 404 (no such file).
std::optional<NamedFile> FindNamedFile(http::Connection& c, const std::optional<std::string>& kind,
                                       const std::optional<std::string>& name) {
    const config::ServerSettings* settings = c.Settings();
    const Folder* folder = kind ? FindFolder(*kind) : nullptr;
    if (settings == nullptr || folder == nullptr || !name || !IsPlainFileName(*name) ||
        !folder->isStored(*name, IsDedicated(c.Config().programDirectory, *settings,
                                             settings->*folder->location))) {
        c.Answer(http::Response::Error(400));
        return std::nullopt;
    }
    const std::string& directory = settings->*folder->location;
    if (!config::IsUsableRoot(directory) || !platform::FileExists(PathIn(directory, *name))) {
        c.Answer(http::Response::Error(404));
        return std::nullopt;
    }
    return NamedFile{folder, *name, PathIn(directory, *name)};
}

std::optional<NamedFile> FindQueriedFile(http::Connection& c) {
    return FindNamedFile(c, QueryValue(c, "kind"), QueryValue(c, "name"));
}

// The file answered with `typeLines`; 404 when it went in the meantime.
void SendStoredFile(http::Connection& c, const NamedFile& file, std::string typeLines) {
    std::optional<platform::OpenedFile> opened = platform::OpenRegularFile(file.path);
    if (!opened) {
        c.Answer(http::Response::Error(404));
        return;
    }
    c.Answer(http::Response::File(file.path, std::move(opened),
                                  c.WithFramingRule(std::move(typeLines))));
}

}  // namespace

InboxCounts CountInbox(const std::string& programDirectory,
                       const config::ServerSettings& settings) {
    InboxCounts counts;
    size_t* const totals[] = {&counts.messages, &counts.captures, &counts.uploads};
    for (size_t i = 0; i < std::size(kFolders); ++i) {
        const std::string& directory = settings.*kFolders[i].location;
        *totals[i] =
            StoredFiles(directory, kFolders[i], IsDedicated(programDirectory, settings, directory))
                .size();
    }
    return counts;
}

void HandleInbox(http::Connection& c) {
    const config::ServerSettings* settings = c.Settings();
    if (settings == nullptr) {
        c.Answer(http::Response::Error(404));
        return;
    }
    AppendStart(c, "Inbox");
    for (const Folder& folder : kFolders) {
        const std::string& directory = settings->*folder.location;
        const std::vector<platform::DirectoryEntry> files = StoredFiles(
            directory, folder, IsDedicated(c.Config().programDirectory, *settings, directory));
        c.AppendBodyLine("<section id=\"" + std::string(folder.kind) + "s\"><h2>" +
                         std::string(folder.heading) + " (" + std::to_string(files.size()) +
                         ")</h2>");
        if (!config::IsUsableRoot(directory)) {
            c.AppendBodyLine("<p class=\"empty\">No folder is set.</p>");
        } else if (files.empty()) {
            c.AppendBodyLine("<p class=\"empty\">None.</p>");
        } else if (folder.kind == "message") {
            AppendMessages(c, folder, directory, files);
        } else {
            AppendFiles(c, folder, files);
        }
        c.AppendBodyLine("</section>");
    }
    pages::AppendPageEnd(c, kPage);
}

void HandleInboxView(http::Connection& c) {
    std::optional<NamedFile> file = FindQueriedFile(c);
    if (!file) return;
    SendStoredFile(c, *file,
                   "Content-Type: text/plain; charset=utf-8\r\nX-Content-Type-Options: nosniff");
}

void HandleInboxDownload(http::Connection& c) {
    std::optional<NamedFile> file = FindQueriedFile(c);
    if (!file) return;
    // A plain name of the server's holds no quote or backslash to escape; the encoded form
    // carries any other byte.
    SendStoredFile(c, *file,
                   "Content-Type: application/octet-stream\r\nX-Content-Type-Options: "
                   "nosniff\r\nContent-Disposition: attachment; filename*=UTF-8''" +
                       platform::PercentEncode(file->name));
}

void HandleInboxDelete(http::Connection& c) {
    if (!c.request().IsPost()) {
        // The question first: a link alone never deletes.
        std::optional<NamedFile> file = FindQueriedFile(c);
        if (!file) return;
        AppendStart(c, "Delete a file");
        c.AppendBodyLine("<p>Delete " + Shown(file->name) + " from " +
                         std::string(file->folder->heading) + "?</p>");
        c.AppendBodyLine("<form method=\"post\" action=\"" + std::string(kInboxAddress) +
                         "/delete\"><input type=\"hidden\" name=\"kind\" value=\"" +
                         std::string(file->folder->kind) +
                         "\"><input type=\"hidden\" name=\"name\" value=\"" +
                         platform::EscapeHtml(file->name) +
                         "\"><p><input type=\"submit\" value=\"Delete\"></p></form>");
        AppendBackLink(c);
        pages::AppendPageEnd(c, kPage);
        return;
    }
    if (!FormArrivedWhole(c)) return;
    std::optional<std::string> kind, name;
    std::string field, value;
    while (c.ReadFormField(field, kFieldNameCapacity, value, kFieldValueCapacity)) {
        if (field == "kind") kind = value;
        if (field == "name") name = value;
    }
    std::optional<NamedFile> file = FindNamedFile(c, kind, name);
    if (!file) return;
    if (std::remove(file->path.c_str()) != 0) {
        c.Answer(http::Response::Error(500));
        return;
    }
    AppendStart(c, "File deleted");
    c.AppendBodyLine("<p>" + Shown(file->name) + " is deleted.</p>");
    AppendBackLink(c);
    pages::AppendPageEnd(c, kPage);
}

}  // namespace admin
