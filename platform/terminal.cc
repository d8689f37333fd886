// Terminal echo for password prompts, restored on every way out.
#include "platform/terminal.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstddef>
#include <iterator>

namespace platform {
namespace {

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// What the signal handler needs: the settings to put back and whether echo is off now.
termios gSavedTerminal{};
volatile sig_atomic_t gEchoIsOff = 0;
struct sigaction gPreviousHandlers[std::size(kEndingSignals)]{};

// Restores the terminal, then ends the program by the same signal with its default action,
// so the parent sees the signal as the cause.
extern "C" void RestoreEchoAndEnd(int signalNumber) {
    if (gEchoIsOff) ::tcsetattr(STDIN_FILENO, TCSANOW, &gSavedTerminal);
    ::signal(signalNumber, SIG_DFL);
    ::raise(signalNumber);
}

}  // namespace

bool InputIsTerminal() { return ::isatty(STDIN_FILENO) == 1; }

EchoOff::EchoOff() {
    if (::tcgetattr(STDIN_FILENO, &gSavedTerminal) != 0) return;
    // The handlers are in place before echo goes off, so no signal can come between.
    struct sigaction restore {};
    restore.sa_handler = RestoreEchoAndEnd;
    ::sigemptyset(&restore.sa_mask);
    for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
        ::sigaction(kEndingSignals[i], &restore, &gPreviousHandlers[i]);
    }
    termios quiet = gSavedTerminal;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    gEchoIsOff = ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
    active_ = true;
}

EchoOff::~EchoOff() {
    if (!active_) return;
    if (gEchoIsOff) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &gSavedTerminal);
    gEchoIsOff = 0;
    for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
        ::sigaction(kEndingSignals[i], &gPreviousHandlers[i], nullptr);
    }
}

}  // namespace platform
