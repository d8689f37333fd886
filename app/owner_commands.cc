// The tray menu, the texts of the running state, server addresses and the browser command.
#include "app/owner_commands.h"

#include "platform/clock.h"
#include "platform/ip_address.h"

namespace app {

std::vector<MenuItem> TrayMenu(const MenuState& state) {
    std::vector<MenuItem> menu;
    auto item = [&menu](const char* label, Command command) { menu.push_back({label, command}); };
    auto separator = [&menu] { menu.push_back({}); };
    if (state.secondPortEnabled) {
        state.server1Running ? item("Stop Server 1", Command::kStopServer1)
                             : item("Start Server 1", Command::kStartServer1);
        separator();
        state.server2Running ? item("Stop Server 2", Command::kStopServer2)
                             : item("Start Server 2", Command::kStartServer2);
    } else {
        state.server1Running ? item("Stop Server", Command::kStop)
                             : item("Start Server", Command::kStart);
    }
    separator();
    state.panelVisible ? item("Hide Control Panel", Command::kHide)
                       : item("Show Control Panel", Command::kShowPanel);
    separator();
    item("Server 1 Home...", Command::kHome1);
    if (state.secondPortEnabled) item("Server 2 Home...", Command::kHome2);
    item("Server 1 Admin...", Command::kAdmin1);
    if (state.secondPortEnabled) item("Server 2 Admin...", Command::kAdmin2);
    item("Server Properties...", Command::kConfigure);
    item("Add Or Change Passwords...", Command::kPasswords);
    separator();
    item("Help...", Command::kHelp);
    item("About Vantry...", Command::kAbout);
    item("VNT Home...", Command::kVntHome);
    separator();
    item("Exit", Command::kExit);
    return menu;
}

std::string RunningText(bool running) { return running ? "Vantry Running" : "Vantry Not Running"; }

std::string TrayTooltip(const std::string& hostAddress, bool running) {
    return (hostAddress + "  " + RunningText(running)).substr(0, kMaxTooltip);
}

std::string AddressText(const std::string& hostAddress) { return "IP Address:  " + hostAddress; }

std::string CertificateText(int server, std::time_t expiry) {
    const std::string name = "Server " + std::to_string(server) + " certificate";
    if (expiry == 0) return name + ": waiting";
    return name + " valid until " + platform::FormatUtc(expiry, "%Y-%m-%d");
}

std::string ServerUrl(const std::string& hostAddress, int port, std::string_view path) {
    return "http://" + platform::UrlAuthority(hostAddress, port) + std::string(path);
}

std::vector<std::string> BrowserCommand(const std::optional<std::string>& browserSetting,
                                        const std::string& url) {
    std::vector<std::string> words;
    if (browserSetting) {
        std::string_view rest = *browserSetting;
        while (!rest.empty()) {
            size_t start = rest.find_first_not_of(" \t");
            if (start == std::string_view::npos) break;
            rest.remove_prefix(start);
            size_t end = rest.find_first_of(" \t");
            words.emplace_back(rest.substr(0, end));
            rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
        }
    }
    if (words.empty()) return {"xdg-open", url};
    bool placed = false;
    for (std::string& word : words) {
        // The search goes on after the URL put in, so a "%s" inside the URL stays.
        for (size_t at = word.find("%s"); at != std::string::npos;
             at = word.find("%s", at + url.size())) {
            word.replace(at, 2, url);
            placed = true;
        }
    }
    if (!placed) words.push_back(url);
    return words;
}

}  // namespace app
