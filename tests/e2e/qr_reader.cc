// Reading back drawn QR codes with zbarimg.
#include "tests/e2e/qr_reader.h"

#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <sstream>

#include "tests/e2e/vantry_instance.h"

namespace e2e {
namespace {

constexpr int kPixelsPerModule = 4;
constexpr int kBackgroundModules = 4;

}  // namespace

ModuleRows HalfBlockModules(const std::string& text) {
    // Each half block is the light state of its upper and lower module.
    const std::pair<std::string, std::pair<bool, bool>> kCells[] = {
        {" ", {false, false}}, {"\u2580", {true, false}}, {"\u2584", {false, true}},
        {"\u2588", {true, true}}};
    ModuleRows modules;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::vector<bool> upper, lower;
        size_t at = 0;
        while (at < line.size()) {
            size_t before = at;
            for (const auto& [cell, light] : kCells) {
                if (line.compare(at, cell.size(), cell) != 0) continue;
                upper.push_back(light.first);
                lower.push_back(light.second);
                at += cell.size();
                break;
            }
            if (at == before) break;
        }
        if (at != line.size() || line.find_first_not_of(' ') == std::string::npos) continue;
        modules.push_back(std::move(upper));
        modules.push_back(std::move(lower));
    }
    return modules;
}

std::string DecodeQrCode(const ModuleRows& modules, const std::string& directory) {
    size_t width = 0;
    for (const auto& row : modules) width = std::max(width, row.size());
    const size_t side = width + 2 * kBackgroundModules;
    const size_t height = modules.size() + 2 * kBackgroundModules;
    // A plain PBM picture: 1 is black.
    std::string picture = "P1\n" + std::to_string(side * kPixelsPerModule) + " " +
                          std::to_string(height * kPixelsPerModule) + "\n";
    for (size_t y = 0; y < height * kPixelsPerModule; ++y) {
        size_t row = y / kPixelsPerModule;
        for (size_t x = 0; x < side * kPixelsPerModule; ++x) {
            size_t column = x / kPixelsPerModule;
            bool light = row >= kBackgroundModules && row - kBackgroundModules < modules.size() &&
                         column >= kBackgroundModules &&
                         column - kBackgroundModules < modules[row - kBackgroundModules].size() &&
                         modules[row - kBackgroundModules][column - kBackgroundModules];
            picture += light ? "0 " : "1 ";
        }
        picture += '\n';
    }
    WriteFile(directory + "/qr.pbm", picture);
    pid_t pid = Spawn({"/usr/bin/zbarimg", "--raw", "-q", directory + "/qr.pbm"}, {}, "/dev/null",
                      directory + "/qr.txt", directory + "/qr.err");
    int status = 0;
    if (!WaitUntil(std::chrono::seconds(20), [&] { return ::waitpid(pid, &status, WNOHANG) == pid; })) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        return {};
    }
    std::string text = ReadFile(directory + "/qr.txt");
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

}  // namespace e2e
