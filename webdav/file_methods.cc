// MKCOL, PUT, DELETE, COPY and MOVE: the methods that make, write, remove and move files and
// folders.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>

#include "http/entity_tags.h"
#include "http/http_date.h"
#include "platform/clock.h"
#include "platform/directory.h"
#include "platform/open_file.h"
#include "platform/pending_file.h"
#include "platform/text.h"
#include "platform/unique_fd.h"
#include "platform/version.h"
#include "webdav/dead_properties.h"
#include "webdav/exchange.h"
#include "webdav/if_header.h"
#include "webdav/locks.h"
#include "webdav/xml.h"

namespace webdav {

namespace {

using platform::EqualsNoCase;

}  // namespace

void Exchange::Mkcol() {
    if (std::optional<uint64_t> declared = c_.DeclaredBodyLength(); declared && *declared > 0) {
        SendStatus(415);
        return;
    }
    if (request_.relative.empty() || LinkExists(local_)) {
        SendStatus(405,
                   "Allow: OPTIONS, GET, HEAD, PROPFIND, PROPPATCH, DELETE, COPY, MOVE, "
                   "LOCK, UNLOCK\r\n");
        return;
    }
    if (!ParentExists(local_)) return;
    if (!MayReach(local_, Access::kWrite)) return;
    if (!MayChange(local_, Change::kMembership)) return;
    if (::mkdir(local_.c_str(), 0777) != 0) {
        SendStatus(errno == EEXIST ? 405 : errno == ENOSPC ? 507 : 403);
        return;
    }
    SendStatus(201);
}

void Exchange::Put() {
    std::optional<Entry> entry = Look(local_);
    if (request_.relative.empty() || (entry && entry->IsFolder())) {
        SendStatus(405);
        return;
    }
    if (!ParentExists(local_)) return;
    if (!MayReach(local_, Access::kWrite)) return;
    if (!MayChange(local_, entry ? Change::kContent : Change::kMembership)) return;
    if (!TagConditionsHold(entry)) return;
    if (c_.request().Header("Content-Range")) {
        SendStatus(400);  // a part of a file is no file: RFC 9110 forbids taking it whole
        return;
    }
    // The body goes to a hidden name beside the file and takes the file's name only once
    // whole, so that a cut upload never leaves a shortened file.
    const std::string temporary = ParentPath(local_) + "/.vantry-put-" + platform::RandomHexName();
    platform::UniqueFd out(
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (!out) {
        SendStatus(errno == ENOSPC ? 507 : 403);
        return;
    }
    struct TemporaryGuard {
        const std::string& path;
        bool keep = false;
        ~TemporaryGuard() {
            if (!keep) platform::RemoveFile(path);
        }
    } guard{temporary};
    constexpr size_t kBufferSize = 256 * 1024;
    std::unique_ptr<char[]> buffer(new char[kBufferSize]);
    while (size_t got = c_.ReadBody(buffer.get(), kBufferSize)) {
        for (size_t written = 0; written < got;) {
            const ssize_t n = ::write(out.get(), buffer.get() + written, got - written);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                SendStatus(errno == ENOSPC || errno == EDQUOT ? 507 : 500);
                return;
            }
            written += static_cast<size_t>(n);
        }
    }
    if (c_.BodyCutShort() || !c_.BodyComplete()) {
        SendStatus(400);
        return;
    }
    if (std::optional<std::string_view> mtime = c_.request().Header("X-OC-Mtime")) {
        if (std::optional<uint64_t> seconds = platform::ParseDigits(platform::Trim(*mtime))) {
            const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(*seconds), 0}};
            ::futimens(out.get(), times);
            mtimeAccepted_ = true;
        }
    }
    if (::close(out.Release()) != 0) {
        SendStatus(507);
        return;
    }
    if (::rename(temporary.c_str(), local_.c_str()) != 0) {
        SendStatus(errno == EISDIR ? 405 : 500);
        return;
    }
    guard.keep = true;
    std::string lines;
    if (std::optional<Entry> written = Look(local_)) {
        lines.append("ETag: ").append(written->Tag()).append("\r\n");
    }
    if (mtimeAccepted_) lines.append("X-OC-MTime: accepted\r\n");
    SendStatus(entry ? 204 : 201, lines);
}

void Exchange::Delete() {
    if (!LinkExists(local_)) {
        SendStatus(404);
        return;
    }
    if (request_.relative.empty()) {
        SendStatus(403);
        return;
    }
    if (!MayReach(local_, Access::kTree)) return;
    if (!MayChange(local_, Change::kTree)) return;
    if (!TagConditionsHold(Look(local_))) return;
    if (!RemoveTree(local_)) {
        SendStatus(errno == 0 ? 500 : 403);
        return;
    }
    LockTable::Shared().ForgetTree(local_);
    SendStatus(204);
}

// Removes `path`: a link or file itself, a folder with all it holds (links are removed,
// never followed).

bool Exchange::RemoveTree(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT;
    if (!S_ISDIR(st.st_mode)) return ::unlink(path.c_str()) == 0 || errno == ENOENT;
    {
        FolderHandle dir(::opendir(path.c_str()));
        if (!dir) return false;
        while (const dirent* item = ::readdir(dir.get())) {
            const std::string_view name = item->d_name;
            if (name == "." || name == "..") continue;
            if (!RemoveTree(path + "/" + std::string(name))) return false;
        }
    }
    return ::rmdir(path.c_str()) == 0;
}

void Exchange::CopyOrMove(bool move) {
    std::optional<std::string_view> destinationHeader = c_.request().Header("Destination");
    if (!destinationHeader || platform::Trim(*destinationHeader).empty()) {
        SendStatus(400);
        return;
    }
    std::string destinationRelative;
    std::optional<std::string> destination =
        LocalOfUrl(platform::Trim(*destinationHeader), &destinationRelative);
    if (!destination) {
        SendStatus(502);  // not on this drive
        return;
    }
    std::optional<Entry> source = Existing();
    if (!source) return;
    bool infinite = true;
    if (std::optional<std::string_view> depth = c_.request().Header("Depth")) {
        const std::string_view value = platform::Trim(*depth);
        if (value == "0" && !move) {
            infinite = false;
        } else if (!EqualsNoCase(value, "infinity")) {
            SendStatus(400);
            return;
        }
    }
    bool overwrite = true;
    if (std::optional<std::string_view> header = c_.request().Header("Overwrite")) {
        const std::string_view value = platform::Trim(*header);
        if (EqualsNoCase(value, "F")) {
            overwrite = false;
        } else if (!EqualsNoCase(value, "T")) {
            SendStatus(400);
            return;
        }
    }
    if (destinationRelative.empty() || !WritablePath(destinationRelative) ||
        (move && request_.relative.empty())) {
        SendStatus(403);
        return;
    }
    const std::string sourceCanonical = Canonical(local_);
    const std::string destinationCanonical = Canonical(*destination);
    if (destinationCanonical.empty()) {
        SendStatus(409);
        return;
    }
    if (sourceCanonical == destinationCanonical) {
        SendStatus(403);
        return;
    }
    if (source->IsFolder() && IsWithin(destinationCanonical, sourceCanonical)) {
        SendStatus(409);  // a folder cannot go inside itself
        return;
    }
    if (!MayReach(local_, move ? Access::kTree : Access::kRead)) return;
    if (!move && source->IsFolder()) {
        if (int refusal = site_.Refusal(sourceCanonical, Access::kTree); refusal != 0 && infinite) {
            SendStatus(refusal);
            return;
        }
    }
    if (!MayReach(*destination, Access::kTree)) return;
    if (!ParentExists(*destination)) return;
    const bool replaced = LinkExists(*destination);
    if (replaced && !overwrite) {
        SendStatus(412);
        return;
    }
    if (move && !MayChange(local_, Change::kTree)) return;
    {
        std::optional<std::vector<std::string>> tokens = SubmittedTokens();
        if (!tokens) return;
        if (!LockTable::Shared().Permits(
                *destination, replaced ? Change::kTree : Change::kMembership, *tokens, now_)) {
            SendError(423, "lock-token-submitted");
            return;
        }
        if (!move && !IfHeaderHolds()) return;
    }
    if (replaced && !RemoveTree(*destination)) {
        SendStatus(403);
        return;
    }
    LockTable::Shared().ForgetTree(*destination);
    if (move) {
        if (::rename(local_.c_str(), destination->c_str()) != 0) {
            if (errno != EXDEV || !CopyTree(local_, *destination, true) || !RemoveTree(local_)) {
                SendStatus(errno == ENOSPC ? 507 : 500);
                return;
            }
        }
        LockTable::Shared().ForgetTree(local_);
    } else if (!CopyTree(local_, *destination, infinite)) {
        SendStatus(errno == ENOSPC ? 507 : 500);
        return;
    }
    SendStatus(replaced ? 204 : 201);
}

// Copies `from` to `to` (which does not exist): a file with its bytes, its modification
// time and properties; a folder with its properties and, when `deep`, all it holds.

bool Exchange::CopyTree(const std::string& from, const std::string& to, bool deep) {
    struct stat st {};
    if (::lstat(from.c_str(), &st) != 0) return false;
    if (S_ISLNK(st.st_mode)) {
        std::string target(4096, '\0');
        const ssize_t length = ::readlink(from.c_str(), target.data(), target.size());
        if (length < 0) return false;
        target.resize(static_cast<size_t>(length));
        return ::symlink(target.c_str(), to.c_str()) == 0;
    }
    if (S_ISDIR(st.st_mode)) {
        if (::mkdir(to.c_str(), 0777) != 0) return false;
        CopyDeadProperties(from, to);
        if (!deep) return true;
        FolderHandle dir(::opendir(from.c_str()));
        if (!dir) return false;
        while (const dirent* item = ::readdir(dir.get())) {
            const std::string_view name = item->d_name;
            if (name == "." || name == "..") continue;
            const std::string childFrom = from + "/" + std::string(name);
            if (site_.Refusal(Canonical(childFrom), Access::kRead) != 0) continue;
            if (!CopyTree(childFrom, to + "/" + std::string(name), true)) return false;
        }
        return true;
    }
    if (!S_ISREG(st.st_mode)) return true;
    platform::UniqueFd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in) return false;
    platform::UniqueFd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (!out) return false;
    for (;;) {
        const ssize_t n =
            ::copy_file_range(in.get(), nullptr, out.get(), nullptr, size_t{1} << 30, 0);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno != EXDEV && errno != ENOSYS && errno != EINVAL) {
                ::unlink(to.c_str());
                return false;
            }
            if (!CopyByReading(in.get(), out.get())) {
                ::unlink(to.c_str());
                return false;
            }
            break;
        }
    }
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::futimens(out.get(), times);
    CopyDeadProperties(from, to);
    return true;
}

bool Exchange::CopyByReading(int in, int out) {
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n == 0) return true;
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        for (ssize_t written = 0; written < n;) {
            const ssize_t w = ::write(out, buffer + written, static_cast<size_t>(n - written));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) return false;
            written += w;
        }
    }
}

}  // namespace webdav
