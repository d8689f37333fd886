// The command line: "-bind" and "-absolute" with their addresses, and the switches of the
// headless program.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace app {

// The longest address text kept from the command line: the longest IPv6 address text
// ("ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255") is kept whole.
inline constexpr size_t kMaxAddressLength = 45;

struct Options {
    std::optional<std::string> bind;      // "-bind" address
    std::optional<std::string> absolute;  // "-absolute" address
    bool headless = false;
    bool help = false;
    bool version = false;
    bool url = false;   // print Server 1's address and end
    bool qr = false;    // print the QR code of Server 1's address and end
    bool noQr = false;  // headless: no QR code at start
};

// The value of an option in a command line: the text between the first space after the
// option's name (found anywhere, letter case as written) and the next space or the end, cut
// to kMaxAddressLength characters. std::nullopt when the name does not occur.
std::optional<std::string> OptionValue(std::string_view commandLine, std::string_view name);

Options ParseOptions(int argc, const char* const* argv);

// The text of --help.
std::string UsageText();

}  // namespace app
