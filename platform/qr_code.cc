// QR codes from libqrencode.
#include "platform/qr_code.h"

#include <qrencode.h>

#include <cerrno>
#include <memory>

#include "platform/error_text.h"

namespace platform {
namespace {

constexpr size_t kMaxQrBytes = 2953;

struct QrCodeFree {
    void operator()(QRcode* code) const { QRcode_free(code); }
};

}  // namespace

std::optional<QrCode> EncodeQrCode(std::string_view text, std::string* error) {
    // The largest symbol holds 2953 bytes; anything longer fails before reaching the library.
    if (text.size() > kMaxQrBytes) {
        SetError(error, "QRcode_encodeData", ERANGE);
        return std::nullopt;
    }
    errno = 0;
    // Version 0 lets the library pick the smallest symbol that holds the data.
    std::unique_ptr<QRcode, QrCodeFree> code(
        QRcode_encodeData(static_cast<int>(text.size()),
                          reinterpret_cast<const unsigned char*>(text.data()), 0, QR_ECLEVEL_L));
    if (!code) {
        SetError(error, "QRcode_encodeData", errno);
        return std::nullopt;
    }
    QrCode result;
    result.size = code->width;
    size_t count = static_cast<size_t>(code->width) * static_cast<size_t>(code->width);
    result.dark.resize(count);
    // The lowest bit of each module's byte tells dark (1) from light (0).
    for (size_t i = 0; i < count; ++i) result.dark[i] = (code->data[i] & 1) != 0;
    return result;
}

}  // namespace platform
