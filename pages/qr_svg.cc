// QR codes as SVG markup.
#include "pages/qr_svg.h"

#include <optional>

#include "platform/qr_code.h"
#include "platform/text.h"

namespace pages {

namespace {

std::string DrawQrCodeSvg(std::string_view text, std::string_view label) {
    std::optional<platform::QrCode> code = platform::EncodeQrCode(text);
    if (!code) return {};
    const std::string side = std::to_string(code->size + 2 * kQrSvgQuietZone);
    std::string svg = "<svg class=\"qr\" xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 ";
    svg.append(side).append(" ").append(side);
    svg.append("\" role=\"img\" aria-label=\"").append(platform::EscapeHtml(label));
    svg.append("\" style=\"color:#000;background:#fff\" shape-rendering=\"crispEdges\">");
    svg.append("<title>").append(platform::EscapeHtml(label)).append("</title>");
    svg.append("<path fill=\"#fff\" d=\"M0 0h").append(side).append("v").append(side);
    svg.append("H0z\"/><path fill=\"currentColor\" d=\"");
    for (int row = 0; row < code->size; ++row) {
        for (int column = 0; column < code->size;) {
            if (!code->IsDark(row, column)) {
                ++column;
                continue;
            }
            int run = 1;
            while (column + run < code->size && code->IsDark(row, column + run)) ++run;
            const std::string length = std::to_string(run);
            svg.append("M").append(std::to_string(column + kQrSvgQuietZone)).append(" ");
            svg.append(std::to_string(row + kQrSvgQuietZone)).append("h").append(length);
            svg.append("v1h-").append(length).append("z");
            column += run;
        }
    }
    svg.append("\"></path></svg>");
    return svg;
}

}  // namespace

std::string QrCodeSvg(std::string_view text, std::string_view label) {
    // The code last drawn on this thread: a page asked for again, as a folder reloaded or
    // sorted another way, is not encoded again (that takes some tens of microseconds).
    thread_local std::string drawnText;
    thread_local std::string drawnLabel;
    thread_local std::string svg;
    if (text != drawnText || label != drawnLabel) {
        svg = DrawQrCodeSvg(text, label);
        drawnText = text;
        drawnLabel = label;
    }
    return svg;
}

}  // namespace pages
