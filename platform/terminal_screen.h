// The terminal as a full screen: text drawn at a place with a look, keys and mouse clicks
// read back, and the terminal put back as it was on every way out, a crash included.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// How drawn text looks; combine with |.
enum TextLook : unsigned {
    kLookNormal = 0,
    kLookBold = 1,
    kLookDim = 2,
    kLookReverse = 4,
    kLookUnderline = 8,
    kLookGreen = 16,  // the colour, on terminals that have colours
    kLookRed = 32,
};

// Keys that are not characters; characters arrive as their own code.
enum Key : int {
    kKeyUp = 0x110000,
    kKeyDown,
    kKeyLeft,
    kKeyRight,
    kKeyEnter,
    kKeyEscape,
    kKeyTab,
    kKeyF1,
    kKeyF10,
    kKeyOther,  // any other function key
};
// Control-C, which arrives as a key: the screen reads raw keys.
inline constexpr int kKeyInterrupt = 3;

struct InputEvent {
    enum class Kind { kKey, kClick, kClosed };
    Kind kind = Kind::kKey;
    int key = 0;  // kKey: a character or a Key
    int row = 0;  // kClick: the cell clicked with the first button
    int column = 0;
};

// One screen per process: curses keeps its state globally.
class TerminalScreen {
  public:
    TerminalScreen() = default;
    ~TerminalScreen();  // Stop
    TerminalScreen(const TerminalScreen&) = delete;
    TerminalScreen& operator=(const TerminalScreen&) = delete;

    // Takes over the terminal on standard input and output: the alternate screen, raw keys
    // without echo, no cursor, mouse clicks. Also installs the handlers that put the terminal
    // back when the program crashes. False when the terminal cannot be driven.
    bool Start();
    // Gives the terminal back as it was. Nothing when not started.
    void Stop();
    bool started() const { return started_; }
    // The descriptor keys arrive on, to wait for them with other descriptors.
    int InputDescriptor() const;

    // Lends the terminal to another program (it is back in its normal state) and takes it
    // back afterwards, at the size it has then.
    void Suspend();
    void Resume();

    // The size changed: take the terminal's new size.
    void Resize();
    int Rows() const;
    int Columns() const;

    // Drawing goes to a hidden copy; Show puts it on the terminal.
    void Clear();
    // Draws `text` (single-byte characters) from `row`, `column`; what falls outside the
    // screen is cut off.
    void Draw(int row, int column, std::string_view text, unsigned look = kLookNormal);
    // True when the terminal's character set (its locale's) is UTF-8, so that DrawUnicode
    // draws.
    bool DrawsUnicode() const { return started_ && unicode_; }
    // Draws `text`, UTF-8 of characters one cell wide each (as the block elements), like
    // Draw; nothing unless DrawsUnicode().
    void DrawUnicode(int row, int column, std::string_view text, unsigned look = kLookNormal);
    void Show();

    // The next key or click waiting; std::nullopt when none is. When the terminal is gone
    // (end of input), an event of kind kClosed.
    std::optional<InputEvent> ReadInput();
    // Waits for the next key or click.
    InputEvent WaitInput();

  private:
    bool started_ = false;
    bool suspended_ = false;
    bool unicode_ = false;
    std::string savedLocale_;  // the character set before Start, put back by Stop
};

}  // namespace platform
