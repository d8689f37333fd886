// The text of a system error number, for messages that name the failed call.
#pragma once

#include <string>

namespace platform {

// "Too many open files" for EMFILE, and so on.
std::string ErrorText(int error);

}  // namespace platform
