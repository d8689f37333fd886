// Markup the applications share in the modern look: the icons their lists draw, from one
// sprite in the text's colour, so that no row needs an image of its own.
#pragma once

#include <string>
#include <string_view>

namespace apps {

// The sprite, written once near the top of a page; each icon is a <use> of one of its symbols.
inline constexpr std::string_view kIconSprite =
    "<svg class=\"sprite\" aria-hidden=\"true\" width=\"0\" height=\"0\">"
    "<symbol id=\"i-folder\" viewBox=\"0 0 24 24\"><path d=\"M2 6a2 2 0 0 1 2-2h5l2 2h9a2 2 0 0 "
    "1 2 2v10a2 2 0 0 1-2 2H4a2 2 0 0 1-2-2z\"/></symbol>"
    "<symbol id=\"i-file\" viewBox=\"0 0 24 24\"><path d=\"M6 2h8l6 6v12a2 2 0 0 1-2 2H6a2 2 0 "
    "0 1-2-2V4a2 2 0 0 1 2-2zm7 1v6h6\"/></symbol>"
    "<symbol id=\"i-link\" viewBox=\"0 0 24 24\"><path d=\"M10.6 13.4a1 1 0 0 1 0-1.4l3.5-3.5a1 "
    "1 0 1 1 1.4 1.4L12 13.4a1 1 0 0 1-1.4 0zM8 11.6 5.6 14a3 3 0 0 0 4.2 4.2l2.4-2.4 1.4 1.4-2.4 "
    "2.4a5 5 0 0 1-7-7L6.6 10.2zm8-1.2L18.4 8a3 3 0 0 0-4.2-4.2l-2.4 2.4-1.4-1.4 2.4-2.4a5 5 0 0 "
    "1 7 7l-2.4 2.4z\"/></symbol></svg>";

// An icon of the sprite (`symbol` is "folder", "file" or "link") with the word a screen
// reader says for it.
inline std::string Icon(std::string_view symbol, std::string_view word) {
    std::string icon = "<svg class=\"icon\" role=\"img\" aria-label=\"";
    icon.append(word).append("\"><use href=\"#i-").append(symbol).append("\"/></svg>");
    return icon;
}

}  // namespace apps
