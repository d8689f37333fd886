// Lists of addresses and CIDR ranges ("10.0.0.0/8, ::1, 2001:db8::/32") the owner names in the
// configuration, and whether an address falls in one of them.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ip_address.h"

namespace platform {

// One address (a range of one) or a CIDR range of one family.
class AddressRange {
  public:
    // "a.b.c.d", "a.b.c.d/n" (n up to 32), an IPv6 address, or one with "/n" (n up to 128).
    // Bits of the address past the prefix are ignored. Nothing for anything else.
    static std::optional<AddressRange> Parse(std::string_view text);

    // An IPv4 range holds IPv4 addresses only, an IPv6 range IPv6 ones only; an IPv4 client
    // of a dual-stack socket is its IPv4 address (see IpAddress).
    bool Contains(const IpAddress& address) const;

  private:
    IpAddress base_;
    int prefixBits_ = 0;
};

class AddressRanges {
  public:
    AddressRanges() = default;
    // The ranges of a list separated by commas and blanks. Entries that are no address or
    // range are left out and kept, as written, in `rejected`.
    static AddressRanges Parse(std::string_view list, std::vector<std::string>* rejected = nullptr);

    bool empty() const { return ranges_.empty(); }
    bool Contains(const IpAddress& address) const;

  private:
    std::vector<AddressRange> ranges_;
};

}  // namespace platform
