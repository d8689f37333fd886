// The CRC-32 of ZIP and gzip: by carry-less multiplication where the CPU has it, by tables
// everywhere else.
#pragma once

#include <cstdint>
#include <string_view>

namespace platform {

// The CRC-32 of ZIP and gzip (reflected polynomial 0xEDB88320) of `data`, continuing from
// `crc`, the value of the bytes before it (0 for none).
uint32_t Crc32(std::string_view data, uint32_t crc = 0);

// The same CRC by tables alone, on any CPU: what Crc32 uses where it has nothing faster, and
// the reference its faster path is checked against.
uint32_t Crc32Portable(std::string_view data, uint32_t crc = 0);

}  // namespace platform
