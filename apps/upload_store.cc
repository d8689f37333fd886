// Uploads stored under the names their senders gave them: a multipart/form-data body is read
// through one fixed buffer, part by part, and each file part goes to its own pending file.
#include "apps/upload_store.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <utility>

#include "apps/stored_text.h"
#include "platform/pending_file.h"
#include "platform/text.h"

namespace apps {
namespace {

// What a request holds of its body at once.
constexpr size_t kBufferSize = 256 * 1024;
// The most bytes of one part's header lines.
constexpr size_t kMaxPartHead = 16 * 1024;
constexpr size_t kMaxBoundary = 200;
constexpr size_t kMaxNameBytes = 200;
// The highest number a clashing name is given: "photo (9999).jpg".
constexpr int kMaxNameNumber = 9999;

// Where `word` occurs in `text` from `from` on, ASCII letters compared without regard to case.
size_t FindNoCase(std::string_view text, std::string_view word, size_t from = 0) {
    if (from > text.size()) return std::string_view::npos;
    auto same = [](char a, char b) { return platform::AsciiUpper(a) == platform::AsciiUpper(b); };
    auto at = std::search(text.begin() + static_cast<std::ptrdiff_t>(from), text.end(),
                          word.begin(), word.end(), same);
    return at == text.end() ? std::string_view::npos : static_cast<size_t>(at - text.begin());
}

// The value of `name`=... in a header's parameters, unquoted; std::nullopt without one.
std::optional<std::string> Parameter(std::string_view text, std::string_view name) {
    for (size_t at = FindNoCase(text, name); at != std::string_view::npos;
         at = FindNoCase(text, name, at + 1)) {
        const size_t after = at + name.size();
        const bool starts =
            at == 0 || text[at - 1] == ';' || text[at - 1] == ' ' || text[at - 1] == '\t';
        if (!starts || after >= text.size() || text[after] != '=') continue;
        std::string_view value = text.substr(after + 1);
        if (!value.empty() && value.front() == '"') {
            value.remove_prefix(1);
            return std::string(value.substr(0, value.find('"')));
        }
        return std::string(platform::Trim(value.substr(0, value.find_first_of(";\r\n"))));
    }
    return std::nullopt;
}

// The file name a part's header lines give as it was sent; std::nullopt for a part that is no
// file, or a file field sent without a file chosen (an empty name).
std::optional<std::string> SentFileName(std::string_view headers) {
    for (size_t start = 0; start < headers.size();) {
        size_t end = headers.find("\r\n", start);
        if (end == std::string_view::npos) end = headers.size();
        const std::string_view line = headers.substr(start, end - start);
        start = end + 2;
        if (!platform::StartsWithNoCase(line, "Content-Disposition:")) continue;
        std::optional<std::string> name = Parameter(line, "filename");
        if (!name || name->empty()) return std::nullopt;
        return name;
    }
    return std::nullopt;
}

std::mutex& NameMutex() {
    static std::mutex mutex;
    return mutex;
}

// `name`, or with `number` above 1 that number before its extension: "photo (2).jpg".
std::string Numbered(const std::string& name, int number) {
    if (number == 1) return name;
    size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) dot = name.size();
    return name.substr(0, dot) + " (" + std::to_string(number) + ")" + name.substr(dot);
}

// Free when neither the name nor its pending form exists: another upload may be writing it.
bool NameFree(const std::string& directory, const std::string& name) {
    const std::string path = directory + "/" + name;
    return !platform::NameTaken(path) &&
           !platform::NameTaken(path + std::string(platform::kPendingSuffix));
}

// A file stored under the first free form of its name: created pending, published when whole.
class NamedUpload {
  public:
    NamedUpload(const std::string& directory, std::string name)
        : directory_(directory), name_(std::move(name)) {}

    bool Create() {
        std::lock_guard lock(NameMutex());
        for (number_ = 1; number_ <= kMaxNameNumber; ++number_) {
            const std::string candidate = Numbered(name_, number_);
            if (NameFree(directory_, candidate) && file_.Create(directory_ + "/" + candidate))
                return true;
        }
        return false;
    }
    bool Write(std::string_view bytes) { return file_.Write(bytes); }

    // Gives the file its name (another free one when something took it meanwhile); the name
    // it got, or std::nullopt and no file.
    std::optional<StoredUpload> Publish() {
        std::lock_guard lock(NameMutex());
        for (int number = number_; number <= kMaxNameNumber; ++number) {
            const std::string candidate = Numbered(name_, number);
            if (number != number_ && !NameFree(directory_, candidate)) continue;
            const uint64_t size = file_.written();
            switch (file_.PublishWithoutReplacing(directory_ + "/" + candidate)) {
                case platform::PendingFile::Outcome::kPublished:
                    return StoredUpload{candidate, size};
                case platform::PendingFile::Outcome::kFailed:
                    return std::nullopt;
                case platform::PendingFile::Outcome::kNameTaken:
                    break;
            }
        }
        file_.Discard();
        return std::nullopt;
    }

  private:
    const std::string& directory_;
    std::string name_;
    int number_ = 1;
    platform::PendingFile file_;
};

// The body's bytes not yet taken, in one buffer of fixed size.
class BodyWindow {
  public:
    BodyWindow() : data_(new char[kBufferSize]) {}
    std::string_view View() const { return {data_.get() + start_, end_ - start_}; }
    void Consume(size_t n) { start_ += n; }
    void Put(std::string_view bytes) {
        Compact();
        std::memcpy(data_.get() + end_, bytes.data(), bytes.size());
        end_ += bytes.size();
    }
    // Reads more of the body after what is held; 0 at its end.
    size_t Fill(http::Connection& c) {
        Compact();
        const size_t n = c.ReadBody(data_.get() + end_, kBufferSize - end_);
        end_ += n;
        return n;
    }

  private:
    void Compact() {
        if (start_ == 0) return;
        std::memmove(data_.get(), data_.get() + start_, end_ - start_);
        end_ -= start_;
        start_ = 0;
    }
    std::unique_ptr<char[]> data_;
    size_t start_ = 0;
    size_t end_ = 0;
};

// The course of a multipart body: before its first delimiter, just after a delimiter, in a
// part's header lines, in its content, after the closing delimiter.
enum class Stage { kPreamble, kAfterDelimiter, kHead, kContent, kEnd };

class MultipartReader {
  public:
    MultipartReader(std::string_view boundary, const std::string& directory)
        : delimiter_("\r\n--" + std::string(boundary)), directory_(directory) {
        // The body's first delimiter has no line end before it.
        window_.Put("\r\n");
    }

    UploadOutcome Run(http::Connection& c, uint64_t maxBytes) {
        uint64_t read = 0;
        while (Step()) {
            if (stage_ == Stage::kEnd) {
                // The epilogue is read and dropped, so that nothing of it is taken as the
                // connection's next request.
                char sink[4096];
                while (c.ReadBody(sink, sizeof sink) > 0) {
                }
                break;
            }
            const size_t n = window_.Fill(c);
            read += n;
            if (maxBytes != 0 && read > maxBytes) {
                Fail("The upload is larger than this server takes (" +
                     platform::HumanSize(maxBytes) + ").");
                break;
            }
            if (n == 0) {
                Fail(c.BodyCutShort() ? "The connection ended before the upload was complete."
                                      : "The upload ended before its last part.");
                break;
            }
        }
        if (!outcome_.failure.empty()) current_.reset();
        return std::move(outcome_);
    }

  private:
    // Takes what the window holds; false once the body cannot go on (see the outcome), true
    // when more is needed or the end was reached.
    bool Step() {
        for (;;) {
            const std::string_view view = window_.View();
            switch (stage_) {
                case Stage::kEnd:
                    return true;
                case Stage::kPreamble: {
                    const size_t at = view.find(delimiter_);
                    if (at == std::string_view::npos) {
                        window_.Consume(Unsearched(view.size()));
                        return true;
                    }
                    window_.Consume(at + delimiter_.size());
                    stage_ = Stage::kAfterDelimiter;
                    break;
                }
                case Stage::kAfterDelimiter:
                    // Spaces may pad the delimiter's line.
                    if (!view.empty() && (view[0] == ' ' || view[0] == '\t')) {
                        window_.Consume(1);
                        break;
                    }
                    if (view.size() < 2) return true;
                    if (view.substr(0, 2) == "--") {
                        stage_ = Stage::kEnd;
                        return true;
                    }
                    if (view.substr(0, 2) != "\r\n") return Fail(std::string(kMalformed));
                    window_.Consume(2);
                    stage_ = Stage::kHead;
                    break;
                case Stage::kHead: {
                    size_t end = 0;
                    if (view.substr(0, 2) != "\r\n") {
                        const size_t blank = view.find("\r\n\r\n");
                        if (blank == std::string_view::npos || blank + 2 > kMaxPartHead) {
                            if (view.size() >= kMaxPartHead) return Fail(std::string(kMalformed));
                            return true;
                        }
                        end = blank + 2;
                    }
                    if (!BeginEntry(view.substr(0, end))) return false;
                    window_.Consume(end + 2);
                    stage_ = Stage::kContent;
                    break;
                }
                case Stage::kContent: {
                    const size_t at = view.find(delimiter_);
                    const size_t content =
                        at == std::string_view::npos ? Unsearched(view.size()) : at;
                    if (current_ && !current_->Write(view.substr(0, content)))
                        return Fail("The file could not be written on the server.");
                    if (at == std::string_view::npos) {
                        window_.Consume(content);
                        return true;
                    }
                    window_.Consume(at + delimiter_.size());
                    if (!EndEntry()) return false;
                    stage_ = Stage::kAfterDelimiter;
                    break;
                }
            }
        }
    }

    // The bytes of `held` that may go: all but those in which a delimiter may have begun.
    size_t Unsearched(size_t held) const {
        return held < delimiter_.size() ? 0 : held - (delimiter_.size() - 1);
    }

    bool BeginEntry(std::string_view headers) {
        std::optional<std::string> sent = SentFileName(headers);
        if (!sent) return true;
        current_.emplace(directory_, SafeUploadName(*sent));
        if (!current_->Create()) return Fail("The file could not be created on the server.");
        return true;
    }

    bool EndEntry() {
        if (!current_) return true;
        std::optional<StoredUpload> stored = current_->Publish();
        current_.reset();
        if (!stored) return Fail("The file could not be stored on the server.");
        outcome_.stored.push_back(std::move(*stored));
        return true;
    }

    bool Fail(std::string why) {
        outcome_.failure = std::move(why);
        return false;
    }

    static constexpr std::string_view kMalformed = "The upload was not a form the server can read.";

    const std::string delimiter_;
    const std::string& directory_;
    BodyWindow window_;
    Stage stage_ = Stage::kPreamble;
    std::optional<NamedUpload> current_;
    UploadOutcome outcome_;
};

}  // namespace

std::string SafeUploadName(std::string_view sent) {
    const size_t slash = sent.find_last_of("/\\");
    if (slash != std::string_view::npos) sent.remove_prefix(slash + 1);
    std::string name = XmlText(sent);
    std::erase_if(name, [](char ch) { return ch == '\t' || ch == '\r' || ch == '\n'; });
    name.erase(0, name.find_first_not_of(". "));
    name = std::string(CutUtf8(name, kMaxNameBytes));
    return name.empty() ? "upload" : name;
}

std::optional<std::string> MultipartBoundary(std::string_view contentType) {
    if (!platform::StartsWithNoCase(platform::Trim(contentType), "multipart/form-data"))
        return std::nullopt;
    std::optional<std::string> boundary = Parameter(contentType, "boundary");
    if (!boundary || boundary->empty() || boundary->size() > kMaxBoundary) return std::nullopt;
    return boundary;
}

UploadOutcome StoreMultipartUpload(http::Connection& c, std::string_view boundary,
                                   const std::string& directory, uint64_t maxBytes) {
    return MultipartReader(boundary, directory).Run(c, maxBytes);
}

std::optional<StoredUpload> PublishUnderFreeName(const std::string& directory,
                                                 const std::string& path, const std::string& name,
                                                 uint64_t size) {
    std::lock_guard lock(NameMutex());
    for (int number = 1; number <= kMaxNameNumber; ++number) {
        const std::string candidate = Numbered(name, number);
        if (!NameFree(directory, candidate)) continue;
        const int result = platform::RenameWithoutReplacing(path, directory + "/" + candidate);
        if (result == 0) return StoredUpload{candidate, size};
        if (result != EEXIST) return std::nullopt;
    }
    return std::nullopt;
}

std::optional<StoredUpload> StoreWholeBody(http::Connection& c, std::string_view sentName,
                                           const std::string& directory) {
    NamedUpload upload(directory, SafeUploadName(sentName));
    if (!upload.Create()) return std::nullopt;
    std::unique_ptr<char[]> buffer(new char[kBufferSize]);
    bool written = true;
    for (size_t n; (n = c.ReadBody(buffer.get(), kBufferSize)) > 0;)
        written = written && upload.Write(std::string_view(buffer.get(), n));
    if (!written || c.BodyCutShort()) return std::nullopt;
    return upload.Publish();
}

}  // namespace apps
