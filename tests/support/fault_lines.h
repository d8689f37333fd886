// Reading a program's standard error for the faults it reports about itself: a sanitizer's
// report, a failed assertion, an exception nobody caught.
#pragma once

#include <string.h>

#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace testing_support {

// What a line of standard error holds when the program found a fault in itself. The
// sanitizers print these once per report (the lines after them are the report's stacks).
inline constexpr std::string_view kFaultMarkers[] = {
    "ERROR: AddressSanitizer",   // memory errors, and a deadly signal under AddressSanitizer
    "ERROR: LeakSanitizer",      // memory still allocated at exit
    "WARNING: ThreadSanitizer",  // data races, lock order inversions, signal-unsafe calls
    "ERROR: ThreadSanitizer",    // a deadly signal under ThreadSanitizer
    "FATAL: ThreadSanitizer",    // the sanitizer itself could not go on
    "Sanitizer: CHECK failed",   // an internal check of any sanitizer
    "runtime error:",            // UndefinedBehaviorSanitizer
    "Assertion `",               // assert()
    "terminate called",          // an exception left a thread, or noexcept was broken
};

// The lines of `errors` that report a fault, in order. `deliberateSignal`, a signal that the
// test itself sent to crash the program, excuses the report of that signal's arrival (its
// "<NAME> on unknown address" line), nothing else.
inline std::vector<std::string> FaultLines(const std::string& errors, int deliberateSignal = 0) {
    const char* name = deliberateSignal > 0 ? ::sigabbrev_np(deliberateSignal) : nullptr;
    const std::string excused =
        name ? std::string("Sanitizer: ") + name + " on unknown address" : "";
    std::vector<std::string> faults;
    std::istringstream lines(errors);
    for (std::string line; std::getline(lines, line);) {
        if (!excused.empty() && line.find(excused) != std::string::npos) continue;
        for (std::string_view marker : kFaultMarkers) {
            if (line.find(marker) != std::string::npos) {
                faults.push_back(line);
                break;
            }
        }
    }
    return faults;
}

// The fault lines joined for a failure message, with the whole standard error after them so
// that the report's stacks are at hand.
inline std::string DescribeFaults(const std::vector<std::string>& faults,
                                  const std::string& errors) {
    std::string text;
    for (const std::string& line : faults) text += "  " + line + "\n";
    return text + "Its standard error:\n" + errors;
}

}  // namespace testing_support
