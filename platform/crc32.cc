// CRC-32 two ways. Slice-by-8 tables take eight bytes per step on any CPU; on x86-64 with
// PCLMULQDQ the bulk of a buffer is folded instead, 64 bytes per step, by carry-less
// multiplication by powers of x modulo the polynomial, and reduced to 32 bits at the end. The
// folding works on 16-byte blocks, so short inputs and the last 0..15 bytes go by the tables.
#include "platform/crc32.h"

#include <array>
#include <cstddef>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace platform {
namespace {

// Slice-by-8: table[0] is the classic byte table, table[k] the CRC of a byte followed by k
// zero bytes, so that eight bytes take eight look-ups and no loop-carried shifts.
using CrcTables = std::array<std::array<uint32_t, 256>, 8>;
constexpr CrcTables MakeCrcTables() {
    CrcTables tables{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t crc = i;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ ((crc & 1) ? 0xEDB88320u : 0);
        tables[0][i] = crc;
    }
    for (uint32_t i = 0; i < 256; ++i) {
        for (size_t k = 1; k < 8; ++k) {
            const uint32_t previous = tables[k - 1][i];
            tables[k][i] = (previous >> 8) ^ tables[0][previous & 0xFF];
        }
    }
    return tables;
}
constexpr CrcTables kCrcTables = MakeCrcTables();

#if defined(__x86_64__)

// Below this the folding's set-up and final reduction cost more than the tables would.
constexpr size_t kFoldMinimum = 64;

bool CpuCanFold() {
    static const bool can = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    }();
    return can;
}

// `a` times one 64-bit constant and its high half times the other, summed (XOR): a 128-bit
// value moved forward by the distance the constants stand for, to be added to the data there.
__attribute__((target("pclmul,sse4.1"))) inline __m128i Fold(__m128i a, __m128i constants) {
    return _mm_xor_si128(_mm_clmulepi64_si128(a, constants, 0x00),
                         _mm_clmulepi64_si128(a, constants, 0x11));
}

__attribute__((target("pclmul,sse4.1"))) inline __m128i Load(const unsigned char* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// The register (inverted) CRC after `n` bytes at `p`, from `state` before them; `n` is a
// multiple of 16 and at least kFoldMinimum. Bits are reflected throughout, as the CRC is: the
// lowest bit of the first byte is the highest power of x. The constants are x^k mod P for the
// folding distances (bit-reflected, shifted by one), and for the final Barrett reduction P
// itself and floor(x^64 / P).
__attribute__((target("pclmul,sse4.1"))) uint32_t FoldCrc(const unsigned char* p, size_t n,
                                                          uint32_t state) {
    // Four blocks ahead (512 bits): x^(512+32) and x^(512-32) mod P.
    const __m128i by4 = _mm_set_epi64x(0x1c6e41596, 0x154442bd4);
    // One block ahead (128 bits): x^(128+32) and x^(128-32) mod P.
    const __m128i by1 = _mm_set_epi64x(0x0ccaa009e, 0x1751997d0);
    // 64 bits to 32: x^64 mod P.
    const __m128i by32 = _mm_set_epi64x(0, 0x163cd6124);
    // Barrett: P (low) and floor(x^64 / P) (high).
    const __m128i barrett = _mm_set_epi64x(0x1F7011641, 0x1DB710641);
    const __m128i low32 = _mm_set_epi32(0, 0, 0, -1);

    __m128i x1 = _mm_xor_si128(Load(p), _mm_cvtsi32_si128(static_cast<int>(state)));
    __m128i x2 = Load(p + 16);
    __m128i x3 = Load(p + 32);
    __m128i x4 = Load(p + 48);
    p += 64;
    n -= 64;
    // Four independent chains, so that the multiplications overlap.
    while (n >= 64) {
        x1 = _mm_xor_si128(Fold(x1, by4), Load(p));
        x2 = _mm_xor_si128(Fold(x2, by4), Load(p + 16));
        x3 = _mm_xor_si128(Fold(x3, by4), Load(p + 32));
        x4 = _mm_xor_si128(Fold(x4, by4), Load(p + 48));
        p += 64;
        n -= 64;
    }
    x1 = _mm_xor_si128(Fold(x1, by1), x2);
    x1 = _mm_xor_si128(Fold(x1, by1), x3);
    x1 = _mm_xor_si128(Fold(x1, by1), x4);
    while (n >= 16) {
        x1 = _mm_xor_si128(Fold(x1, by1), Load(p));
        p += 16;
        n -= 16;
    }

    // 128 bits to 64: the low half moved onto the high one.
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(by1, x1, 0x01));
    // 64 bits to 32 (kept in bits 32..95 of the register).
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 4),
                       _mm_clmulepi64_si128(_mm_and_si128(x1, low32), by32, 0x00));
    // Barrett reduction: the quotient by floor(x^64 / P), then the quotient times P taken off.
    __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), barrett, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, low32), barrett, 0x00);
    return static_cast<uint32_t>(_mm_extract_epi32(_mm_xor_si128(x1, t), 1));
}

#endif  // __x86_64__

}  // namespace

uint32_t Crc32Portable(std::string_view data, uint32_t crc) {
    const auto* p = reinterpret_cast<const unsigned char*>(data.data());
    size_t n = data.size();
    crc = ~crc;
    while (n >= 8) {
        const uint32_t low =
            crc ^ (static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                   static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
        crc = kCrcTables[7][low & 0xFF] ^ kCrcTables[6][(low >> 8) & 0xFF] ^
              kCrcTables[5][(low >> 16) & 0xFF] ^ kCrcTables[4][low >> 24] ^ kCrcTables[3][p[4]] ^
              kCrcTables[2][p[5]] ^ kCrcTables[1][p[6]] ^ kCrcTables[0][p[7]];
        p += 8;
        n -= 8;
    }
    while (n-- > 0) crc = (crc >> 8) ^ kCrcTables[0][(crc ^ *p++) & 0xFF];
    return ~crc;
}

uint32_t Crc32(std::string_view data, uint32_t crc) {
#if defined(__x86_64__)
    if (data.size() >= kFoldMinimum && CpuCanFold()) {
        const size_t folded = data.size() & ~size_t{15};
        const uint32_t state =
            FoldCrc(reinterpret_cast<const unsigned char*>(data.data()), folded, ~crc);
        return Crc32Portable(data.substr(folded), ~state);
    }
#endif
    return Crc32Portable(data, crc);
}

}  // namespace platform
