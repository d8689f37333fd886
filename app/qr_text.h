// A QR code drawn with text: half blocks for a stream, a grid of modules for the panel.
#pragma once

#include <string>
#include <vector>

#include "platform/qr_code.h"

namespace app {

// Modules of light margin drawn around the symbol. A terminal's background is usually dark,
// so the margin a reader needs to find the symbol has to be drawn, not left out.
inline constexpr int kQrQuietZone = 2;

// The symbol with its quiet zone, row by row: true for a light module.
std::vector<std::vector<bool>> QrLightModules(const platform::QrCode& code);

// The symbol with its quiet zone in UTF-8 half blocks, two module rows per line: a light
// module is drawn in the text colour ("█", "▀" or "▄") and a dark one is left blank. On the
// usual light text on a dark background that gives dark modules on a light field; readers
// also take the inverse on a light background.
std::vector<std::string> QrHalfBlockLines(const platform::QrCode& code);

// The half-block lines of the QR code of `url` followed by a line with `url` itself, each
// line ending in "\n"; empty when no code can be made.
std::string QrCodeText(const std::string& url);

}  // namespace app
