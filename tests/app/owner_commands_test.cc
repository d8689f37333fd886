// The owner's commands: the browser's command line, server addresses, the tooltip and the
// tray menu's changing first items.
#include "app/owner_commands.h"

#include <gtest/gtest.h>

namespace app {
namespace {

using Words = std::vector<std::string>;

TEST(OwnerCommandsTest, BrowserCommandTakesTheUrlWhereTheSettingSays) {
    const std::string url = "http://10.0.0.5:8080/admin/index.html";
    struct Case {
        std::optional<std::string> setting;
        Words expected;
    } cases[] = {
        {std::nullopt, {"xdg-open", url}},
        {"", {"xdg-open", url}},
        {"  \t ", {"xdg-open", url}},
        {"firefox", {"firefox", url}},
        {" lynx  -accept_all_cookies ", {"lynx", "-accept_all_cookies", url}},
        {"browse --url=%s --new", {"browse", "--url=" + url, "--new"}},
        {"two %s %s", {"two", url, url}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(BrowserCommand(c.setting, url), c.expected) << c.setting.value_or("(unset)");
    }
    // A URL that itself holds "%s" is not replaced again.
    EXPECT_EQ(BrowserCommand("b %s", "http://h/%s"), (Words{"b", "http://h/%s"}));
}

TEST(OwnerCommandsTest, AddressesAndTooltip) {
    EXPECT_EQ(ServerUrl("10.0.0.5", 80, ""), "http://10.0.0.5");
    EXPECT_EQ(ServerUrl("10.0.0.5", 9601, "/admin/about.html"),
              "http://10.0.0.5:9601/admin/about.html");
    EXPECT_EQ(ServerUrl("2001:db8::5", 80, "/"), "http://[2001:db8::5]/");
    EXPECT_EQ(TrayTooltip("::1", true), "::1  Vantry Running");
    EXPECT_EQ(TrayTooltip("10.0.0.5", false), "10.0.0.5  Vantry Not Running");
    EXPECT_EQ(AddressText("10.0.0.5"), "IP Address:  10.0.0.5");
    std::string tooltip = TrayTooltip(std::string(50, 'a'), true);
    EXPECT_EQ(tooltip.size(), kMaxTooltip);
    EXPECT_EQ(tooltip, std::string(50, 'a') + "  Vantry Runn");
    // The day a certificate expires is the day in UTC, as the certificate states it.
    EXPECT_EQ(CertificateText(2, 1804462200), "Server 2 certificate valid until 2027-03-07");
    EXPECT_EQ(CertificateText(1, 0), "Server 1 certificate: waiting");
}

TEST(OwnerCommandsTest, MenuFollowsTheServersAndThePanel) {
    auto labels = [](const MenuState& state) {
        Words first;
        for (const MenuItem& item : TrayMenu(state)) {
            first.push_back(item.separator() ? "-" : item.label);
            if (first.size() == 5) break;
        }
        return first;
    };
    EXPECT_EQ(labels({false, false, false, false}),
              (Words{"Start Server", "-", "Show Control Panel", "-", "Server 1 Home..."}));
    EXPECT_EQ(labels({true, false, true, true}),
              (Words{"Start Server 1", "-", "Stop Server 2", "-", "Hide Control Panel"}));
    std::vector<MenuItem> menu = TrayMenu({true, true, false, true});
    EXPECT_EQ(menu[0].command, Command::kStopServer1);
    EXPECT_EQ(menu[2].command, Command::kStartServer2);
    EXPECT_EQ(menu.back().command, Command::kExit);
}

}  // namespace
}  // namespace app
