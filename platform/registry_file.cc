// The registry file: reading, editing and writing a registry export.
#include "platform/registry_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <unordered_map>

#include "platform/error_text.h"
#include "platform/file_io.h"
#include "platform/program.h"
#include "platform/text.h"

namespace platform {
namespace {

constexpr std::string_view kHeader = "REGEDIT4";
constexpr std::string_view kDwordPrefix = "dword:";
constexpr std::size_t kDwordDigits = 8;
constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";
// The file holds a handful of users; a file this large is not one of ours.
constexpr std::size_t kMaxRegistryFileSize = 16 * 1024 * 1024;
constexpr mode_t kDirectoryMode = 0700;
constexpr mode_t kFileMode = 0600;

// Makes the private directory that holds the file at `path` when it is missing.
bool MakeParentDirectory(const std::string& path, std::string* error) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos || slash == 0 ||
           MakeDirectories(path.substr(0, slash), kDirectoryMode, error);
}

std::string WithoutLineBreaks(std::string_view text) {
    return WithoutCharacters(text, std::string_view("\r\n\0", 3));
}

// A quoted string with the export escapes, starting at text[pos]; `pos` ends after the
// closing quote. Any escape other than \\ and \" makes the line malformed.
std::optional<std::string> ReadQuoted(std::string_view text, std::size_t& pos) {
    if (pos >= text.size() || text[pos] != '"') return std::nullopt;
    ++pos;
    std::string out;
    while (pos < text.size()) {
        char c = text[pos++];
        if (c == '"') return out;
        if (c == '\\') {
            if (pos >= text.size()) return std::nullopt;
            char escaped = text[pos++];
            if (escaped != '\\' && escaped != '"') return std::nullopt;
            c = escaped;
        }
        out += c;
    }
    return std::nullopt;
}

// `"name"="string"` or `"name"=dword:xxxxxxxx`, with nothing but blanks after the value.
std::optional<std::pair<std::string, RegistryValue>> ParseValueLine(std::string_view line) {
    std::size_t pos = 0;
    std::optional<std::string> name = ReadQuoted(line, pos);
    if (!name) return std::nullopt;
    std::string_view rest = Trim(line.substr(pos));
    if (rest.empty() || rest.front() != '=') return std::nullopt;
    rest = Trim(rest.substr(1));

    if (!rest.empty() && rest.front() == '"') {
        std::size_t end = 0;
        std::optional<std::string> text = ReadQuoted(rest, end);
        if (!text || !Trim(rest.substr(end)).empty()) return std::nullopt;
        return std::pair<std::string, RegistryValue>(std::move(*name), std::move(*text));
    }
    if (rest.size() != kDwordPrefix.size() + kDwordDigits ||
        !EqualsNoCase(rest.substr(0, kDwordPrefix.size()), kDwordPrefix)) {
        return std::nullopt;
    }
    uint32_t number = 0;
    for (char c : rest.substr(kDwordPrefix.size())) {
        int digit = HexDigitValue(c);
        if (digit < 0) return std::nullopt;
        number = number << 4 | static_cast<uint32_t>(digit);
    }
    return std::pair<std::string, RegistryValue>(std::move(*name), number);
}

void AppendQuoted(std::string& out, std::string_view text) {
    out += '"';
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    out += '"';
}

// The key of `keys` with this path, matched without regard to case; null when missing.
template <typename Keys>
auto FindKeyIn(Keys& keys, std::string_view keyPath) -> decltype(&keys.front()) {
    for (auto& key : keys) {
        if (EqualsNoCase(key.path, keyPath)) return &key;
    }
    return nullptr;
}

}  // namespace

std::string RegistryFilePath() {
    if (const char* path = std::getenv("VANTRY_REGISTRY"); path != nullptr && *path != '\0') {
        return path;
    }
    return ConfigHomeDirectory() + "/vantry/registry.reg";
}

std::optional<RegistryFile> RegistryFile::LoadForChange(const std::string& path,
                                                        std::string* error) {
    std::error_code statusError;
    if (std::filesystem::status(path, statusError).type() ==
        std::filesystem::file_type::not_found) {
        return RegistryFile{};
    }
    std::optional<std::string> text = ReadWholeFile(path, kMaxRegistryFileSize, nullptr);
    if (!text) {
        *error = "cannot read the registry file " + path;
        return std::nullopt;
    }
    return Parse(*text);
}

RegistryFile RegistryFile::Load(const std::string& path) {
    std::optional<std::string> text = ReadWholeFile(path, kMaxRegistryFileSize, nullptr);
    return text ? Parse(*text) : RegistryFile();
}

RegistryFile RegistryFile::Parse(std::string_view text) {
    RegistryFile file;
    // The key that receives value lines: none before the first key line and after one that
    // is not understood, so values never land in the wrong key.
    constexpr std::size_t kNoKey = static_cast<std::size_t>(-1);
    std::size_t current = kNoKey;
    // Where each key and each value already stands, by names in small letters, so that a
    // large file parses in linear time.
    std::unordered_map<std::string, std::size_t> keyIndex;
    std::unordered_map<std::string, std::size_t> valueIndex;  // "key index\nname" -> position
    bool firstLine = true;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (firstLine && line.starts_with(kUtf8ByteOrderMark)) {
            line.remove_prefix(kUtf8ByteOrderMark.size());
        }
        line = Trim(line);
        bool wasFirst = std::exchange(firstLine, false);
        if (line.empty() || line.front() == ';') continue;
        if (wasFirst && line == kHeader) continue;

        if (line.front() == '[') {
            current = kNoKey;
            if (line.back() != ']') continue;
            std::string_view path = Trim(line.substr(1, line.size() - 2));
            if (path.empty()) continue;
            auto [found, added] = keyIndex.emplace(LowerCopy(path), file.keys_.size());
            if (added) file.keys_.push_back({std::string(path), {}});
            current = found->second;
            continue;
        }
        if (current == kNoKey) continue;
        RegistryKey& key = file.keys_[current];
        auto value = ParseValueLine(line);
        if (!value) continue;
        // A name given twice keeps its first place and its last value, as an import does.
        auto [found, added] = valueIndex.emplace(
            std::to_string(current) + '\n' + LowerCopy(value->first), key.values.size());
        if (added) {
            key.values.push_back(std::move(*value));
        } else {
            key.values[found->second].second = std::move(value->second);
        }
    }
    return file;
}

const RegistryKey* RegistryFile::FindKey(std::string_view keyPath) const {
    return FindKeyIn(keys_, keyPath);
}

std::optional<RegistryValue> RegistryFile::Find(std::string_view keyPath,
                                                std::string_view valueName) const {
    const RegistryKey* key = FindKey(keyPath);
    if (key == nullptr) return std::nullopt;
    for (const auto& [name, value] : key->values) {
        if (EqualsNoCase(name, valueName)) return value;
    }
    return std::nullopt;
}

void RegistryFile::Set(std::string_view keyPath, std::string_view valueName, RegistryValue value) {
    std::string path = WithoutLineBreaks(Trim(keyPath));
    std::string name = WithoutLineBreaks(valueName);
    if (auto* text = std::get_if<std::string>(&value)) *text = WithoutLineBreaks(*text);

    RegistryKey* key = FindKeyIn(keys_, path);
    if (key == nullptr) key = &keys_.emplace_back(RegistryKey{std::move(path), {}});
    for (auto& [storedName, storedValue] : key->values) {
        if (EqualsNoCase(storedName, name)) {
            storedValue = std::move(value);
            return;
        }
    }
    key->values.emplace_back(std::move(name), std::move(value));
}

bool RegistryFile::Erase(std::string_view keyPath, std::string_view valueName) {
    RegistryKey* key = FindKeyIn(keys_, keyPath);
    if (key == nullptr) return false;
    for (auto it = key->values.begin(); it != key->values.end(); ++it) {
        if (EqualsNoCase(it->first, valueName)) {
            key->values.erase(it);
            return true;
        }
    }
    return false;
}

std::string RegistryFile::Serialize() const {
    std::string out(kHeader);
    out += "\n\n";
    for (const RegistryKey& key : keys_) {
        out += '[';
        out += key.path;
        out += "]\n";
        for (const auto& [name, value] : key.values) {
            AppendQuoted(out, name);
            out += '=';
            if (const auto* text = std::get_if<std::string>(&value)) {
                AppendQuoted(out, *text);
            } else {
                char digits[sizeof "dword:ffffffff"];
                std::snprintf(digits, sizeof digits, "dword:%08x",
                              static_cast<unsigned>(std::get<uint32_t>(value)));
                out += digits;
            }
            out += '\n';
        }
        out += '\n';
    }
    return out;
}

bool RegistryFile::SaveAs(const std::string& path, std::string* error) const {
    return MakeParentDirectory(path, error) &&
           WriteFileAtomicallyWithMode(path, Serialize(), kFileMode, error);
}

std::optional<FileLock> RegistryFile::LockForEditing(const std::string& path, std::string* error) {
    if (!MakeParentDirectory(path, error)) return std::nullopt;
    return FileLock::Acquire(path + ".lock", error);
}

}  // namespace platform
