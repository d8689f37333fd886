// The control panel drawn in the terminal: its buttons and keys, the tray line with its
// menu, the message line and the modal prompts. A thin client of the shell's controls.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/owner_commands.h"
#include "app/owner_view.h"
#include "platform/terminal_screen.h"

namespace app {

class Shell;

class ControlPanel : public OwnerView {
  public:
    explicit ControlPanel(Shell& shell);
    ~ControlPanel() override;
    ControlPanel(const ControlPanel&) = delete;
    ControlPanel& operator=(const ControlPanel&) = delete;

    // Takes over the terminal and becomes the shell's view. False (and nothing changed) when
    // the terminal cannot be driven.
    bool Open();

    void ShowStatusMessage(const std::string& text) override;
    void OnServerStateChanged(int server, bool running, int port) override;
    void Tell(const std::string& text, const std::string& caption) override;
    void Ask(const std::string& text, const std::string& caption,
             std::function<void()> onYes) override;
    bool OnInterrupt() override;
    void OnResize() override;
    void Close() override;

  private:
    // A modal prompt: a message with OK, or a question with Yes and No.
    struct Prompt {
        std::string text;
        std::string caption;
        bool question = false;
        std::function<void()> onYes;
    };
    // What a click on a place does.
    struct Hit {
        int row = 0;
        int column = 0;
        int width = 0;
        enum class Kind { kCommand, kTray, kMenuItem, kYes, kNo } kind = Kind::kCommand;
        Command command = Command::kNone;
        size_t index = 0;  // kMenuItem
    };

    void ReadTerminal();
    void OnKey(int key);
    void OnClick(int row, int column);
    void AnswerPrompt(bool yes);
    void OnMenuKey(int key);
    void OpenMenu();
    void MoveMenuSelection(int step);  // 1 or -1, over the separators, round the ends
    void Execute(Command command);
    bool Enabled(Command command) const;
    // Configure and About: the page on the first server that runs; nothing when none does.
    void OpenServerPage(const char* path);
    // Opens the help page of `topic` from Server 1, which serves it; says so when it is down.
    void OpenHelp(std::string_view topic);
    void RunPasswordManager();
    void AskToExit();

    void Redraw();
    void DrawPanel(int rows, int columns);
    void DrawButton(int row, int column, char key, const char* label, Command command);
    void DrawTray(int rows, int columns);
    void DrawMenu(int rows, int columns);
    void DrawPrompt(int rows, int columns);
    // Server 1's home page as a QR code with its address under it, in place of the panel.
    void DrawQrCode(int rows, int columns);

    Shell& shell_;
    platform::TerminalScreen screen_;
    HeadlessView written_;  // before Open and after Close
    bool open_ = false;
    bool watching_ = false;
    bool lent_ = false;  // the password manager has the terminal
    bool exiting_ = false;

    bool visible_ = true;       // panelVisible
    bool qrCodeShown_ = false;  // until the next key or click
    bool server1Running_ = false;
    std::string tooltip_ = kCheckingNetwork;
    std::string message_;
    std::deque<Prompt> prompts_;
    std::vector<MenuItem> menu_;  // open while not empty
    size_t menuSelection_ = 0;
    std::vector<Hit> hits_;  // the clickable places of the last drawing
};

// Shows one message box in the terminal and waits until the owner closes it, before any
// panel exists. False when the terminal cannot be driven.
bool TellInTerminal(const std::string& text, const std::string& caption);

}  // namespace app
