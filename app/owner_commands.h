// The owner's commands as the control panel and the tray menu offer them: their numbers and
// labels, the tray menu's items, the addresses they open and the browser's command line.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/version.h"

namespace app {

enum class Command {
    kNone = 0,  // a separator
    kHide = 1,
    kExit = 2,
    kConfigure = 1001,
    kStart = 1002,
    kStop = 1003,
    kShowPanel = 1012,
    kStartServer1 = 1015,
    kStopServer1 = 1016,
    kStartServer2 = 1017,
    kStopServer2 = 1018,
    kPasswords = 1019,
    kHome2 = 1021,
    kVntHome = 1022,
    kAdmin1 = 1023,
    kAdmin2 = 1024,
    kHelp = 1025,
    kHome1 = 1026,
    kAbout = 1027,
    kPanelHelp = 1038,
};

inline constexpr const char* kProductName = VANTRY_PRODUCT_TEXT;
inline constexpr const char* kPanelTitle = VANTRY_PRODUCT_TEXT " Control Panel";
// The product's home page, on the help site's domain.
inline constexpr const char* kVntHomePage = "http://www.vantry.example/";
inline constexpr const char* kExitQuestion =
    "Are you sure you want to quit Vantry and stop the server?";
inline constexpr const char* kNoBrowserMessage = "Error: Can't locate a browser.";
inline constexpr const char* kNoBrowserCaption = "Vantry";
inline constexpr const char* kNoPasswordManagerMessage =
    "The Program vantry-passwd Was Not Found In The Same Location As vantry";
inline constexpr const char* kNoPasswordManagerCaption = "Sorry";
// Before the servers report anything, the tray says this.
inline constexpr const char* kCheckingNetwork = "Checking Network";
// The longest tooltip the tray shows.
inline constexpr size_t kMaxTooltip = 63;

struct MenuItem {
    std::string label;  // empty for a separator
    Command command = Command::kNone;
    bool separator() const { return command == Command::kNone; }
};

struct MenuState {
    bool secondPortEnabled = false;
    bool server1Running = false;
    bool server2Running = false;
    bool panelVisible = true;
};

// The tray menu's items in order, separators included, for the state it is opened in.
std::vector<MenuItem> TrayMenu(const MenuState& state);

// "Vantry Running" or "Vantry Not Running".
std::string RunningText(bool running);
// The tray's tooltip: the host address, two spaces and the running text, cut to kMaxTooltip.
std::string TrayTooltip(const std::string& hostAddress, bool running);
// "IP Address:  " and the host address.
std::string AddressText(const std::string& hostAddress);
// The state of the certificate a server obtains by itself: "Server 1 certificate valid until
// 2027-03-07" (the day it expires, in UTC), or "Server 1 certificate: waiting" while it has
// none (`expiry` 0).
std::string CertificateText(int server, std::time_t expiry);

// A server's page: "http://host" and `path`, with ":port" after the host unless the port
// is 80.
std::string ServerUrl(const std::string& hostAddress, int port, std::string_view path);

// The program and arguments that open `url`: the words of `browserSetting` ($BROWSER) with
// "%s" replaced by the URL, or followed by it when no word holds "%s"; "xdg-open" when the
// setting is missing or blank.
std::vector<std::string> BrowserCommand(const std::optional<std::string>& browserSetting,
                                        const std::string& url);

}  // namespace app
