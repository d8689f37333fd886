// How the shell shows the servers' state and its messages to the owner and asks them
// questions: the one interface between the shell and whatever the owner looks at.
#pragma once

#include <functional>
#include <string>

namespace app {

class OwnerView {
  public:
    virtual ~OwnerView() = default;

    // A start-up failure or another notice (the status window).
    virtual void ShowStatusMessage(const std::string& text) = 0;
    // Every report of a server's state (1 or 2), whether it changed or not.
    virtual void OnServerStateChanged(int server, bool running, int port) = 0;
    // A message box with `caption`.
    virtual void Tell(const std::string& text, const std::string& caption) = 0;
    // A question with Yes and No; `onYes` runs (later, perhaps) when the answer is Yes.
    virtual void Ask(const std::string& text, const std::string& caption,
                     std::function<void()> onYes) = 0;

    // SIGINT: true when the view asks the owner whether to quit; false makes it a confirmed
    // Exit.
    virtual bool OnInterrupt() { return false; }
    // The terminal changed its size.
    virtual void OnResize() {}
    // The shell is shutting down: from now on nothing is drawn, only written.
    virtual void Close() {}
};

// Nothing drawn: one line on standard error for each message and each real change of a
// server's state; a question takes its default answer, Yes.
class HeadlessView : public OwnerView {
  public:
    explicit HeadlessView(const std::string& hostAddress) : hostAddress_(hostAddress) {}

    // Whether the first start of Server 1 also writes the QR code of its home page, so that
    // a phone opens it in one step. Off until set.
    void ShowQrCodeOnStart(bool show) { showQrCode_ = show; }

    void ShowStatusMessage(const std::string& text) override;
    void OnServerStateChanged(int server, bool running, int port) override;
    void Tell(const std::string& text, const std::string& caption) override;
    void Ask(const std::string& text, const std::string& caption,
             std::function<void()> onYes) override;

  private:
    const std::string& hostAddress_;
    // The running state last written for each server: every start first reports "not
    // running", and only real changes are worth a line.
    bool shown_[2] = {false, false};
    bool showQrCode_ = false;
};

}  // namespace app
