// Fuzz target: a condition's list of entity tags read against a tag. Any input is read
// without a fault; a strong match is a weak one too; only an entity tag is ever named, and
// "*" and the tag itself always name it; a list that names a tag names it still with another
// tag before or after it.
#include "http/entity_tags.h"

#include <string>

#include "platform/text.h"
#include "tests/fuzz/fuzz_engine.h"

using http::EntityTagListMatches;

// The first line of the input is the tag, the rest the header's value.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const size_t lineEnd = input.find('\n');
    if (lineEnd == std::string_view::npos) return 0;
    const std::string_view tag = input.substr(0, lineEnd);
    const std::string_view value = input.substr(lineEnd + 1);

    const bool strong = EntityTagListMatches(value, tag, false);
    const bool weak = EntityTagListMatches(value, tag, true);
    FUZZ_CHECK(!strong || weak);
    if (!http::IsEntityTag(tag)) {
        FUZZ_CHECK(!weak);
        return 0;
    }
    FUZZ_CHECK(EntityTagListMatches("*", tag, false));
    FUZZ_CHECK(EntityTagListMatches(tag, tag, true));
    if (weak && platform::Trim(value) != "*") {
        FUZZ_CHECK(EntityTagListMatches(std::string(value) + ",\"other\"", tag, true));
        FUZZ_CHECK(EntityTagListMatches("\"other\", " + std::string(value), tag, false) == strong);
    }
    return 0;
}
