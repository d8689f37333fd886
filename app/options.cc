// Command-line options.
#include "app/options.h"

namespace app {

std::optional<std::string> OptionValue(std::string_view commandLine, std::string_view name) {
    size_t at = commandLine.find(name);
    if (at == std::string_view::npos) return std::nullopt;
    size_t space = commandLine.find(' ', at + name.size());
    if (space == std::string_view::npos) return std::string();
    std::string_view rest = commandLine.substr(space + 1);
    std::string_view value = rest.substr(0, rest.find(' '));
    return std::string(value.substr(0, kMaxAddressLength));
}

Options ParseOptions(int argc, const char* const* argv) {
    std::string commandLine;
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string_view word = argv[i];
        if (!commandLine.empty()) commandLine += ' ';
        commandLine += word;
        if (word == "--headless") options.headless = true;
        if (word == "--help" || word == "-h") options.help = true;
        if (word == "--version") options.version = true;
        if (word == "--url") options.url = true;
        if (word == "--qr") options.qr = true;
        if (word == "--no-qr") options.noQr = true;
    }
    options.bind = OptionValue(commandLine, "-bind");
    options.absolute = OptionValue(commandLine, "-absolute");
    return options;
}

std::string UsageText() {
    return "Usage: vantry [-bind ADDRESS] [-absolute ADDRESS] [--headless] [--no-qr] [--url]\n"
           "              [--qr] [--help] [--version]\n"
           "\n"
           "Runs the Vantry web servers configured in Vantry.ini (or Zelvin.ini) beside the\n"
           "program. In a terminal it draws the control panel (M opens its menu).\n"
           "Without that file it runs the installer instead: on a terminal it asks\n"
           "where to install; with --headless or without a terminal it takes the proposed\n"
           "answers.\n"
           "\n"
           "  -bind ADDRESS      listen on this IPv4 or IPv6 address only; links use it too\n"
           "  -absolute ADDRESS  use this address in links (the address the world reaches\n"
           "                     this machine by); the servers still listen as before\n"
           "  --headless         draw nothing, even in a terminal; status messages go to\n"
           "                     standard error and SIGINT, SIGTERM or SIGHUP stop the\n"
           "                     servers and save the configuration; once Server 1\n"
           "                     runs, the QR code of its home page is written there\n"
           "  --no-qr            headless: leave the QR code out\n"
           "  --url              print the address of Server 1's home page and end\n"
           "  --qr               print the QR code of that address (and the address) and end\n"
           "  --help             show this text\n"
           "  --version          show the version\n";
}

}  // namespace app
