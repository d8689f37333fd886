// Fuzz target: the dates clients send back. A date read lies in the clock's range, and the
// server's own text for it reads back to the same second; the server's text of any second
// up to the year 9999 reads back to it.
#include "http/http_date.h"

#include <ctime>
#include <optional>

#include "tests/fuzz/fuzz_engine.h"

namespace {

// 31 December 9999, 23:59:59 UTC: the last second with a four-digit year.
constexpr std::time_t kLastSecond = 253402300799;

bool ReadsBack(std::time_t utc) { return http::ParseHttpDate(http::FormatHttpDate(utc)) == utc; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const std::optional<std::time_t> utc = http::ParseHttpDate(text)) {
        FUZZ_CHECK(*utc >= 0);
        // Only a leap second at the very end reaches past the four-digit years.
        FUZZ_CHECK(*utc <= kLastSecond + 1);
        if (*utc <= kLastSecond) FUZZ_CHECK(ReadsBack(*utc));
    }
    // The input's first bytes as a second of the clock, for the formatter.
    uint64_t bits = 0;
    for (size_t i = 0; i < size && i < 8; ++i) bits = bits << 8 | data[i];
    FUZZ_CHECK(ReadsBack(static_cast<std::time_t>(bits % (kLastSecond + 1))));
    return 0;
}
