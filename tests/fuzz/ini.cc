// Fuzz target: an INI file read, written with one change, and read again: the change reads
// back and every other value reads as before; the in-memory reader agrees with the file's.
#include <atomic>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/ini_file.h"
#include "platform/text.h"
#include "tests/fuzz/fuzz_engine.h"
#include "tests/support/temp_dir.h"

namespace {

// The section names the text may hold: what stands between "[" and "]" on a line, trimmed.
std::vector<std::string> CandidateSections(std::string_view text) {
    std::vector<std::string> sections;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        size_t open = line.find('[');
        size_t close = line.find(']', open == std::string_view::npos ? 0 : open);
        if (open != std::string_view::npos && close != std::string_view::npos) {
            sections.emplace_back(platform::Trim(line.substr(open + 1, close - open - 1)));
        }
        start = end + 1;
    }
    return sections;
}

// Values by section and key, both in small letters: names match without regard to case.
using Values = std::map<std::pair<std::string, std::string>, std::string>;

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) c = platform::AsciiLower(c);
    return lower;
}

Values ReadAll(const std::string& path, const std::vector<std::string>& sections) {
    Values values;
    for (const std::string& section : sections) {
        for (const std::string& key : platform::ListProfileKeys(path, section)) {
            // A listed key has a value: two lookups with different defaults agree.
            std::string value = platform::GetProfileString(path, section, key, "first default");
            FUZZ_CHECK(platform::GetProfileString(path, section, key, "second default") == value);
            values[{Lower(section), Lower(key)}] = value;
        }
    }
    return values;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static testing_support::TempDir dir("vantry-fuzz-ini");
    static std::atomic<unsigned> serial{0};
    if (size > 8192) return 0;
    std::string text(reinterpret_cast<const char*>(data), size);
    // A new name each time: the reader's cache must not see an older file.
    std::string path = dir.File("f" + std::to_string(serial++) + ".ini");
    testing_support::WriteFile(path, text);

    std::vector<std::string> sections = CandidateSections(text);
    sections.push_back("Fuzz");
    Values before = ReadAll(path, sections);
    for (const auto& [where, value] : before) {
        FUZZ_CHECK(platform::GetIniTextString(text, where.first, where.second, "") == value);
    }

    // One existing key set to the value it has, and one new key. Only names that read back
    // as themselves can be written: not empty, without a line break or NUL, and a key not
    // starting with ";" or "[". Nor can a value hold a line break or NUL (the writer makes
    // each a space): such a key is set to another value and read back as that.
    std::vector<platform::ProfileChange> changes;
    const std::string_view breaks("\r\n\0", 3);
    for (auto& [where, value] : before) {
        const auto& [section, key] = where;
        if (section.empty() || key.empty() || section.find_first_of(breaks) != std::string::npos ||
            key.find_first_of(breaks) != std::string::npos || key.front() == ';' ||
            key.front() == '[') {
            continue;
        }
        if (value.find_first_of(breaks) != std::string::npos) value = "replaced";
        changes.push_back({section, key, value});
        break;
    }
    changes.push_back({"Fuzz", "Added", "new value"});
    FUZZ_CHECK(platform::WriteProfileChanges(path, changes));

    Values after = ReadAll(path, sections);
    FUZZ_CHECK(platform::GetProfileString(path, "Fuzz", "Added", "") == "new value");
    for (const auto& [where, value] : before) {
        if (where.first == "fuzz" && where.second == "added") continue;
        // A stray CR at a line's end reads as the line ending of a CRLF file once the file
        // is written with LF endings: such a value is not kept exactly.
        if (value.find('\r') != std::string::npos) continue;
        auto found = after.find(where);
        FUZZ_CHECK(found != after.end());
        FUZZ_CHECK(found->second == value);
    }
    std::remove(path.c_str());
    return 0;
}
