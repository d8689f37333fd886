// Address ranges: a prefix compared byte by byte, then the bits of the last partial byte.
#include "platform/address_ranges.h"

#include <charconv>

namespace platform {
namespace {

// The address's bytes in network order: four for IPv4, sixteen for IPv6.
std::array<uint8_t, 16> BytesOf(const IpAddress& address, size_t* count) {
    if (address.IsIpv6()) {
        *count = 16;
        return address.Ipv6Bytes();
    }
    const uint32_t v4 = address.Ipv4();
    *count = 4;
    return {static_cast<uint8_t>(v4 >> 24), static_cast<uint8_t>(v4 >> 16),
            static_cast<uint8_t>(v4 >> 8), static_cast<uint8_t>(v4)};
}

bool IsListSeparator(char c) { return c == ',' || c == ' ' || c == '\t'; }

}  // namespace

std::optional<AddressRange> AddressRange::Parse(std::string_view text) {
    std::string_view addressText = text;
    std::optional<int> bits;
    if (size_t slash = text.find('/'); slash != std::string_view::npos) {
        addressText = text.substr(0, slash);
        std::string_view bitsText = text.substr(slash + 1);
        int value = 0;
        auto [end, error] =
            std::from_chars(bitsText.data(), bitsText.data() + bitsText.size(), value);
        if (bitsText.empty() || error != std::errc() || end != bitsText.data() + bitsText.size()) {
            return std::nullopt;
        }
        bits = value;
    }
    std::optional<IpAddress> address = IpAddress::Parse(addressText);
    if (!address) return std::nullopt;
    const int width = address->IsIpv6() ? 128 : 32;
    // An IPv4-mapped IPv6 text reads as its IPv4 address; its prefix counts the 96 bits of
    // the mapping, which the IPv4 address no longer has.
    if (bits && !address->IsIpv6() && addressText.find(':') != std::string_view::npos) *bits -= 96;
    if (bits && (*bits < 0 || *bits > width)) return std::nullopt;
    AddressRange range;
    range.base_ = *address;
    range.prefixBits_ = bits.value_or(width);
    return range;
}

bool AddressRange::Contains(const IpAddress& address) const {
    if (address.IsIpv6() != base_.IsIpv6()) return false;
    size_t count = 0;
    const std::array<uint8_t, 16> want = BytesOf(base_, &count);
    const std::array<uint8_t, 16> have = BytesOf(address, &count);
    const size_t whole = static_cast<size_t>(prefixBits_) / 8;
    for (size_t i = 0; i < whole; ++i) {
        if (want[i] != have[i]) return false;
    }
    const int rest = prefixBits_ % 8;
    if (rest == 0) return true;
    const auto mask = static_cast<uint8_t>(0xff << (8 - rest));
    return (want[whole] & mask) == (have[whole] & mask);
}

AddressRanges AddressRanges::Parse(std::string_view list, std::vector<std::string>* rejected) {
    AddressRanges ranges;
    size_t at = 0;
    while (at < list.size()) {
        if (IsListSeparator(list[at])) {
            ++at;
            continue;
        }
        size_t end = at;
        while (end < list.size() && !IsListSeparator(list[end])) ++end;
        std::string_view entry = list.substr(at, end - at);
        if (std::optional<AddressRange> range = AddressRange::Parse(entry)) {
            ranges.ranges_.push_back(*range);
        } else if (rejected != nullptr) {
            rejected->emplace_back(entry);
        }
        at = end;
    }
    return ranges;
}

bool AddressRanges::Contains(const IpAddress& address) const {
    for (const AddressRange& range : ranges_) {
        if (range.Contains(address)) return true;
    }
    return false;
}

}  // namespace platform
