// System error texts.
#include "platform/error_text.h"

#include <string.h>

namespace platform {

std::string ErrorText(int error) {
    char buffer[256];
    // The GNU strerror_r returns the text, which may or may not live in `buffer`.
    return strerror_r(error, buffer, sizeof buffer);
}

void SetError(std::string* error, const std::string& call, int code) {
    if (error != nullptr) *error = call + ": " + ErrorText(code);
}

}  // namespace platform
