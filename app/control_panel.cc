// The terminal control panel: layout, keys, clicks, the tray menu and the modal prompts.
#include "app/control_panel.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "app/qr_text.h"
#include "app/shell.h"
#include "pages/help_pages.h"

namespace app {
namespace {

using platform::TerminalScreen;

struct Button {
    char key;
    const char* label;
    Command command;
};

// The buttons in the order of the panel's rows; each shows its key.
constexpr Button kTopButtons[] = {
    {'H', "Hide", Command::kHide},   {'S', "Start", Command::kStart},
    {'B', "About", Command::kAbout}, {'C', "Configure", Command::kConfigure},
    {'T', "Stop", Command::kStop},   {'X', "Exit", Command::kExit},
};
constexpr Button kMiddleButtons[] = {
    {'2', "Home 2", Command::kHome2},   {'V', "VNT Home", Command::kVntHome},
    {'1', "Home 1", Command::kHome1},   {'A', "Admin 1", Command::kAdmin1},
    {'D', "Admin 2", Command::kAdmin2}, {'P', "Passwords", Command::kPasswords},
};
constexpr Button kHelpButton = {'?', "Help", Command::kPanelHelp};

constexpr const char* kExplanation =
    "You can hide this Control Panel with the Hide button: the line at the bottom stays, and "
    "M or a click on it opens the menu, which brings the panel back.";
// Said instead of opening help that no server is there to answer.
constexpr const char* kHelpNeedsServer =
    "The help pages come from Server 1, which is not running: press S to start it.";

// A server rack and its network, where the window had its picture.
constexpr const char* kPicture[] = {
    " .--------------.     _.-._ ",  " | [==]  o o  * |    / | | \\",
    " |--------------|---|--+--|-|", " | [==]  o o  * |    \\ | | /",
    " '--------------'     '-.-' ",
};

constexpr const char* kMenuHint = "[M] Menu";
constexpr const char* kQrCodeHint = "[Q] QR Code";
constexpr char kQrCodeKey = 'Q';
constexpr const char* kQrCodeBack = "  (any key returns)";
// Columns per module: terminal cells are about twice as high as wide.
constexpr int kQrModuleWidth = 2;
constexpr const char* kAdminIndex = "/admin/index.html";
// The widest the panel grows, and the widest a prompt's text runs.
constexpr int kPanelWidth = 78;
constexpr int kStatusWidth = 40;
constexpr int kPromptTextWidth = 72;
// Rows at the bottom kept for the message line and the tray line.
constexpr int kBottomRows = 2;
constexpr size_t kMessageRows = 3;

std::string ButtonText(char key, const char* label) {
    return std::string("[") + key + "] " + label;
}

int Width(std::string_view text) { return static_cast<int>(text.size()); }

// `count` copies of `c`; none when `count` is not positive.
std::string Repeat(char c, int count) {
    return std::string(static_cast<size_t>(std::max(count, 0)), c);
}

// `text` broken at blanks into lines of at most `width` characters (longer words are cut).
std::vector<std::string> Wrap(std::string_view text, int width) {
    std::vector<std::string> lines;
    size_t limit = static_cast<size_t>(std::max(width, 1));
    std::string line;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find(' ', at);
        if (end == std::string_view::npos) end = text.size();
        std::string_view word = text.substr(at, end - at);
        at = end + 1;
        while (word.size() > limit) {
            if (!line.empty()) lines.push_back(std::move(line));
            lines.emplace_back(word.substr(0, limit));
            word.remove_prefix(limit);
            line.clear();
        }
        if (!line.empty() && line.size() + 1 + word.size() > limit) {
            lines.push_back(std::move(line));
            line.clear();
        }
        if (!line.empty()) line += ' ';
        line += word;
    }
    if (!line.empty() || lines.empty()) lines.push_back(std::move(line));
    return lines;
}

std::string Centred(std::string_view text, int width) {
    int left = std::max(0, (width - Width(text)) / 2);
    std::string line = Repeat(' ', left) + std::string(text);
    return line + Repeat(' ', width - Width(line));
}

bool IsKey(int key, char letter) {
    return key < 256 && std::toupper(key) == static_cast<unsigned char>(letter);
}

struct PromptPlace {
    int row = 0;
    int column = 0;
    int width = 0;
    bool yes = true;
};

// Draws a prompt box in the middle of the screen; returns where its buttons are.
std::vector<PromptPlace> DrawPromptBox(TerminalScreen& screen, const std::string& text,
                                       const std::string& caption, bool question) {
    int rows = screen.Rows();
    int columns = screen.Columns();
    int textWidth = std::min(kPromptTextWidth, std::max(columns - 4, 1));
    std::vector<std::string> lines = Wrap(text, textWidth);
    const std::string yes = question ? "[Y] Yes" : "[ OK ]";
    const std::string no = "[N] No";
    int buttonsWidth = question ? Width(yes) + 3 + Width(no) : Width(yes);
    int inner = std::max(buttonsWidth, Width(caption) + 4);
    for (const std::string& line : lines) inner = std::max(inner, Width(line));
    int width = inner + 4;
    int height = static_cast<int>(lines.size()) + 4;
    int topRow = std::max(0, (rows - height) / 2);
    int left = std::max(0, (columns - width) / 2);

    auto line = [](char edge, char fill, int size) { return edge + Repeat(fill, size - 2) + edge; };
    std::string top = "+- " + caption + " " + Repeat('-', width - Width(caption) - 5) + "+";
    screen.Draw(topRow, left, top, platform::kLookBold);
    int row = topRow + 1;
    for (const std::string& shown : lines) {
        screen.Draw(row, left, line('|', ' ', width));
        screen.Draw(row++, left + 2, shown);
    }
    screen.Draw(row++, left, line('|', ' ', width));
    screen.Draw(row, left, line('|', ' ', width));
    int buttonsLeft = left + (width - buttonsWidth) / 2;
    std::vector<PromptPlace> places;
    screen.Draw(row, buttonsLeft, yes, platform::kLookReverse);
    places.push_back({row, buttonsLeft, Width(yes), true});
    if (question) {
        int noLeft = buttonsLeft + Width(yes) + 3;
        screen.Draw(row, noLeft, no, platform::kLookReverse);
        places.push_back({row, noLeft, Width(no), false});
    }
    screen.Draw(++row, left, line('+', '-', width), platform::kLookBold);
    return places;
}

}  // namespace

ControlPanel::ControlPanel(Shell& shell) : shell_(shell), written_(shell.hostAddress()) {}

ControlPanel::~ControlPanel() { Close(); }

bool ControlPanel::Open() {
    if (open_ || !screen_.Start()) return false;
    open_ = true;
    shell_.SetView(*this);
    shell_.loop().Watch(screen_.InputDescriptor(), [this] { ReadTerminal(); });
    watching_ = true;
    Redraw();
    return true;
}

void ControlPanel::Close() {
    if (!open_) return;
    if (watching_) shell_.loop().Unwatch(screen_.InputDescriptor());
    watching_ = false;
    screen_.Stop();
    open_ = false;
    prompts_.clear();
    menu_.clear();
}

void ControlPanel::ShowStatusMessage(const std::string& text) {
    if (!open_) return written_.ShowStatusMessage(text);
    message_ = text;
    Redraw();
}

void ControlPanel::OnServerStateChanged(int server, bool running, int port) {
    if (!open_) return written_.OnServerStateChanged(server, running, port);
    // Only Server 1 is shown; Server 2's state shows in the menu, built when it opens.
    if (server != 1) return;
    server1Running_ = running;
    tooltip_ = TrayTooltip(shell_.hostAddress(), running);
    Redraw();
}

void ControlPanel::Tell(const std::string& text, const std::string& caption) {
    if (!open_) return written_.Tell(text, caption);
    prompts_.push_back({text, caption, false, {}});
    Redraw();
}

void ControlPanel::Ask(const std::string& text, const std::string& caption,
                       std::function<void()> onYes) {
    if (!open_) return written_.Ask(text, caption, std::move(onYes));
    prompts_.push_back({text, caption, true, std::move(onYes)});
    Redraw();
}

bool ControlPanel::OnInterrupt() {
    if (!open_) return false;
    // While the password manager has the terminal, Control-C is meant for it alone.
    if (!lent_) {
        AskToExit();
        Redraw();
    }
    return true;
}

void ControlPanel::OnResize() {
    if (!open_ || lent_) return;
    screen_.Resize();
    Redraw();
}

void ControlPanel::ReadTerminal() {
    // Keys typed after a confirmed Exit are not commands any more.
    while (open_ && !lent_ && !exiting_) {
        std::optional<platform::InputEvent> event = screen_.ReadInput();
        if (!event) return;
        switch (event->kind) {
            case platform::InputEvent::Kind::kClosed:
                // The terminal is gone, as when it hangs up: a confirmed Exit.
                shell_.loop().Unwatch(screen_.InputDescriptor());
                watching_ = false;
                exiting_ = true;
                shell_.Exit();
                return;
            case platform::InputEvent::Kind::kKey:
                OnKey(event->key);
                break;
            case platform::InputEvent::Kind::kClick:
                OnClick(event->row, event->column);
                break;
        }
    }
}

void ControlPanel::OnKey(int key) {
    message_.clear();
    if (!prompts_.empty()) {
        bool question = prompts_.front().question;
        bool ok = !question && (key == ' ' || IsKey(key, 'O'));
        if (key == platform::kKeyEnter || IsKey(key, 'Y') || ok) {
            AnswerPrompt(true);
        } else if (key == platform::kKeyEscape || IsKey(key, 'N')) {
            AnswerPrompt(false);
        }
    } else if (!menu_.empty()) {
        OnMenuKey(key);
    } else if (key == platform::kKeyInterrupt) {
        AskToExit();
    } else if (qrCodeShown_) {
        qrCodeShown_ = false;
    } else if (IsKey(key, 'M') || key == platform::kKeyF10) {
        OpenMenu();
    } else if (visible_ && IsKey(key, kQrCodeKey)) {
        qrCodeShown_ = true;
    } else if (visible_) {
        Command command = Command::kNone;
        if (key == platform::kKeyF1) command = kHelpButton.command;
        for (const Button& button : kTopButtons) {
            if (IsKey(key, button.key)) command = button.command;
        }
        for (const Button& button : kMiddleButtons) {
            if (IsKey(key, button.key)) command = button.command;
        }
        if (IsKey(key, kHelpButton.key)) command = kHelpButton.command;
        if (command != Command::kNone && Enabled(command)) Execute(command);
    }
    Redraw();
}

void ControlPanel::OnClick(int row, int column) {
    message_.clear();
    const Hit* hit = nullptr;
    // Later drawings lie on top of earlier ones.
    for (auto it = hits_.rbegin(); it != hits_.rend(); ++it) {
        if (it->row == row && column >= it->column && column < it->column + it->width) {
            hit = &*it;
            break;
        }
    }
    Hit chosen = hit != nullptr ? *hit : Hit{};
    if (!prompts_.empty()) {
        if (hit != nullptr && (chosen.kind == Hit::Kind::kYes || chosen.kind == Hit::Kind::kNo)) {
            AnswerPrompt(chosen.kind == Hit::Kind::kYes);
        }
    } else if (!menu_.empty()) {
        Command command = Command::kNone;
        if (hit != nullptr && chosen.kind == Hit::Kind::kMenuItem) {
            command = menu_[chosen.index].command;
        }
        menu_.clear();
        if (command != Command::kNone) Execute(command);
    } else if (qrCodeShown_) {
        qrCodeShown_ = false;
    } else if (hit != nullptr) {
        if (chosen.kind == Hit::Kind::kTray) {
            OpenMenu();
        } else if (chosen.kind == Hit::Kind::kCommand && Enabled(chosen.command)) {
            Execute(chosen.command);
        }
    }
    Redraw();
}

void ControlPanel::AnswerPrompt(bool yes) {
    Prompt prompt = std::move(prompts_.front());
    prompts_.pop_front();
    if (yes && prompt.onYes) prompt.onYes();
}

void ControlPanel::OnMenuKey(int key) {
    if (key == platform::kKeyUp) {
        MoveMenuSelection(-1);
    } else if (key == platform::kKeyDown || key == platform::kKeyTab) {
        MoveMenuSelection(1);
    } else if (key == platform::kKeyEnter) {
        Command command = menu_[menuSelection_].command;
        menu_.clear();
        Execute(command);
    } else if (key == platform::kKeyEscape || key == platform::kKeyF10 || IsKey(key, 'M')) {
        menu_.clear();
    } else if (key == platform::kKeyInterrupt) {
        menu_.clear();
        AskToExit();
    }
}

void ControlPanel::OpenMenu() {
    MenuState state;
    state.secondPortEnabled = shell_.SecondPortEnabled();
    state.server1Running = shell_.IsRunning(1);
    state.server2Running = shell_.IsRunning(2);
    state.panelVisible = visible_;
    menu_ = TrayMenu(state);
    menuSelection_ = 0;
}

void ControlPanel::MoveMenuSelection(int step) {
    size_t count = menu_.size();
    do {
        menuSelection_ = (menuSelection_ + count + static_cast<size_t>(step)) % count;
    } while (menu_[menuSelection_].separator());
}

bool ControlPanel::Enabled(Command command) const {
    if (command == Command::kStart) return !server1Running_;
    if (command == Command::kStop) return server1Running_;
    return true;
}

void ControlPanel::Execute(Command command) {
    switch (command) {
        case Command::kNone:
            break;
        case Command::kHide:
            visible_ = false;
            break;
        case Command::kShowPanel:
            visible_ = true;
            break;
        case Command::kStart:
            shell_.StartServers();
            break;
        case Command::kStop:
            shell_.StopServers();
            break;
        case Command::kStartServer1:
            shell_.StartServer(1);
            break;
        case Command::kStopServer1:
            shell_.StopServer(1);
            break;
        case Command::kStartServer2:
            shell_.StartServer(2);
            break;
        case Command::kStopServer2:
            shell_.StopServer(2);
            break;
        case Command::kHome1:
            shell_.OpenInBrowser(shell_.ServerAddress(1, ""));
            break;
        case Command::kHome2:
            shell_.OpenInBrowser(shell_.ServerAddress(2, ""));
            break;
        case Command::kAdmin1:
            shell_.OpenInBrowser(shell_.ServerAddress(1, kAdminIndex));
            break;
        case Command::kAdmin2:
            shell_.OpenInBrowser(shell_.ServerAddress(2, kAdminIndex));
            break;
        case Command::kConfigure:
            OpenServerPage("/admin/serverproperties.html");
            break;
        case Command::kAbout:
            OpenServerPage("/admin/about.html");
            break;
        case Command::kPasswords:
            RunPasswordManager();
            break;
        case Command::kHelp:
            OpenHelp("Menu");
            break;
        case Command::kPanelHelp:
            OpenHelp("ControlPanel");
            break;
        case Command::kVntHome:
            shell_.OpenInBrowser(kVntHomePage);
            break;
        case Command::kExit:
            AskToExit();
            break;
    }
}

void ControlPanel::OpenServerPage(const char* path) {
    // The page of the first server that runs; none when neither does.
    for (int number : {1, 2}) {
        if (shell_.IsRunning(number)) {
            return shell_.OpenInBrowser(shell_.ServerAddress(number, path));
        }
    }
}

void ControlPanel::OpenHelp(std::string_view topic) {
    if (!shell_.IsRunning(1)) {
        ShowStatusMessage(kHelpNeedsServer);
        return;
    }
    shell_.OpenInBrowser(shell_.ServerAddress(1, pages::LocalHelpAddress(topic)));
}

void ControlPanel::RunPasswordManager() {
    // The program gets the terminal as the owner's shell left it; keys are its alone until it
    // ends, and the servers go on serving meanwhile.
    screen_.Suspend();
    shell_.loop().Unwatch(screen_.InputDescriptor());
    watching_ = false;
    lent_ = true;
    auto takeBack = [this] {
        lent_ = false;
        if (!open_) return;
        screen_.Resume();
        shell_.loop().Watch(screen_.InputDescriptor(), [this] { ReadTerminal(); });
        watching_ = true;
        Redraw();
    };
    bool missing = false;
    if (!shell_.StartPasswordManager(takeBack, &missing)) {
        takeBack();
        if (missing) Tell(kNoPasswordManagerMessage, kNoPasswordManagerCaption);
    }
}

void ControlPanel::AskToExit() {
    for (const Prompt& prompt : prompts_) {
        if (prompt.text == kExitQuestion) return;  // asked already
    }
    Ask(kExitQuestion, kProductName, [this] {
        exiting_ = true;
        shell_.Exit();
    });
}

void ControlPanel::Redraw() {
    if (!open_ || lent_) return;
    screen_.Clear();
    hits_.clear();
    int rows = screen_.Rows();
    int columns = screen_.Columns();
    if (visible_ && qrCodeShown_) {
        DrawQrCode(rows, columns);
    } else if (visible_) {
        DrawPanel(rows, columns);
    }
    if (!message_.empty()) {
        std::vector<std::string> lines = Wrap(message_, columns);
        size_t shown = std::min(lines.size(), kMessageRows);
        int row = rows - 1 - static_cast<int>(shown);
        for (size_t i = 0; i < shown; ++i) {
            std::string line = lines[i] + Repeat(' ', columns - Width(lines[i]));
            screen_.Draw(row++, 0, line, platform::kLookBold);
        }
    }
    DrawTray(rows, columns);
    if (!menu_.empty()) DrawMenu(rows, columns);
    if (!prompts_.empty()) DrawPrompt(rows, columns);
    screen_.Show();
}

void ControlPanel::DrawPanel(int rows, int columns) {
    int width = std::min(columns, kPanelWidth);
    int left = (columns - width) / 2;
    int last = rows - kBottomRows;  // the panel stops above the message and tray lines
    auto put = [&](int row, int column, std::string_view text, unsigned look) {
        if (row < last) screen_.Draw(row, column, text, look);
    };

    put(0, 0, Centred(kPanelTitle, columns), platform::kLookReverse | platform::kLookBold);

    // Buttons flow left to right and wrap onto the next row when the width runs out.
    int row = 2;
    auto buttons = [&](const auto& group) {
        int column = left + 1;
        for (const Button& button : group) {
            int buttonWidth = Width(ButtonText(button.key, button.label));
            if (column > left + 1 && column + buttonWidth > left + width) {
                ++row;
                column = left + 1;
            }
            if (row < last) DrawButton(row, column, button.key, button.label, button.command);
            column += buttonWidth + 2;
        }
        row += 2;
    };
    buttons(kTopButtons);

    for (const std::string& line : Wrap(kExplanation, std::max(width - 2, 1))) {
        put(row++, left + 1, line, 0);
    }
    ++row;

    int statusWidth = std::min(width, kStatusWidth);
    int statusLeft = left + (width - statusWidth) / 2;
    auto status = [&](const std::string& text) {
        put(row, statusLeft, "[" + Centred(text, statusWidth - 2) + "]", platform::kLookBold);
        row += 2;
    };
    status(RunningText(server1Running_));
    // Under the state, the certificate of each server that obtains its own, on the row left
    // free under the state and rows of their own. The keeper announces a new certificate on
    // the message line, which draws the panel afresh.
    for (int number : {1, 2}) {
        if (number == 2 && !shell_.SecondPortEnabled()) break;
        if (!shell_.ObtainsCertificate(number)) continue;
        put(row - 1, left,
            Centred(CertificateText(number, shell_.CertificateExpiry(number)), width), 0);
        ++row;
    }
    buttons(kMiddleButtons);
    status(AddressText(shell_.hostAddress()));

    for (const char* line : kPicture) put(row++, left + 1, line, platform::kLookDim);
    std::string help = ButtonText(kHelpButton.key, kHelpButton.label);
    if (row - 1 < last) {
        DrawButton(row - 1, left + width - 1 - Width(help), kHelpButton.key, kHelpButton.label,
                   kHelpButton.command);
    }
}

void ControlPanel::DrawQrCode(int rows, int columns) {
    std::string url = shell_.ServerAddress(1, "/");
    std::optional<platform::QrCode> code = platform::EncodeQrCode(url);
    std::vector<std::vector<bool>> light;
    if (code) light = QrLightModules(*code);
    int side = static_cast<int>(light.size());
    // On a UTF-8 terminal half blocks put two modules in a cell, one above the other; on
    // any other a module is two reversed blanks side by side, as high as a cell is.
    bool halfBlocks = screen_.DrawsUnicode();
    int symbolRows = halfBlocks ? (side + 1) / 2 : side;
    int width = halfBlocks ? side : side * kQrModuleWidth;
    int last = rows - kBottomRows;
    // The symbol with the address and the way back under it.
    int height = symbolRows + 1;
    if (side == 0 || height > last || width > columns) {
        // Without a code (an address too long for one) only the address is shown.
        std::string need = side == 0 ? std::string()
                                     : "The QR code needs a terminal of " + std::to_string(width) +
                                           " columns and " + std::to_string(height + kBottomRows) +
                                           " rows.";
        int row = std::max(0, last / 2 - 2);
        for (const std::string& line : {need, url + kQrCodeBack}) {
            if (row < last) screen_.Draw(row, 0, Centred(line, columns));
            row += 2;
        }
        return;
    }
    int top = (last - height) / 2;
    int left = (columns - width) / 2;
    if (halfBlocks) {
        std::vector<std::string> lines = QrHalfBlockLines(*code);
        for (size_t i = 0; i < lines.size(); ++i) {
            screen_.DrawUnicode(top + static_cast<int>(i), left, lines[i]);
        }
    } else {
        // A light module is drawn in the text colour, as the half blocks are.
        for (int row = 0; row < side; ++row) {
            const std::vector<bool>& modules = light[static_cast<size_t>(row)];
            for (int column = 0; column < side;) {
                bool isLight = modules[static_cast<size_t>(column)];
                int end = column;
                while (end < side && modules[static_cast<size_t>(end)] == isLight) ++end;
                if (isLight) {
                    screen_.Draw(top + row, left + column * kQrModuleWidth,
                                 Repeat(' ', (end - column) * kQrModuleWidth),
                                 platform::kLookReverse);
                }
                column = end;
            }
        }
    }
    screen_.Draw(top + symbolRows, 0, Centred(url + kQrCodeBack, columns), platform::kLookBold);
}

void ControlPanel::DrawButton(int row, int column, char key, const char* label, Command command) {
    std::string text = ButtonText(key, label);
    if (!Enabled(command)) {
        screen_.Draw(row, column, text, platform::kLookDim);
    } else {
        screen_.Draw(row, column, text, platform::kLookReverse);
        unsigned keyLook = platform::kLookReverse | platform::kLookBold | platform::kLookUnderline;
        screen_.Draw(row, column + 1, std::string(1, key), keyLook);
    }
    hits_.push_back({row, column, Width(text), Hit::Kind::kCommand, command});
}

void ControlPanel::DrawTray(int rows, int columns) {
    int row = rows - 1;
    bool running = server1Running_ && tooltip_ != kCheckingNetwork;
    screen_.Draw(row, 0, Repeat(' ', columns), platform::kLookReverse);
    unsigned colour = running ? platform::kLookGreen : platform::kLookRed;
    screen_.Draw(row, 1, "(V)", platform::kLookReverse | platform::kLookBold | colour);
    screen_.Draw(row, 5, tooltip_, platform::kLookReverse);
    int hintColumn = columns - 1 - Width(kMenuHint);
    if (hintColumn > 5 + Width(tooltip_)) {
        screen_.Draw(row, hintColumn, kMenuHint, platform::kLookReverse);
    }
    int qrHintColumn = hintColumn - 2 - Width(kQrCodeHint);
    if (visible_ && qrHintColumn > 5 + Width(tooltip_)) {
        screen_.Draw(row, qrHintColumn, kQrCodeHint, platform::kLookReverse);
    }
    hits_.push_back({row, 0, columns, Hit::Kind::kTray});
}

void ControlPanel::DrawMenu(int rows, int) {
    int inner = 0;
    for (const MenuItem& item : menu_) inner = std::max(inner, Width(item.label));
    int width = inner + 4;
    int height = static_cast<int>(menu_.size()) + 2;
    int top = std::max(0, rows - 1 - height);
    std::string edge = "+" + Repeat('-', width - 2) + "+";
    screen_.Draw(top, 0, edge);
    int row = top + 1;
    for (size_t i = 0; i < menu_.size(); ++i, ++row) {
        const MenuItem& item = menu_[i];
        if (item.separator()) {
            screen_.Draw(row, 0, "|" + Repeat('-', width - 2) + "|");
            continue;
        }
        std::string text = " " + item.label + Repeat(' ', inner - Width(item.label) + 1);
        screen_.Draw(row, 0, "|");
        unsigned look = i == menuSelection_ ? platform::kLookReverse : platform::kLookNormal;
        screen_.Draw(row, 1, text, look);
        screen_.Draw(row, width - 1, "|");
        hits_.push_back({row, 1, width - 2, Hit::Kind::kMenuItem, Command::kNone, i});
    }
    screen_.Draw(row, 0, edge);
}

void ControlPanel::DrawPrompt(int, int) {
    const Prompt& prompt = prompts_.front();
    auto places = DrawPromptBox(screen_, prompt.text, prompt.caption, prompt.question);
    for (const PromptPlace& place : places) {
        Hit::Kind kind = place.yes ? Hit::Kind::kYes : Hit::Kind::kNo;
        hits_.push_back({place.row, place.column, place.width, kind});
    }
}

bool TellInTerminal(const std::string& text, const std::string& caption) {
    TerminalScreen screen;
    if (!screen.Start()) return false;
    for (;;) {
        screen.Clear();
        std::vector<PromptPlace> places = DrawPromptBox(screen, text, caption, false);
        screen.Show();
        platform::InputEvent event = screen.WaitInput();
        if (event.kind == platform::InputEvent::Kind::kClosed) break;
        if (event.kind == platform::InputEvent::Kind::kKey &&
            (event.key == platform::kKeyEnter || event.key == platform::kKeyEscape ||
             event.key == ' ' || event.key == platform::kKeyInterrupt || IsKey(event.key, 'O'))) {
            break;
        }
        if (event.kind == platform::InputEvent::Kind::kClick && event.row == places[0].row &&
            event.column >= places[0].column && event.column < places[0].column + places[0].width) {
            break;
        }
    }
    return true;
}

}  // namespace app
