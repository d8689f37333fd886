// A QR code drawn as inline SVG, for pages that offer an address to scan with a phone.
#pragma once

#include <string>
#include <string_view>

namespace pages {

// Modules of light margin around the symbol, as readers expect.
inline constexpr int kQrSvgQuietZone = 4;

// The `<svg>` element of the QR code of `text`: one module per user unit, the quiet zone
// included, on a white square (a path, like the modules); the dark modules are one `<path>` filled
// with currentColor, and the element sets that colour to black so that a dark page's text colour
// does not reach the code. Each run of dark modules in a row is one subpath "M<x> <y>h<n>v1h-<n>z".
// `label` names the code for assistive technology (role="img" and aria-label, escaped).
// Empty when no code can be made (the text is too long). Each thread keeps the last code it
// drew, so that the same page asked for again costs a copy.
std::string QrCodeSvg(std::string_view text, std::string_view label);

}  // namespace pages
