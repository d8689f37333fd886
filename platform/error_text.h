// The text of a system error number, for messages that name the failed call.
#pragma once

#include <string>

namespace platform {

// "Too many open files" for EMFILE, and so on.
std::string ErrorText(int error);

// Sets `*error`, when it is not null, to `call` (the call and what it acted on), a colon and
// the text of `code`: "rename /srv/vantry/Vantry.ini: Permission denied".
void SetError(std::string* error, const std::string& call, int code);

}  // namespace platform
