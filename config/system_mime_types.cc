// The system's MIME database, read once.
#include "config/system_mime_types.h"

#include "platform/file_io.h"
#include "platform/text.h"

namespace config {
namespace {

// The longest type taken from the database: every type Debian lists fits.
constexpr size_t kMaxSystemType = 127;
// A database larger than this is not read (Debian's is about 75 KB).
constexpr size_t kMaxDatabaseSize = 4 * 1024 * 1024;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r'; }

const std::unordered_map<std::string, std::string>& Database() {
    static const std::unordered_map<std::string, std::string> database = [] {
        std::optional<std::string> text =
            platform::ReadWholeFile(std::string(kSystemMimeTypesPath), kMaxDatabaseSize, nullptr);
        return text ? ParseMimeTypes(*text) : std::unordered_map<std::string, std::string>();
    }();
    return database;
}

}  // namespace

std::unordered_map<std::string, std::string> ParseMimeTypes(std::string_view text) {
    std::unordered_map<std::string, std::string> types;
    while (!text.empty()) {
        size_t end = std::min(text.find('\n'), text.size());
        std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        line = line.substr(0, line.find('#'));

        std::string_view type;
        while (!line.empty()) {
            size_t start = 0;
            while (start < line.size() && IsSpace(line[start])) ++start;
            size_t stop = start;
            while (stop < line.size() && !IsSpace(line[stop])) ++stop;
            std::string_view word = line.substr(start, stop - start);
            line.remove_prefix(stop);
            if (word.empty()) break;
            if (type.empty()) {
                type = word;
                if (type.size() > kMaxSystemType || type.find('/') == std::string_view::npos ||
                    platform::HasControlCharacter(type)) {
                    break;
                }
                continue;
            }
            types.try_emplace(platform::LowerCopy(word), platform::LowerCopy(type));
        }
    }
    return types;
}

void LoadSystemMimeTypes() { Database(); }

std::optional<std::string_view> SystemMimeType(std::string_view extension) {
    const auto& database = Database();
    auto found = database.find(platform::LowerCopy(extension));
    if (found == database.end()) return std::nullopt;
    return found->second;
}

}  // namespace config
