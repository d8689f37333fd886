// Drawing QR codes with text.
#include "app/qr_text.h"

namespace app {
namespace {

// Indexed by (top light) * 2 + (bottom light).
constexpr const char* kHalfBlocks[] = {" ", "\u2584", "\u2580", "\u2588"};

}  // namespace

std::vector<std::vector<bool>> QrLightModules(const platform::QrCode& code) {
    int side = code.size + 2 * kQrQuietZone;
    std::vector<std::vector<bool>> rows(static_cast<size_t>(side),
                                        std::vector<bool>(static_cast<size_t>(side), true));
    for (int row = 0; row < code.size; ++row) {
        for (int column = 0; column < code.size; ++column) {
            rows[static_cast<size_t>(row + kQrQuietZone)]
                [static_cast<size_t>(column + kQrQuietZone)] = !code.IsDark(row, column);
        }
    }
    return rows;
}

std::vector<std::string> QrHalfBlockLines(const platform::QrCode& code) {
    std::vector<std::vector<bool>> light = QrLightModules(code);
    std::vector<std::string> lines;
    for (size_t row = 0; row < light.size(); row += 2) {
        std::string line;
        for (size_t column = 0; column < light[row].size(); ++column) {
            // An odd count of rows leaves the last line's lower half to the background.
            bool bottom = row + 1 < light.size() && light[row + 1][column];
            line += kHalfBlocks[(light[row][column] ? 2 : 0) + (bottom ? 1 : 0)];
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

std::string QrCodeText(const std::string& url) {
    std::optional<platform::QrCode> code = platform::EncodeQrCode(url);
    if (!code) return {};
    std::string text;
    for (const std::string& line : QrHalfBlockLines(*code)) text += line + "\n";
    return text + url + "\n";
}

}  // namespace app
