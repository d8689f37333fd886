// The terminal on standard input: whether there is one, and keeping what is typed on it
// unseen while a password is entered.
#pragma once

namespace platform {

// True when standard input is a terminal.
bool InputIsTerminal();

// Turns off the echo of the terminal on standard input for as long as it lives, and puts the
// terminal back as it was when it ends, also when SIGINT, SIGTERM, SIGHUP or SIGQUIT end the
// program meanwhile, so an interrupted prompt never leaves the shell typing blind. Without a
// terminal it does nothing. One guard at a time: the saved settings are process-wide.
class EchoOff {
  public:
    EchoOff();
    ~EchoOff();
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

  private:
    bool active_ = false;
};

}  // namespace platform
