// Watching processes that a test did not start itself (a script's children, say).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <fstream>
#include <string>

#include "tests/support/wait_until.h"

namespace testing_support {

// True once `pid` names no running process within `limit` (a zombie waiting for its new
// parent counts as gone).
inline bool ProcessGone(pid_t pid, std::chrono::milliseconds limit) {
    return WaitUntil(limit, [pid] {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string text;
        std::getline(stat, text);
        size_t close = text.rfind(')');
        return !stat || close == std::string::npos || text.substr(close + 2, 1) == "Z";
    });
}

}  // namespace testing_support
