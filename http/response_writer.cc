// Response writing: status lines, the standard headers, pages, files, embedded files and
// error pages.
#include <cstdio>
#include <string>
#include <vector>

#include "http/byte_range.h"
#include "http/connection.h"
#include "http/entity_tags.h"
#include "http/http_date.h"
#include "platform/clock.h"
#include "platform/open_file.h"
#include "platform/resources.h"
#include "platform/socket.h"
#include "platform/text.h"
#include "platform/version.h"

namespace http {
namespace {

constexpr int kIdleLimitMs = kIdleLimitSeconds * 1000;
constexpr size_t kMaxStatusLine = 79;
// A response's last bytes are sent as "more to come": Finish shuts the sending side down
// right after, and the stack sends them together with the FIN, one packet instead of two.
constexpr bool kFinFollows = true;
// A file up to this size is read and sent with its head in one write; a larger one goes
// out with sendfile, without a copy.
constexpr uint64_t kLargestFileCopied = 16 * 1024;

constexpr std::string_view kStatusHeaders =
    "HTTP/1.0 200 OK\r\nServer: " VANTRY_SERVER_HEADER "\r\nAccept-Ranges: bytes\r\n";
constexpr std::string_view kPartialStatusHeaders =
    "HTTP/1.0 206 Partial Content\r\nServer: " VANTRY_SERVER_HEADER "\r\nAccept-Ranges: bytes\r\n";

std::string_view StatusText(int code) {
    switch (code) {
        case 400:
            return "400 Bad Request";
        case 403:
            return "403 Forbidden";
        case 413:
            return "413 Request Entity Too Large";
        case 404:
            return "404 Object Not Found";
        case 412:
            return "412 Precondition Failed";
        case 500:
            return "500 Internal Error";
        case 501:
            return "501 Not Supported";
        case 503:
            return "503 Service Unavailable";
        default:
            return "500 Internal Error";
    }
}

// The ETag line of `entityTag`, none when it is empty.
void AppendEntityTag(std::string_view entityTag, std::string* head) {
    if (!entityTag.empty()) head->append("ETag: ").append(entityTag).append("\r\n");
}

// The head of a response whose body is `length` bytes: `statusHeaders` (the status line,
// Server and Accept-Ranges), then the date, the type, the modification time, the entity
// tag and the `contentRange` line when there are, and the length when it is known.
std::string ContentHead(std::string_view statusHeaders, std::string_view date,
                        std::string_view contentTypeLine, std::string_view lastModified,
                        std::string_view entityTag, std::string_view contentRange,
                        std::optional<uint64_t> length) {
    std::string head(statusHeaders);
    head.append("Date: ").append(date).append("\r\n");
    head.append(contentTypeLine).append("\r\n");
    head.append("Last-Modified: ").append(lastModified).append("\r\n");
    AppendEntityTag(entityTag, &head);
    if (!contentRange.empty()) head.append(contentRange).append("\r\n");
    if (length) head.append("Content-Length: ").append(std::to_string(*length)).append("\r\n");
    head.append("\r\n");
    return head;
}

// The whole answer to a request whose copy is still current, with the entity tag when
// there is one.
std::string NotModifiedHead(std::string_view date, std::string_view lastModified,
                            std::string_view entityTag = {}) {
    std::string head("HTTP/1.0 304 Not Modified\r\nServer: " VANTRY_SERVER_HEADER "\r\nDate: ");
    head.append(date).append("\r\nLast-Modified: ").append(lastModified).append("\r\n");
    AppendEntityTag(entityTag, &head);
    head.append("\r\n");
    return head;
}

// The head of a 200 response with a body of `length` bytes.
std::string OkHead(std::string_view date, std::string_view contentTypeLine,
                   std::string_view lastModified, std::optional<uint64_t> length,
                   std::string_view entityTag = {}) {
    return ContentHead(kStatusHeaders, date, contentTypeLine, lastModified, entityTag, {}, length);
}

// Whether any of the condition's lines names `tag` (see EntityTagListMatches).
bool AnyLineMatches(const std::vector<std::string_view>& lines, std::string_view tag,
                    bool weakComparison) {
    for (std::string_view line : lines) {
        if (EntityTagListMatches(line, tag, weakComparison)) return true;
    }
    return false;
}

// The extension of a file name: the text after the first full stop of its last component.
std::optional<std::string_view> FileExtension(std::string_view path) {
    size_t slash = path.rfind('/');
    std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    size_t dot = name.find('.');
    if (dot == std::string_view::npos) return std::nullopt;
    return name.substr(dot + 1);
}

// A file without an extension goes out as a page when its first bytes read as text; a
// program or other binary data is offered as a download, never shown.
std::string_view ContentTypeWithoutExtension(const platform::OpenedFile& file) {
    constexpr uint64_t kSampleSize = 512;
    return platform::IsTextSample(platform::ReadContents(file, 0, kSampleSize))
               ? "Content-Type: text/html"
               : "Content-Type: application/octet-stream";
}

// What an error means to a visitor, in the modern look: a heading and a sentence.
struct ErrorWords {
    int code;
    std::string_view heading;
    std::string_view sentence;
};
constexpr ErrorWords kErrorWords[] = {
    {400, "Bad request", "The server could not understand what your browser asked for."},
    {401, "Login needed", "This page is only for visitors with a user name and password."},
    {403, "Not allowed", "This address may not be opened here."},
    {404, "Page not found", "There is nothing at this address. It may have moved or been removed."},
    {412, "Changed meanwhile",
     "The file changed since your browser last saw it, so nothing was done. Load it again and "
     "retry."},
    {413, "Too large", "What you sent is larger than this server accepts."},
    {500, "Server error", "Something went wrong on the server. Please try again in a moment."},
    {501, "Not supported", "This server does not handle that kind of request."},
    {503, "Busy", "The server has too much to do right now. Please try again in a moment."},
};

}  // namespace

void AppendModernHead(std::string_view title, std::string* page) {
    page->append(
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>");
    page->append(title).append("</title>\n<link rel=\"stylesheet\" href=\"");
    page->append(kModernStylesheetPath).append("\">");
}

void AppendModernErrorPage(int status, std::string_view statusText, std::string* page) {
    // A status without words of its own is told as a server error.
    const ErrorWords* words = nullptr;
    for (int code : {status, 500}) {
        for (const ErrorWords& entry : kErrorWords) {
            if (words == nullptr && entry.code == code) words = &entry;
        }
    }
    AppendModernHead(words->heading, page);
    page->append("</head>\n<body><main class=\"error\">\n<h1>");
    page->append(words->heading).append("</h1>\n<p>").append(words->sentence);
    page->append("</p>\n<p><a class=\"button\" href=\"/\">Go to the home page</a></p>\n");
    page->append("<p class=\"status\">").append(statusText).append("</p>\n</main></body></html>\n");
}

bool Connection::SendBytes(std::string_view bytes, bool more) {
    return SendHeadAndBody(bytes, {}, more);
}

bool Connection::SendHeadAndBody(std::string_view head, std::string_view content, bool more,
                                 bool fileFollows) {
    if (!framing_.active()) return SendWire(head, content, more);
    if (sendFailed_) return false;
    if (!framing_.HeadSent()) framing_.SetPersistent(keepAlive_ && RequestBodyConsumed());
    framed_.clear();
    framing_.Feed(head, &framed_);
    framing_.Feed(content, &framed_);
    // No close follows an answer on a connection that stays open: only a file's bytes may.
    if (!SendWire(framed_, {}, fileFollows)) return false;
    bytesSent_ += content.size();
    return true;
}

bool Connection::SendFramed(std::string_view bytes, int idleLimitMs, bool countAsBody) {
    if (sendFailed_) return false;
    uint64_t uncounted = 0;
    if (!framing_.active()) {
        if (!SendPaced({}, bytes, false, idleLimitMs, countAsBody ? &bytesSent_ : &uncounted)) {
            sendFailed_ = true;
        }
        return !sendFailed_;
    }
    if (!framing_.HeadSent()) framing_.SetPersistent(keepAlive_ && RequestBodyConsumed());
    framed_.clear();
    framing_.Feed(bytes, &framed_);
    if (!framed_.empty() && !SendPaced({}, framed_, false, idleLimitMs, &uncounted)) {
        sendFailed_ = true;
        return false;
    }
    if (countAsBody) bytesSent_ += bytes.size();
    return true;
}

bool Connection::SendFileBody(int fd, uint64_t offset, uint64_t count) {
    if (sendFailed_) return false;
    std::string before;
    std::string after;
    if (framing_.active() && (!framing_.HeadSent() || !framing_.Around(count, &before, &after))) {
        sendFailed_ = true;
        return false;
    }
    uint64_t uncounted = 0;
    if (!before.empty() && !SendPaced({}, before, true, kIdleLimitMs, &uncounted)) {
        sendFailed_ = true;
    } else if (!SendFilePaced(fd, offset, count)) {
        sendFailed_ = true;
    } else if (!after.empty() && !SendPaced({}, after, false, kIdleLimitMs, &uncounted)) {
        sendFailed_ = true;
    }
    return !sendFailed_;
}

bool Connection::SendWire(std::string_view head, std::string_view content, bool more) {
    // A client that went away makes the remaining sends fail quietly.
    if (sendFailed_) return false;
    if (tls_ || !onLoop_) {
        if (!SendPaced(head, content, more, kIdleLimitMs, &bytesSent_)) sendFailed_ = true;
        return !sendFailed_;
    }
    // The loop sends what the socket takes now; the worker sends the rest, in order.
    if (!HasUnsent()) {
        size_t sent = 0;
        if (!platform::SendNow(socket_.get(), head, content, more, &sent)) {
            sendFailed_ = true;
            return false;
        }
        size_t fromHead = std::min(sent, head.size());
        head.remove_prefix(fromHead);
        content.remove_prefix(sent - fromHead);
        bytesSent_ += sent - fromHead;
    }
    // No response sends head bytes after body bytes; were one to, they would count as body.
    (unsentBody_.empty() ? unsentHead_ : unsentBody_).append(head);
    unsentBody_.append(content);
    return true;
}

void Connection::SendText(std::string_view text) { SendBytes(text); }

void Connection::SendStatusHeaders() { SendBytes(kStatusHeaders); }

std::string Connection::GeneratedPageHead(std::optional<uint64_t> length) const {
    const std::string date = FormatHttpDate(requestTime);
    return OkHead(date, PageTypeLines(), date, length);
}

void Connection::SendPage() {
    std::string head = GeneratedPageHead(page_.length());
    SendHeadAndBody(head, request_.IsHead() ? std::string_view() : page_.view(), kFinFollows);
}

void Connection::SendFile() {
    platform::OpenFailure failure = platform::OpenFailure::kNotFound;
    const std::string filePath = response_.path();
    const std::string typeLines = response_.typeLines();
    std::optional<platform::OpenedFile> file = response_.TakeFile();
    if (!file) file = platform::OpenRegularFile(filePath, &failure);
    if (!file) {
        // A file that exists but cannot be read now (no descriptor left, an I/O error) is
        // the server's fault, not a missing page.
        Answer(Response::Error(failure == platform::OpenFailure::kFailed ? 500 : 404));
        return;
    }
    // Whatever follows, the answer is this file's, sent here.
    Answer(Response::Sent(200));
    const std::string fileTag = platform::EntityTag(*file);
    const int failedCondition = FailedCondition(*file, fileTag);
    if (failedCondition == 412) {
        Answer(Response::Error(412));
        return;
    }
    const std::string entityTag = SendsEntityTag() ? fileTag : std::string();
    std::string date = FormatHttpDate(platform::NowUtc());
    std::string lastModified = FormatHttpDate(file->modified);
    if (failedCondition == 304) {
        SendBytes(NotModifiedHead(date, lastModified, entityTag), kFinFollows);
        Answer(Response::Sent(304));
        return;
    }
    ByteRange range = RequestedRange(*file, fileTag);
    if (range.kind == ByteRange::Kind::kUnsatisfiable) {
        std::string head = "HTTP/1.0 416 Range Not Satisfiable\r\nServer: " VANTRY_SERVER_HEADER
                           "\r\nDate: " +
                           date + "\r\nContent-Range: bytes */" + std::to_string(file->size) +
                           "\r\nContent-Length: 0\r\n\r\n";
        SendBytes(head, kFinFollows);
        Answer(Response::Sent(416));
        return;
    }
    std::optional<std::string_view> extension = FileExtension(filePath);
    std::string contentType = !typeLines.empty() ? typeLines
                              : extension        ? ContentTypeFor(*extension)
                                                 : std::string(ContentTypeWithoutExtension(*file));
    uint64_t offset = 0;
    uint64_t count = file->size;
    std::string head;
    if (range.kind == ByteRange::Kind::kPart) {
        offset = range.first;
        count = range.length();
        std::string contentRange = "Content-Range: bytes " + std::to_string(range.first) + "-" +
                                   std::to_string(range.last) + "/" + std::to_string(file->size);
        head = ContentHead(kPartialStatusHeaders, date, contentType, lastModified, entityTag,
                           contentRange, count);
        Answer(Response::Sent(206));
    } else {
        head = OkHead(date, contentType, lastModified, file->size, entityTag);
    }
    if (request_.IsHead() || count == 0) {
        SendBytes(head, kFinFollows);
        return;
    }
    if (count <= kLargestFileCopied) {
        std::string contents = platform::ReadContents(*file, offset, count);
        SendHeadAndBody(head, contents, kFinFollows);
        // A file that shrank since it was opened ends the body short, as with sendfile.
        if (contents.size() < count) sendFailed_ = true;
        return;
    }
    if (!SendHeadAndBody(head, {}, true, true)) return;
    // The system sends the file: its bytes go out unchanged, under their Content-Length.
    if (framing_.active() && !framing_.PassThrough(count)) {
        sendFailed_ = true;
        return;
    }
    if (onLoop_) {
        if (!HasUnsent() &&
            !platform::SendFileNow(socket_.get(), file->fd.get(), &offset, &count, &bytesSent_)) {
            sendFailed_ = true;
            return;
        }
        if (count > 0) {
            unsentFile_ = std::move(file->fd);
            unsentFileOffset_ = offset;
            unsentFileCount_ = count;
        }
        return;
    }
    if (!SendFilePaced(file->fd.get(), offset, count)) sendFailed_ = true;
}

bool Connection::NotModifiedSince(std::time_t modified) const {
    std::optional<std::string_view> since = request_.Header("If-Modified-Since");
    if (!since) return false;
    std::optional<std::time_t> date = ParseHttpDate(*since);
    return date && *date >= modified;
}

int Connection::FailedCondition(const platform::OpenedFile& file, std::string_view tag) const {
    const std::vector<std::string_view> ifMatch = request_.Headers("If-Match");
    if (!ifMatch.empty() && !AnyLineMatches(ifMatch, tag, false)) return 412;
    // Whether the client's copy is still current: If-None-Match's tags when there are, which
    // set If-Modified-Since aside, the date otherwise.
    bool current = false;
    const std::vector<std::string_view> ifNoneMatch = request_.Headers("If-None-Match");
    if (!ifNoneMatch.empty()) {
        current = AnyLineMatches(ifNoneMatch, tag, true);
        // Anything but reading the file must not go on with a copy the client has.
        if (current && !request_.IsHead() && request_.method() != "GET") return 412;
    } else {
        current = !request_.IsPost() && NotModifiedSince(file.modified);
    }
    return current ? 304 : 0;
}

bool Connection::SendsEntityTag() const {
    if (Http11() || request_.protocol() == "HTTP/2.0") return true;
    // An HTTP/1.0 answer has the bytes it always had, unless its request spoke of tags.
    const std::optional<std::string_view> ifRange = request_.Header("If-Range");
    return request_.Header("If-None-Match") || request_.Header("If-Match") ||
           (ifRange && IsEntityTag(*ifRange));
}

ByteRange Connection::RequestedRange(const platform::OpenedFile& file, std::string_view tag) const {
    if (request_.IsHead() || request_.IsPost()) return {};
    std::optional<std::string_view> range = request_.Header("Range");
    if (!range) return {};
    // A range asked for on condition that the file is unchanged: a file changed since (or a
    // condition that is neither its tag, compared strongly, nor a date of ours) gets the
    // whole file.
    if (std::optional<std::string_view> ifRange = request_.Header("If-Range")) {
        if (IsEntityTag(*ifRange)) {
            if (!EntityTagListMatches(*ifRange, tag, false)) return {};
        } else {
            std::optional<std::time_t> date = ParseHttpDate(*ifRange);
            if (!date || *date != file.modified) return {};
        }
    }
    return ParseByteRange(*range, file.size);
}

void Connection::SendResource(int resourceId, std::string_view extension) {
    std::optional<std::string_view> resource = platform::FindResource(resourceId);
    if (!resource) {
        Answer(Response::Error(404));
        return;
    }
    SendData(*resource, extension);
}

void Connection::SendData(std::string_view data, std::string_view extension) {
    std::string now = FormatHttpDate(platform::NowUtc());
    std::string head = OkHead(now, WithFramingRule(ContentTypeFor(extension)), now, data.size());
    SendHeadAndBody(head, request_.IsHead() ? std::string_view() : data, kFinFollows);
    Answer(Response::Sent(200));
}

void Connection::SendUnchanging(std::string_view data, std::string_view contentTypeLine,
                                int maxAgeSeconds) {
    // The program's start stands for the data's last change: it is built in.
    static const std::time_t built = platform::NowUtc();
    Answer(Response::Sent(200));
    const std::string now = FormatHttpDate(platform::NowUtc());
    const std::string lastModified = FormatHttpDate(built);
    if (NotModifiedSince(built)) {
        SendBytes(NotModifiedHead(now, lastModified), kFinFollows);
        Answer(Response::Sent(304));
        return;
    }
    std::string type(contentTypeLine);
    type.append("\r\nCache-Control: public, max-age=").append(std::to_string(maxAgeSeconds));
    std::string head = OkHead(now, type, lastModified, data.size());
    SendHeadAndBody(head, request_.IsHead() ? std::string_view() : data, kFinFollows);
}

void Connection::SendErrorPage() {
    std::string statusLine = "HTTP/1.0 ";
    statusLine.append(StatusText(response_.status()));
    if (statusLine.size() > kMaxStatusLine) statusLine.resize(kMaxStatusLine);
    std::string page;
    page.reserve(128 + page_.length());
    page.append(statusLine).append("\r\n").append(PageTypeLines()).append("\r\n\r\n");
    if (ModernLook()) {
        AppendModernErrorPage(response_.status(), statusLine.substr(9), &page);
    } else {
        page.append("<body><h1>\r\n").append(statusLine).append("\r\n</h1></body>\r\n");
    }
    page.append(page_.view());
    SendBytes(page, kFinFollows);
}

void Connection::SendRaw() {
    // The listing's bytes are not counted as a body: its log line shows none.
    SendFramed(page_.view(), kIdleLimitMs, false);
}

}  // namespace http
