// The headless view: standard error, one line each.
#include "app/owner_view.h"

#include <cstdio>

#include "app/owner_commands.h"
#include "app/qr_text.h"

namespace app {

void HeadlessView::ShowStatusMessage(const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
}

void HeadlessView::OnServerStateChanged(int server, bool running, int port) {
    bool& shown = shown_[server == 1 ? 0 : 1];
    if (shown == running) return;
    shown = running;
    std::fprintf(stderr, "%s  Vantry %s (Server %d, port %d)\n", hostAddress_.c_str(),
                 running ? "Running" : "Not Running", server, port);
    if (running && server == 1 && showQrCode_) {
        showQrCode_ = false;  // once: a restart of the server does not repeat it
        std::fputs(QrCodeText(ServerUrl(hostAddress_, port, "/")).c_str(), stderr);
    }
    std::fflush(stderr);
}

void HeadlessView::Tell(const std::string& text, const std::string&) { ShowStatusMessage(text); }

void HeadlessView::Ask(const std::string& text, const std::string&, std::function<void()> onYes) {
    ShowStatusMessage(text);
    if (onYes) onYes();
}

}  // namespace app
