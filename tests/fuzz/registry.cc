// Fuzz target: a registry file parsed, written out and parsed again: the same keys and
// values, each found by its name.
#include <string>

#include "platform/registry_file.h"
#include "tests/fuzz/fuzz_engine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 16384) return 0;
    std::string_view text(reinterpret_cast<const char*>(data), size);
    platform::RegistryFile parsed = platform::RegistryFile::Parse(text);
    for (const platform::RegistryKey& key : parsed.keys()) {
        const platform::RegistryKey* found = parsed.FindKey(key.path);
        FUZZ_CHECK(found != nullptr);
        for (const auto& [name, value] : key.values) {
            FUZZ_CHECK(parsed.Find(key.path, name).has_value());
        }
    }

    std::string written = parsed.Serialize();
    platform::RegistryFile again = platform::RegistryFile::Parse(written);
    FUZZ_CHECK(again.keys().size() == parsed.keys().size());
    for (size_t i = 0; i < parsed.keys().size(); ++i) {
        const platform::RegistryKey& a = parsed.keys()[i];
        const platform::RegistryKey& b = again.keys()[i];
        FUZZ_CHECK(a.path == b.path);
        FUZZ_CHECK(a.values == b.values);
    }
    // Writing is stable: the text written from what was read back is the same.
    FUZZ_CHECK(again.Serialize() == written);
    return 0;
}
