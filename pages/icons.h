// The icons of the modern look's lists: one SVG sprite written once near the top of a page, and
// per row a <use> of one of its symbols, drawn in the text's colour.
#pragma once

#include <string>
#include <string_view>

namespace pages {

// Symbols: folder, file, text, image, audio, video, archive, pdf, code, link.
inline constexpr std::string_view kIconSprite =
    "<svg class=\"sprite\" aria-hidden=\"true\" width=\"0\" height=\"0\">"
    "<symbol id=\"i-folder\" viewBox=\"0 0 24 24\"><path d=\"M2 6a2 2 0 0 1 2-2h5l2 2h9a2 2 0 0 "
    "1 2 2v10a2 2 0 0 1-2 2H4a2 2 0 0 1-2-2z\"/></symbol>"
    "<symbol id=\"i-file\" viewBox=\"0 0 24 24\"><path d=\"M6 2h8l6 6v12a2 2 0 0 1-2 2H6a2 2 0 "
    "0 1-2-2V4a2 2 0 0 1 2-2zm7 1v6h6\"/></symbol>"
    "<symbol id=\"i-text\" viewBox=\"0 0 24 24\"><path d=\"M6 2h8l6 6v12a2 2 0 0 1-2 2H6a2 2 0 "
    "0 1-2-2V4a2 2 0 0 1 2-2zm2 10h8v1.5H8zm0 4h8v1.5H8zm0-8h4v1.5H8z\"/></symbol>"
    "<symbol id=\"i-image\" viewBox=\"0 0 24 24\"><path d=\"M4 3h16a2 2 0 0 1 2 2v14a2 2 0 0 "
    "1-2 2H4a2 2 0 0 1-2-2V5a2 2 0 0 1 2-2zm1 15h14l-4.5-6-3.5 4.5-2.5-3zM8 9.5a1.5 1.5 0 1 0 "
    "0-3 1.5 1.5 0 0 0 0 3z\"/></symbol>"
    "<symbol id=\"i-audio\" viewBox=\"0 0 24 24\"><path d=\"M9 4l11-2v14a3 3 0 1 1-2-2.8V5.4L11 "
    "6.7V18a3 3 0 1 1-2-2.8z\"/></symbol>"
    "<symbol id=\"i-video\" viewBox=\"0 0 24 24\"><path d=\"M3 5h13a1 1 0 0 1 1 1v3.5l4-2.5v10l-4-"
    "2.5V18a1 1 0 0 1-1 1H3a1 1 0 0 1-1-1V6a1 1 0 0 1 1-1z\"/></symbol>"
    "<symbol id=\"i-archive\" viewBox=\"0 0 24 24\"><path d=\"M3 3h18v5H3zm1 6h16v11a1 1 0 0 1-1 "
    "1H5a1 1 0 0 1-1-1zm6 2v2h4v-2z\"/></symbol>"
    "<symbol id=\"i-pdf\" viewBox=\"0 0 24 24\"><path d=\"M6 2h8l6 6v12a2 2 0 0 1-2 2H6a2 2 0 0 "
    "1-2-2V4a2 2 0 0 1 2-2zm1 12v5h1.5v-1.5H10a1.7 1.7 0 0 0 0-3.5zm1.5 1.2h1.2a.5.5 0 0 1 0 "
    "1H8.5zM12 14v5h1.8a2.5 2.5 0 0 0 0-5zm1.4 1.2a1.3 1.3 0 0 1 0 2.6z\"/></symbol>"
    "<symbol id=\"i-code\" viewBox=\"0 0 24 24\"><path d=\"M8.6 6.6 10 8l-4 4 4 4-1.4 1.4L3.2 "
    "12zm6.8 0L20.8 12l-5.4 5.4L14 16l4-4-4-4z\"/></symbol>"
    "<symbol id=\"i-link\" viewBox=\"0 0 24 24\"><path d=\"M10.6 13.4a1 1 0 0 1 0-1.4l3.5-3.5a1 "
    "1 0 1 1 1.4 1.4L12 13.4a1 1 0 0 1-1.4 0zM8 11.6 5.6 14a3 3 0 0 0 4.2 4.2l2.4-2.4 1.4 1.4-2.4 "
    "2.4a5 5 0 0 1-7-7L6.6 10.2zm8-1.2L18.4 8a3 3 0 0 0-4.2-4.2l-2.4 2.4-1.4-1.4 2.4-2.4a5 5 0 0 "
    "1 7 7l-2.4 2.4z\"/></symbol></svg>";

// The symbol of a file's kind, told by its name's extension: "text", "image", "audio",
// "video", "archive", "pdf", "code", else "file".
std::string_view FileIcon(std::string_view name);

// An icon of the sprite with the word a screen reader says for it.
std::string Icon(std::string_view symbol, std::string_view word);

}  // namespace pages
