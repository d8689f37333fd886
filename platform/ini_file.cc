// INI files with the private-profile semantics the configuration relies on.
#include "platform/ini_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

#include "platform/clock.h"
#include "platform/error_text.h"
#include "platform/file_io.h"
#include "platform/text.h"
#include "platform/unique_fd.h"

namespace platform {
namespace {

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";
// A configuration file is a few kilobytes; anything this large is not one, and is neither
// parsed nor rewritten.
constexpr std::size_t kMaxIniFileSize = 16 * 1024 * 1024;
// The process reads one or two INI files; the bound only keeps a stray caller from growing
// the cache without end.
constexpr std::size_t kMaxCachedFiles = 32;
// How long after its last change a file is read afresh on every lookup.
constexpr time_t kRecentChangeSeconds = 2;
// How long a cached file that has not changed for a while is used without a look at the disk.
constexpr uint64_t kTrustMs = 500;

// Calls `visit(line)` for every line of `text`, without its LF or CR LF ending.
template <typename Visit>
void ForEachLine(std::string_view text, Visit visit) {
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        std::size_t next = end == std::string_view::npos ? text.size() : end + 1;
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        visit(line);
        start = next;
    }
}

enum class LineKind { kOther, kSection, kKey };

struct LineInfo {
    LineKind kind = LineKind::kOther;
    std::string_view name;   // the section name or the key, trimmed
    std::string_view value;  // the key's value, trimmed
};

// What one line of the file says: "[name]" opens a section, "key=value" is a key line
// (the key is the text before the first "="), ";" starts a comment, anything else is kept
// but carries nothing. The UTF-8 mark some editors put at the start of a file is kept in the
// line but ignored here, together with any blanks around it: a name never starts with the
// mark, so a key line written back as "name=value" reads as the same key.
LineInfo ClassifyLine(std::string_view line) {
    std::string_view text = Trim(line);
    while (text.starts_with(kUtf8ByteOrderMark)) {
        text = Trim(text.substr(kUtf8ByteOrderMark.size()));
    }
    if (text.empty() || text.front() == ';') return {};
    if (text.front() == '[') {
        std::size_t close = text.find(']');
        if (close == std::string_view::npos) return {};
        return {LineKind::kSection, Trim(text.substr(1, close - 1)), {}};
    }
    std::size_t equals = text.find('=');
    if (equals == std::string_view::npos) return {};
    std::string_view key = Trim(text.substr(0, equals));
    if (key.empty()) return {};
    return {LineKind::kKey, key, Trim(text.substr(equals + 1))};
}

// A file parsed for lookups. Only the first section of each name is kept, since later ones
// are never consulted.
struct ParsedIni {
    struct Entry {
        std::string key;
        std::string value;
    };
    struct Section {
        std::string name;
        std::vector<Entry> entries;  // file order, repeated keys included
    };
    std::vector<Section> sections;

    const Section* FindSection(std::string_view name) const {
        for (const Section& section : sections) {
            if (EqualsNoCase(section.name, name)) return &section;
        }
        return nullptr;
    }

    const std::string* FindValue(std::string_view section, std::string_view key) const {
        const Section* found = FindSection(section);
        if (found == nullptr) return nullptr;
        for (const Entry& entry : found->entries) {
            if (EqualsNoCase(entry.key, key)) return &entry.value;
        }
        return nullptr;
    }
};

ParsedIni Parse(std::string_view text) {
    ParsedIni parsed;
    // Index of the section that receives key lines; none before the first header and
    // inside a repeated section.
    constexpr std::size_t kNoSection = static_cast<std::size_t>(-1);
    std::size_t current = kNoSection;
    // Names seen so far, in small letters, so a file of many sections parses in linear time.
    std::unordered_set<std::string> seen;
    ForEachLine(text, [&](std::string_view line) {
        LineInfo info = ClassifyLine(line);
        if (info.kind == LineKind::kSection) {
            current = kNoSection;
            if (seen.insert(LowerCopy(info.name)).second) {
                parsed.sections.push_back({std::string(info.name), {}});
                current = parsed.sections.size() - 1;
            }
        } else if (info.kind == LineKind::kKey && current != kNoSection) {
            parsed.sections[current].entries.push_back(
                {std::string(info.name), std::string(info.value)});
        }
    });
    return parsed;
}

// The parsed files, revalidated on every read by the identity of the file on disk. A write
// made by this process also bumps `generation_`, so a reader that read the file before the
// write does not store what it read after the write has cleared the entry.
class ParsedFileCache {
  public:
    std::shared_ptr<const ParsedIni> Get(const std::string& path) {
        const uint64_t now = MonotonicMillis();
        // Each thread keeps the file it read last, so that the reads of one request (and of
        // many requests at once) take no lock while the file is trusted.
        thread_local LocalCopy local;
        if (local.parsed && local.owner == this && local.path == path &&
            now - local.checkedAtMs < kTrustMs && local.generation == published_.load()) {
            return local.parsed;
        }
        {
            // A file that has not changed for a while is trusted for a moment without
            // looking at the disk: every request reads the tables, and an edit by hand is
            // still seen within kTrustMs. This process's own writes clear the entry at once.
            std::lock_guard lock(mutex_);
            auto found = files_.find(path);
            if (found != files_.end() && now - found->second.checkedAtMs < kTrustMs) {
                local = {this, path, found->second.parsed, found->second.checkedAtMs, generation_};
                return found->second.parsed;
            }
        }
        struct stat st;
        if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return Empty();
        uint64_t generation;
        {
            std::lock_guard lock(mutex_);
            auto found = files_.find(path);
            if (found != files_.end() && SameFile(found->second.status, st)) {
                found->second.checkedAtMs = now;
                return found->second.parsed;
            }
            generation = generation_;
        }
        timespec readStart;
        ::clock_gettime(CLOCK_REALTIME, &readStart);
        struct stat readStatus;
        std::optional<std::string> content = ReadWholeFile(path, kMaxIniFileSize, &readStatus);
        if (!content) return Empty();
        auto parsed = std::make_shared<const ParsedIni>(Parse(*content));

        std::lock_guard lock(mutex_);
        if (generation == generation_ && !RecentlyChanged(readStatus, readStart)) {
            if (files_.size() >= kMaxCachedFiles && !files_.contains(path)) files_.clear();
            files_[path] = {readStatus, parsed, now};
        }
        return parsed;
    }

    void Forget(const std::string& path) {
        std::lock_guard lock(mutex_);
        ++generation_;
        published_.store(generation_);
        files_.erase(path);
    }

  private:
    struct CachedFile {
        struct stat status;
        std::shared_ptr<const ParsedIni> parsed;
        uint64_t checkedAtMs;
    };

    // A file changed shortly before it was read is not kept: a second change in place, of
    // the same size and within the same timestamp tick, would leave its identity unchanged.
    // The margin covers file systems that keep whole seconds.
    static bool RecentlyChanged(const struct stat& status, const timespec& readStart) {
        return status.st_mtim.tv_sec >= readStart.tv_sec - kRecentChangeSeconds ||
               status.st_ctim.tv_sec >= readStart.tv_sec - kRecentChangeSeconds;
    }

    static bool SameTime(const timespec& a, const timespec& b) {
        return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
    }

    // The change time is compared too: a rename sets it, which tells apart a replaced file
    // that happens to reuse the inode number, size and modification time.
    static bool SameFile(const struct stat& a, const struct stat& b) {
        return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
               SameTime(a.st_mtim, b.st_mtim) && SameTime(a.st_ctim, b.st_ctim);
    }

    static std::shared_ptr<const ParsedIni> Empty() {
        static const auto* empty =
            new std::shared_ptr<const ParsedIni>(std::make_shared<const ParsedIni>());
        return *empty;
    }

    // A thread's own copy of the file it read last, valid while no write has been made since.
    struct LocalCopy {
        const ParsedFileCache* owner = nullptr;
        std::string path;
        std::shared_ptr<const ParsedIni> parsed;
        uint64_t checkedAtMs = 0;
        uint64_t generation = 0;
    };

    std::mutex mutex_;  // guards files_ and generation_
    std::unordered_map<std::string, CachedFile> files_;
    uint64_t generation_ = 0;
    // generation_ as the lock-free readers see it.
    std::atomic<uint64_t> published_{0};
};

// Both live until the process ends (never destroyed), so a save made while static objects
// are being torn down still finds them.
ParsedFileCache& Cache() {
    static auto* cache = new ParsedFileCache;
    return *cache;
}

// Serialises the read-modify-write of every INI file within this process; the advisory lock
// on the directory does the same between processes.
std::mutex& WriteMutex() {
    static auto* mutex = new std::mutex;
    return *mutex;
}

// Takes the advisory lock on the directory that holds `path`. Locking the directory rather
// than the file survives the rename that replaces the file and leaves no lock file behind.
UniqueFd LockDirectoryOf(const std::string& path, std::string* error) {
    const std::string dir = DirectoryOf(path);
    UniqueFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd) {
        SetError(error, "open " + dir, errno);
        return fd;
    }
    while (::flock(fd.get(), LOCK_EX) != 0) {
        if (errno != EINTR) {
            SetError(error, "flock " + dir, errno);
            return UniqueFd();
        }
    }
    return fd;
}

// The current text of the file to be rewritten: empty when it does not exist yet, nothing
// when it exists but cannot be read (it must then not be replaced).
std::optional<std::string> ReadForUpdate(const std::string& path, std::string* error) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) return std::string();
        SetError(error, "stat " + path, errno);
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode) || static_cast<uint64_t>(st.st_size) > kMaxIniFileSize) {
        int refusal = S_ISDIR(st.st_mode) ? EISDIR : S_ISREG(st.st_mode) ? EFBIG : EINVAL;
        SetError(error, "read " + path, refusal);
        return std::nullopt;
    }
    std::optional<std::string> text = ReadWholeFile(path, kMaxIniFileSize, nullptr);
    if (!text) SetError(error, "read " + path, errno);
    return text;
}

// A change whose names can be written so that they read back as the same section and key.
// A value cannot hold a line break or NUL: each becomes a space, so one change always
// stays one line.
std::optional<ProfileChange> Prepare(const ProfileChange& change) {
    std::string_view section = Trim(change.section);
    std::string_view key = Trim(change.key);
    auto breaksLine = [](char c) { return c == '\r' || c == '\n' || c == '\0'; };
    for (char c : section) {
        if (breaksLine(c) || c == ']') return std::nullopt;
    }
    for (char c : key) {
        if (breaksLine(c) || c == '=') return std::nullopt;
    }
    if (section.empty() || key.empty() || key.front() == ';' || key.front() == '[') {
        return std::nullopt;
    }
    ProfileChange prepared{std::string(section), std::string(key), change.value};
    if (prepared.value) {
        for (char& c : *prepared.value) {
            if (breaksLine(c)) c = ' ';
        }
    }
    return prepared;
}

// The lines of a file being rewritten; every line not touched by a change is kept as it is.
class EditableIni {
  public:
    explicit EditableIni(std::string_view text) {
        ForEachLine(text, [this](std::string_view line) { lines_.emplace_back(line); });
    }

    void Apply(const ProfileChange& change) {
        std::optional<std::size_t> header;
        for (std::size_t i = 0; i < lines_.size() && !header; ++i) {
            LineInfo info = ClassifyLine(lines_[i]);
            if (info.kind == LineKind::kSection && EqualsNoCase(info.name, change.section)) {
                header = i;
            }
        }
        if (!header) {
            if (change.value) AppendSection(change);
            return;
        }

        std::size_t lastKeyLine = *header;
        std::vector<std::size_t> matches;
        for (std::size_t i = *header + 1; i < lines_.size(); ++i) {
            LineInfo info = ClassifyLine(lines_[i]);
            if (info.kind == LineKind::kSection) break;
            if (info.kind != LineKind::kKey) continue;
            lastKeyLine = i;
            if (EqualsNoCase(info.name, change.key)) matches.push_back(i);
        }

        if (change.value) {
            std::string line = change.key + "=" + *change.value;
            if (matches.empty()) {
                lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(lastKeyLine + 1),
                              std::move(line));
            } else {
                lines_[matches.front()] = std::move(line);
            }
            return;
        }
        // Every line of the key goes, so that the key really reads as missing afterwards even
        // when a hand edit left it twice.
        for (auto it = matches.rbegin(); it != matches.rend(); ++it) {
            lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(*it));
        }
    }

    std::string Text() const {
        std::string text;
        for (const std::string& line : lines_) {
            text += line;
            text += '\n';
        }
        return text;
    }

  private:
    void AppendSection(const ProfileChange& change) {
        if (!lines_.empty() && !Trim(lines_.back()).empty()) lines_.emplace_back();
        lines_.push_back("[" + change.section + "]");
        lines_.push_back(change.key + "=" + *change.value);
    }

    std::vector<std::string> lines_;
};

}  // namespace

std::string GetProfileString(const std::string& path, std::string_view section,
                             std::string_view key, std::string_view defaultValue) {
    std::shared_ptr<const ParsedIni> parsed = Cache().Get(path);
    const std::string* value = parsed->FindValue(Trim(section), Trim(key));
    return value != nullptr ? *value : std::string(defaultValue);
}

std::string GetIniTextString(std::string_view text, std::string_view section, std::string_view key,
                             std::string_view defaultValue) {
    const ParsedIni parsed = Parse(text);
    const std::string* value = parsed.FindValue(Trim(section), Trim(key));
    return value != nullptr ? *value : std::string(defaultValue);
}

long GetProfileInt(const std::string& path, std::string_view section, std::string_view key,
                   long defaultValue) {
    std::shared_ptr<const ParsedIni> parsed = Cache().Get(path);
    const std::string* value = parsed->FindValue(Trim(section), Trim(key));
    if (value == nullptr || value->empty()) return defaultValue;
    return ParseDecimalPrefix(*value);
}

bool WriteProfileChanges(const std::string& path, const std::vector<ProfileChange>& changes,
                         std::optional<mode_t> mode, std::string* error) {
    std::vector<ProfileChange> prepared;
    prepared.reserve(changes.size());
    for (const ProfileChange& change : changes) {
        std::optional<ProfileChange> ready = Prepare(change);
        if (!ready) {
            if (error != nullptr) {
                *error = path + ": cannot hold the key \"" + change.key + "\" of [" +
                         change.section + "]";
            }
            return false;
        }
        prepared.push_back(std::move(*ready));
    }

    std::lock_guard lock(WriteMutex());
    UniqueFd directoryLock = LockDirectoryOf(path, error);
    if (!directoryLock) return false;
    std::optional<std::string> current = ReadForUpdate(path, error);
    if (!current) return false;

    EditableIni ini(*current);
    for (const ProfileChange& change : prepared) ini.Apply(change);
    std::string text = ini.Text();
    bool written = mode ? WriteFileAtomicallyWithMode(path, text, *mode, error)
                        : text == *current || WriteFileAtomically(path, text, kNewFileMode, error);
    Cache().Forget(path);
    return written;
}

bool WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value) {
    return WriteProfileChanges(path,
                               {{std::string(section), std::string(key), std::string(value)}});
}

bool DeleteProfileKey(const std::string& path, std::string_view section, std::string_view key) {
    return WriteProfileChanges(path, {{std::string(section), std::string(key), std::nullopt}});
}

std::vector<std::string> ListProfileKeys(const std::string& path, std::string_view section) {
    std::shared_ptr<const ParsedIni> parsed = Cache().Get(path);
    std::vector<std::string> keys;
    const ParsedIni::Section* found = parsed->FindSection(Trim(section));
    if (found == nullptr) return keys;
    std::unordered_set<std::string> seen;
    for (const ParsedIni::Entry& entry : found->entries) {
        if (seen.insert(LowerCopy(entry.key)).second) keys.push_back(entry.key);
    }
    return keys;
}

}  // namespace platform
