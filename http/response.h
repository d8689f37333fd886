// What a handler answers a request with: one value, whose kind says how the connection sends
// it. A generated page's text is written into the connection's page buffer (see
// Connection::AppendBody), which keeps its memory from one request to the next.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/open_file.h"

namespace http {

class Response {
  public:
    enum class Kind {
        kPage,     // the page buffer, sent whole after the head of a generated page
        kRaw,      // the page buffer, sent as it stands: the handler sent the head already
        kFile,     // the file `path()` names, or the part of it the request's Range asks for
        kListing,  // the listing of the directory `path()` names
        kError,    // `status()` with its one-line error page, the page buffer after it
        kSent,     // the handler sent the whole answer itself, with `status()`
    };

    // A new request's answer until a handler gives another: the page it builds.
    Response() = default;

    static Response Page() { return Response(Kind::kPage, 200); }
    static Response Raw() { return Response(Kind::kRaw, 200); }
    // `opened` is the file `path` names when the handler opened it already. `typeLines`, when
    // not empty, are the header lines sent in place of the type the file's extension gives
    // (no CR LF after the last): a download's disposition, say.
    static Response File(std::string path, std::optional<platform::OpenedFile> opened,
                         std::string typeLines = {}) {
        Response r(Kind::kFile, 200);
        r.path_ = std::move(path);
        r.file_ = std::move(opened);
        r.typeLines_ = std::move(typeLines);
        return r;
    }
    // `directory` ends in "/".
    static Response Listing(std::string directory) {
        Response r(Kind::kListing, 200);
        r.path_ = std::move(directory);
        return r;
    }
    static Response Error(int status) { return Response(Kind::kError, status); }
    static Response Sent(int status) { return Response(Kind::kSent, status); }

    Kind kind() const { return kind_; }
    int status() const { return status_; }
    bool IsError() const { return kind_ == Kind::kError; }
    const std::string& path() const { return path_; }
    const std::string& typeLines() const { return typeLines_; }
    // The opened file of a file answer, handed over once to whoever sends it.
    std::optional<platform::OpenedFile> TakeFile() { return std::exchange(file_, std::nullopt); }

  private:
    Response(Kind kind, int status) : kind_(kind), status_(status) {}

    Kind kind_ = Kind::kPage;
    int status_ = 200;
    std::string path_;
    std::string typeLines_;
    std::optional<platform::OpenedFile> file_;
};

// The modern look's stylesheet, served under the applications' prefix.
inline constexpr std::string_view kModernStylesheetPath = "/VNT/vantry.css";
// Appends the start of a page in the modern look, up to the end of its head's own lines: the
// doctype, UTF-8, the viewport, `title` and the stylesheet. The caller closes the head.
void AppendModernHead(std::string_view title, std::string* page);
// Appends the body of an error page in the modern look: an HTML5 page in UTF-8 that names
// the problem in plain words, shows `statusText` ("404 Object Not Found") and links home.
void AppendModernErrorPage(int status, std::string_view statusText, std::string* page);

}  // namespace http
