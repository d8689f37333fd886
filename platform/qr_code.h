// QR codes made with the system's qrencode library, as a square of dark and light modules.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// A QR code's modules, row by row: `size` rows of `size` modules, true for a dark one. The
// quiet zone around the symbol is not included.
struct QrCode {
    int size = 0;
    std::vector<bool> dark;

    bool IsDark(int row, int column) const {
        return dark[static_cast<size_t>(row) * static_cast<size_t>(size) +
                    static_cast<size_t>(column)];
    }
};

// The smallest QR code that holds `text` as bytes, with the lowest error correction (the
// code is read from a screen, not from worn paper). std::nullopt when it cannot be made (the
// text is too long, or the library fails); `*error`, when not null, then names the failed
// call and the error.
std::optional<QrCode> EncodeQrCode(std::string_view text, std::string* error = nullptr);

}  // namespace platform
