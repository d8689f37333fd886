// Uploads that survive a dropped connection, in the manner of the tus protocol (core 1.0.0 with
// its creation and termination extensions): a POST names the file and its length and gets an
// address; PATCH requests send its bytes from the offset the server holds, which a HEAD tells,
// so that a sender cut off resends only what did not arrive; DELETE gives up. The bytes wait in
// the upload folder under a hidden name, beside a hidden note of the length and the name, and
// the file takes its own name (numbered on a clash) only once it is whole.
#include <algorithm>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "apps/application_pages.h"
#include "apps/upload_store.h"
#include "platform/clock.h"
#include "platform/directory.h"
#include "platform/file_io.h"
#include "platform/pending_file.h"
#include "platform/text.h"
#include "platform/version.h"

namespace apps {
namespace {

constexpr std::string_view kTusVersion = "1.0.0";
// Where the uploads are addressed: an upload's name follows.
constexpr std::string_view kAddressPrefix = "/VNT/resumable/";
// The hidden files of an upload in the folder: its bytes, and its note.
constexpr std::string_view kStatePrefix = ".resumable-";
constexpr std::string_view kNoteSuffix = ".info";
constexpr size_t kIdLength = 32;
// An upload no one has added to for this long is given up, when another begins.
constexpr std::time_t kAbandonedAfterSeconds = 7 * 24 * 60 * 60;
constexpr size_t kBufferSize = 256 * 1024;
// The most characters of a header's value read, the Upload-Metadata's included.
constexpr size_t kMaxHeaderValue = 2048;
constexpr size_t kMaxNote = 1024;
constexpr std::string_view kBytesType = "application/offset+octet-stream";

// Finishing and giving up are one at a time, so that an upload is never published twice nor
// removed while it is published.
std::mutex& StateMutex() {
    static std::mutex mutex;
    return mutex;
}

// A name RandomHexName could have made (letters lowered).
bool IsId(std::string_view id) {
    return id.size() == kIdLength && std::all_of(id.begin(), id.end(), [](char c) {
               return platform::HexDigitValue(c) >= 0 && !(c >= 'A' && c <= 'F');
           });
}

// A header's or the note's number: digits alone, blanks around them aside.
std::optional<uint64_t> ParseCount(std::string_view text) {
    return platform::ParseDigits(platform::Trim(text));
}

std::optional<std::string> HeaderOf(http::Connection& c, std::string_view name) {
    return http::FindHeaderValue(c.request().headerText(), name, kMaxHeaderValue);
}

// The file name of an Upload-Metadata value ("filename BASE64,type BASE64"); "name" stands
// for it too.
std::string SentName(std::string_view metadata) {
    std::string fallback;
    for (size_t start = 0; start <= metadata.size();) {
        size_t end = metadata.find(',', start);
        if (end == std::string_view::npos) end = metadata.size();
        const std::string_view pair = platform::Trim(metadata.substr(start, end - start));
        start = end + 1;
        const size_t space = pair.find(' ');
        const std::string_view key = pair.substr(0, space);
        const std::string value = space == std::string_view::npos
                                      ? std::string()
                                      : platform::Base64Decode(platform::Trim(pair.substr(space)));
        if (key == "filename") return value;
        if (key == "name") fallback = value;
    }
    return fallback;
}

struct Upload {
    std::string dataPath;
    std::string notePath;
    uint64_t length = 0;
    std::string name;  // the safe name it is to be stored under
};

Upload Paths(const std::string& directory, std::string_view id) {
    Upload upload;
    upload.dataPath = directory + "/" + std::string(kStatePrefix) + std::string(id);
    upload.notePath = upload.dataPath + std::string(kNoteSuffix);
    return upload;
}

// The upload `id` of the folder as its note tells; std::nullopt for none (or one finished).
std::optional<Upload> FindUpload(const std::string& directory, std::string_view id) {
    if (!IsId(id)) return std::nullopt;
    Upload upload = Paths(directory, id);
    const std::optional<std::string> note =
        platform::ReadWholeFile(upload.notePath, kMaxNote, nullptr);
    if (!note) return std::nullopt;
    const size_t lineEnd = note->find('\n');
    const std::optional<uint64_t> length = ParseCount(std::string_view(*note).substr(0, lineEnd));
    if (lineEnd == std::string::npos || !length) return std::nullopt;
    upload.length = *length;
    upload.name = SafeUploadName(platform::Trim(std::string_view(*note).substr(lineEnd + 1)));
    return upload;
}

// Opens the bytes the server holds of `upload` into `data`; how many there are, or std::nullopt
// when they are gone (another request finished or gave up the upload).
std::optional<uint64_t> OpenHeld(const Upload& upload, platform::ContinuedFile& data) {
    return data.Open(upload.dataPath, false) ? data.Size() : std::nullopt;
}

// Removes the uploads of the folder that were left unfinished for long.
void ForgetAbandoned(const std::string& directory) {
    const std::time_t oldest = platform::NowUtc() - kAbandonedAfterSeconds;
    const auto entries = platform::ListDirectory(directory, [](std::string_view name, bool) {
        return platform::StartsWithNoCase(name, kStatePrefix);
    });
    if (!entries) return;
    std::lock_guard lock(StateMutex());
    for (const platform::DirectoryEntry& entry : *entries) {
        if (entry.isDirectory || entry.modified >= oldest) continue;
        platform::RemoveFile(directory + "/" + entry.name);
    }
}

// Sends an answer without a body: `lines` are header lines, each ending in CR LF.
void SendBare(http::Connection& c, int status, std::string_view reason, std::string_view lines) {
    std::string head =
        "HTTP/1.0 " + std::to_string(status) + " " + std::string(reason) +
        "\r\nServer: " VANTRY_SERVER_HEADER "\r\nTus-Resumable: " + std::string(kTusVersion) +
        "\r\nCache-Control: no-store\r\n";
    head.append(lines);
    // A 204 has no body and says nothing of its length.
    if (status != 204) head.append("Content-Length: 0\r\n");
    head.append("\r\n");
    c.SendText(head);
    c.Answer(http::Response::Sent(status));
}

std::string OffsetLine(uint64_t offset) {
    return "Upload-Offset: " + std::to_string(offset) + "\r\n";
}

// The header line naming where a finished upload was stored, percent-encoded: a header's value
// is ASCII.
std::string StoredLine(const StoredUpload& stored) {
    return "Upload-Stored-Name: " + platform::PercentEncode(stored.name) + "\r\n";
}

// Gives a whole upload its name and forgets it; std::nullopt when that failed, or another
// request finished it first (`*finished` then).
std::optional<StoredUpload> Finish(const std::string& directory, const Upload& upload,
                                   bool* finished) {
    std::lock_guard lock(StateMutex());
    *finished = !platform::FileExists(upload.notePath);
    if (*finished) return std::nullopt;
    std::optional<StoredUpload> stored =
        PublishUnderFreeName(directory, upload.dataPath, upload.name, upload.length);
    if (stored) platform::RemoveFile(upload.notePath);
    return stored;
}

void Create(http::Connection& c, const UploadFolder& folder) {
    const std::optional<std::string> lengthText = HeaderOf(c, "Upload-Length");
    const std::optional<uint64_t> length = lengthText ? ParseCount(*lengthText) : std::nullopt;
    if (!length) {
        c.Answer(http::Response::Error(400));
        return;
    }
    if (folder.maxBytes != 0 && *length > folder.maxBytes) {
        c.Answer(http::Response::Error(413));
        return;
    }
    ForgetAbandoned(folder.directory);
    const std::string id = platform::RandomHexName();
    const std::string name = SafeUploadName(SentName(HeaderOf(c, "Upload-Metadata").value_or("")));
    Upload upload = Paths(folder.directory, id);
    upload.length = *length;
    upload.name = name;
    platform::ContinuedFile data;
    if (id.empty() || !data.Open(upload.dataPath, true)) {
        c.Answer(http::Response::Error(500));
        return;
    }
    if (!platform::WriteFileAtomically(upload.notePath, std::to_string(*length) + "\n" + name)) {
        platform::RemoveFile(upload.dataPath);
        c.Answer(http::Response::Error(500));
        return;
    }
    std::string lines = "Location: " + std::string(kAddressPrefix) + id + "\r\n" + OffsetLine(0);
    // An empty file is whole as soon as it exists.
    if (*length == 0) {
        bool finished = false;
        std::optional<StoredUpload> stored = Finish(folder.directory, upload, &finished);
        if (!stored) {
            c.Answer(http::Response::Error(500));
            return;
        }
        lines += StoredLine(*stored);
    }
    SendBare(c, 201, "Created", lines);
}

// Appends the request's body to the upload at the offset it names, which must be where the
// upload's bytes end. What arrives before a cut stays, for the sender to go on from.
void Append(http::Connection& c, const UploadFolder& folder, const Upload& upload) {
    if (!platform::StartsWithNoCase(HeaderOf(c, "Content-Type").value_or(""), kBytesType)) {
        SendBare(c, 415, "Unsupported Media Type", "");
        return;
    }
    const std::optional<std::string> offsetText = HeaderOf(c, "Upload-Offset");
    const std::optional<uint64_t> offset = offsetText ? ParseCount(*offsetText) : std::nullopt;
    if (!offset) {
        c.Answer(http::Response::Error(400));
        return;
    }
    platform::ContinuedFile data;
    const std::optional<uint64_t> held = OpenHeld(upload, data);
    if (!held) {
        c.Answer(http::Response::Error(404));
        return;
    }
    if (*offset != *held) {
        SendBare(c, 409, "Conflict", OffsetLine(*held));
        return;
    }
    const uint64_t room = upload.length - std::min(upload.length, *offset);
    if (const std::optional<uint64_t> declared = c.DeclaredBodyLength();
        declared && *declared > room) {
        c.Answer(http::Response::Error(413));
        return;
    }
    std::unique_ptr<char[]> buffer(new char[kBufferSize]);
    uint64_t at = *offset;
    bool written = true;
    bool beyond = false;
    for (size_t n; (n = c.ReadBody(buffer.get(), kBufferSize)) > 0;) {
        std::string_view bytes(buffer.get(), n);
        if (bytes.size() > upload.length - at) {
            bytes = bytes.substr(0, upload.length - at);
            beyond = true;
        }
        if (written && !data.WriteAt(at, bytes)) written = false;
        if (written) at += bytes.size();
    }
    if (!written) {
        c.ReportToOwner("An upload could not be written to " + folder.directory + ".");
        c.Answer(http::Response::Error(500));
        return;
    }
    if (c.BodyCutShort() || beyond) {
        c.Answer(http::Response::Error(400));
        return;
    }
    std::string lines = OffsetLine(at);
    if (at == upload.length) {
        bool finished = false;
        std::optional<StoredUpload> stored = Finish(folder.directory, upload, &finished);
        if (stored) {
            lines += StoredLine(*stored);
        } else if (!finished) {
            c.Answer(http::Response::Error(500));
            return;
        }
    }
    SendBare(c, 204, "No Content", lines);
}

void Forget(http::Connection& c, const Upload& upload) {
    {
        std::lock_guard lock(StateMutex());
        platform::RemoveFile(upload.notePath);
        platform::RemoveFile(upload.dataPath);
    }
    SendBare(c, 204, "No Content", "");
}

}  // namespace

void HandleResumableUpload(http::Connection& c, std::string_view rest) {
    const std::string_view method = c.request().method();
    const bool head = method == "HEAD" || method == "GET";
    if (!rest.empty() && rest.front() == '/') rest.remove_prefix(1);
    if (rest.empty() && method == "OPTIONS") {
        SendBare(c, 204, "No Content",
                 "Tus-Version: " + std::string(kTusVersion) +
                     "\r\nTus-Extension: creation,termination\r\n");
        return;
    }
    const std::optional<UploadFolder> folder = OpenUploadFolder(c);
    if (!folder) return;
    if (rest.empty()) {
        if (method == "POST") {
            Create(c, *folder);
        } else {
            c.Answer(http::Response::Error(400));
        }
        return;
    }
    const std::string id = platform::LowerCopy(rest);
    const std::optional<Upload> upload = FindUpload(folder->directory, id);
    if (!upload) {
        c.Answer(http::Response::Error(404));
        return;
    }
    if (head) {
        platform::ContinuedFile data;
        const std::optional<uint64_t> held = OpenHeld(*upload, data);
        if (!held) {
            c.Answer(http::Response::Error(404));
            return;
        }
        SendBare(c, 204, "No Content",
                 OffsetLine(*held) + "Upload-Length: " + std::to_string(upload->length) + "\r\n");
    } else if (method == "PATCH") {
        Append(c, *folder, *upload);
    } else if (method == "DELETE") {
        Forget(c, *upload);
    } else {
        c.Answer(http::Response::Error(400));
    }
}

}  // namespace apps
