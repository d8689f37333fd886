// The full-screen terminal on curses, with the terminal's settings put back on a crash.
#include "platform/terminal_screen.h"

#include <curses.h>
#include <fcntl.h>
#include <langinfo.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <term.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <cstring>
#include <iterator>
#include <string>

namespace platform {
namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGQUIT};
// How long a lone Escape waits for the rest of a key's sequence.
constexpr int kEscapeDelayMs = 25;
constexpr short kGreenPair = 1;
constexpr short kRedPair = 2;

SCREEN* gScreen = nullptr;

// What the crash handler needs, prepared while the screen starts: the terminal's settings
// before curses changed them and the text that takes the terminal out of full-screen mode.
termios gSavedTerminal{};
int gSavedInputFlags = 0;
char gRestoreText[512];
size_t gRestoreLength = 0;
volatile sig_atomic_t gScreenActive = 0;
struct sigaction gPreviousHandlers[std::size(kFatalSignals)]{};

// Puts the terminal back with async-signal-safe calls only, then lets the signal take its
// previous course (the default: the program ends by it, with a core where one is due).
extern "C" void RestoreTerminalAndEnd(int signalNumber) {
    if (gScreenActive) {
        ::tcsetattr(STDIN_FILENO, TCSANOW, &gSavedTerminal);
        ::fcntl(STDIN_FILENO, F_SETFL, gSavedInputFlags);
        ssize_t written = ::write(STDOUT_FILENO, gRestoreText, gRestoreLength);
        (void)written;
        gScreenActive = 0;
    }
    for (size_t i = 0; i < std::size(kFatalSignals); ++i) {
        if (kFatalSignals[i] != signalNumber) continue;
        ::sigaction(signalNumber, &gPreviousHandlers[i], nullptr);
    }
    ::raise(signalNumber);
}

void AppendCapability(std::string& text, const char* name) {
    const char* value = ::tigetstr(name);
    if (value != nullptr && value != reinterpret_cast<const char*>(-1)) text += value;
}

void PrepareRestoreText(bool mouse) {
    std::string text;
    AppendCapability(text, "rmkx");
    if (mouse) text += "\033[?1006l\033[?1000l";
    AppendCapability(text, "sgr0");
    AppendCapability(text, "cnorm");
    AppendCapability(text, "rmcup");
    gRestoreLength = std::min(text.size(), sizeof gRestoreText);
    std::memcpy(gRestoreText, text.data(), gRestoreLength);
}

void InstallCrashHandlers() {
    struct sigaction restore {};
    restore.sa_handler = RestoreTerminalAndEnd;
    ::sigemptyset(&restore.sa_mask);
    for (size_t i = 0; i < std::size(kFatalSignals); ++i) {
        ::sigaction(kFatalSignals[i], &restore, &gPreviousHandlers[i]);
    }
}

void RemoveCrashHandlers() {
    for (size_t i = 0; i < std::size(kFatalSignals); ++i) {
        ::sigaction(kFatalSignals[i], &gPreviousHandlers[i], nullptr);
    }
}

attr_t Attributes(unsigned look) {
    attr_t attributes = A_NORMAL;
    if (look & kLookBold) attributes |= A_BOLD;
    if (look & kLookDim) attributes |= A_DIM;
    if (look & kLookReverse) attributes |= A_REVERSE;
    if (look & kLookUnderline) attributes |= A_UNDERLINE;
    if (::has_colors()) {
        if (look & kLookGreen) attributes |= COLOR_PAIR(kGreenPair);
        if (look & kLookRed) attributes |= COLOR_PAIR(kRedPair);
    }
    return attributes;
}

// The curses key as ours; std::nullopt for what is not a key or click worth reporting.
std::optional<InputEvent> Translate(int code) {
    InputEvent event;
    switch (code) {
        case KEY_UP:
            event.key = kKeyUp;
            return event;
        case KEY_DOWN:
            event.key = kKeyDown;
            return event;
        case KEY_LEFT:
            event.key = kKeyLeft;
            return event;
        case KEY_RIGHT:
            event.key = kKeyRight;
            return event;
        case KEY_ENTER:
        case '\r':
        case '\n':
            event.key = kKeyEnter;
            return event;
        case 27:
            event.key = kKeyEscape;
            return event;
        case '\t':
            event.key = kKeyTab;
            return event;
        case KEY_F(1):
            event.key = kKeyF1;
            return event;
        case KEY_F(10):
            event.key = kKeyF10;
            return event;
        case KEY_RESIZE:
            return std::nullopt;
        case KEY_MOUSE: {
            MEVENT mouse;
            if (::getmouse(&mouse) != OK) return std::nullopt;
            if (!(mouse.bstate & (BUTTON1_PRESSED | BUTTON1_CLICKED))) return std::nullopt;
            event.kind = InputEvent::Kind::kClick;
            event.row = mouse.y;
            event.column = mouse.x;
            return event;
        }
        default:
            break;
    }
    event.key = code >= KEY_MIN ? kKeyOther : code;
    return event;
}

// Makes reads of the terminal return at once while it lives. Curses, after some mouse
// events it drops itself (a button's release), reads on even when told not to wait; this
// way that read finds nothing instead of stopping the program until the next key.
class NonBlockingInput {
  public:
    NonBlockingInput() { ::fcntl(STDIN_FILENO, F_SETFL, gSavedInputFlags | O_NONBLOCK); }
    ~NonBlockingInput() { ::fcntl(STDIN_FILENO, F_SETFL, gSavedInputFlags); }
    NonBlockingInput(const NonBlockingInput&) = delete;
    NonBlockingInput& operator=(const NonBlockingInput&) = delete;
};

bool InputHungUp() {
    struct pollfd input {
        STDIN_FILENO, POLLIN, 0
    };
    return ::poll(&input, 1, 0) == 1 && (input.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

}  // namespace

TerminalScreen::~TerminalScreen() { Stop(); }

bool TerminalScreen::Start() {
    if (started_ || gScreen != nullptr) return false;
    if (::isatty(STDIN_FILENO) != 1 || ::isatty(STDOUT_FILENO) != 1) return false;
    if (::tcgetattr(STDIN_FILENO, &gSavedTerminal) != 0) return false;
    gSavedInputFlags = ::fcntl(STDIN_FILENO, F_GETFL);
    if (gSavedInputFlags == -1) return false;
    gSavedInputFlags &= ~O_NONBLOCK;
    // The environment's character set: curses then writes UTF-8 where the terminal takes it.
    const char* previous = std::setlocale(LC_CTYPE, nullptr);
    savedLocale_ = previous != nullptr ? previous : "C";
    std::setlocale(LC_CTYPE, "");
    unicode_ = std::strcmp(::nl_langinfo(CODESET), "UTF-8") == 0;
    gScreen = ::newterm(nullptr, stdout, stdin);
    if (gScreen == nullptr) {
        std::setlocale(LC_CTYPE, savedLocale_.c_str());
        return false;
    }
    ::raw();
    ::noecho();
    ::keypad(stdscr, TRUE);
    ::nodelay(stdscr, TRUE);
    ::curs_set(0);
    ::set_escdelay(kEscapeDelayMs);
    if (::has_colors()) {
        ::start_color();
        ::use_default_colors();
        ::init_pair(kGreenPair, COLOR_GREEN, -1);
        ::init_pair(kRedPair, COLOR_RED, -1);
    }
    ::mouseinterval(0);
    bool mouse = ::mousemask(BUTTON1_PRESSED | BUTTON1_CLICKED, nullptr) != 0;
    PrepareRestoreText(mouse);
    InstallCrashHandlers();
    gScreenActive = 1;
    started_ = true;
    suspended_ = false;
    return true;
}

void TerminalScreen::Stop() {
    if (!started_) return;
    if (!suspended_) ::endwin();
    gScreenActive = 0;
    RemoveCrashHandlers();
    ::delscreen(gScreen);
    gScreen = nullptr;
    std::setlocale(LC_CTYPE, savedLocale_.c_str());
    started_ = false;
    suspended_ = false;
}

void TerminalScreen::Suspend() {
    if (!started_ || suspended_) return;
    ::def_prog_mode();
    ::endwin();
    suspended_ = true;
}

void TerminalScreen::Resume() {
    if (!started_ || !suspended_) return;
    ::reset_prog_mode();
    suspended_ = false;
    Resize();
    ::clearok(curscr, TRUE);
    refresh();
}

void TerminalScreen::Resize() {
    if (!started_ || suspended_) return;
    struct winsize size {};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 && size.ws_col > 0) {
        ::resizeterm(size.ws_row, size.ws_col);
    }
}

int TerminalScreen::InputDescriptor() const { return STDIN_FILENO; }

int TerminalScreen::Rows() const { return started_ ? LINES : 0; }
int TerminalScreen::Columns() const { return started_ ? COLS : 0; }

void TerminalScreen::Clear() {
    if (started_) erase();
}

void TerminalScreen::Draw(int row, int column, std::string_view text, unsigned look) {
    if (!started_ || row < 0 || row >= LINES) return;
    if (column < 0) {
        text.remove_prefix(std::min(text.size(), static_cast<size_t>(-column)));
        column = 0;
    }
    if (column >= COLS) return;
    text = text.substr(0, static_cast<size_t>(COLS - column));
    // A control character would take two cells and push the rest over the edge.
    std::string shown(text);
    for (char& c : shown) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7f) c = '?';
    }
    attr_t attributes = Attributes(look);
    attron(attributes);
    mvaddnstr(row, column, shown.c_str(), static_cast<int>(shown.size()));
    attroff(attributes);
}

void TerminalScreen::DrawUnicode(int row, int column, std::string_view text, unsigned look) {
    if (!DrawsUnicode() || row < 0 || row >= LINES || column >= COLS) return;
    // Decoded by hand: one character per cell; a control character or a broken sequence
    // shows as "?".
    std::wstring shown;
    int cell = column;
    for (size_t at = 0; at < text.size() && cell < COLS; ++cell) {
        unsigned char first = static_cast<unsigned char>(text[at++]);
        size_t more = first >= 0xF0 ? 3 : first >= 0xE0 ? 2 : first >= 0xC0 ? 1 : 0;
        char32_t code = more == 0 ? first : first & (0x3F >> more);
        bool broken = first >= 0x80 && more == 0;
        for (; more > 0; --more, ++at) {
            if (at >= text.size() || (static_cast<unsigned char>(text[at]) & 0xC0) != 0x80) {
                broken = true;
                break;
            }
            code = (code << 6) | (static_cast<unsigned char>(text[at]) & 0x3F);
        }
        if (broken || code < 0x20 || code == 0x7f) code = '?';
        if (cell >= 0) shown += static_cast<wchar_t>(code);
    }
    attr_t attributes = Attributes(look);
    attron(attributes);
    mvaddnwstr(row, std::max(column, 0), shown.c_str(), static_cast<int>(shown.size()));
    attroff(attributes);
}

void TerminalScreen::Show() {
    if (started_ && !suspended_) refresh();
}

std::optional<InputEvent> TerminalScreen::ReadInput() {
    if (!started_ || suspended_) return std::nullopt;
    NonBlockingInput nonBlocking;
    for (;;) {
        int code = getch();
        if (code == ERR) {
            if (InputHungUp()) return InputEvent{InputEvent::Kind::kClosed};
            return std::nullopt;
        }
        if (auto event = Translate(code)) return event;
    }
}

InputEvent TerminalScreen::WaitInput() {
    if (!started_ || suspended_) return InputEvent{InputEvent::Kind::kClosed};
    ::nodelay(stdscr, FALSE);
    InputEvent event{InputEvent::Kind::kClosed};
    for (;;) {
        int code = getch();
        if (code == ERR) break;
        if (auto translated = Translate(code)) {
            event = *translated;
            break;
        }
    }
    ::nodelay(stdscr, TRUE);
    return event;
}

}  // namespace platform
