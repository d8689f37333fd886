// Reading back drawn QR codes with zbarimg.
#include "tests/e2e/qr_reader.h"

#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
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
    const std::pair<std::string, std::pair<bool, bool>> kCells[] = {{" ", {false, false}},
                                                                    {"\u2580", {true, false}},
                                                                    {"\u2584", {false, true}},
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

ModuleRows ReversedCellModules(const std::string& screen, size_t skipLastLines) {
    std::vector<std::vector<bool>> cells;  // reversed or not, per line and column
    std::istringstream lines(screen);
    std::string line;
    bool reversed = false;  // an attribute runs on over line ends
    while (std::getline(lines, line)) {
        std::vector<bool> row;
        for (size_t at = 0; at < line.size(); ++at) {
            if (line[at] != '\x1b') {
                row.push_back(reversed);
                continue;
            }
            size_t end = line.find('m', at);
            if (end == std::string::npos) break;
            std::istringstream codes(line.substr(at + 2, end - at - 2));
            std::string code;
            while (std::getline(codes, code, ';')) {
                if (code == "7") reversed = true;
                if (code == "0" || code == "27" || code.empty()) reversed = false;
            }
            at = end;
        }
        cells.push_back(std::move(row));
    }
    cells.resize(cells.size() - std::min(skipLastLines, cells.size()));
    auto hasReversed = [](const std::vector<bool>& row) {
        return std::find(row.begin(), row.end(), true) != row.end();
    };
    auto first = std::find_if(cells.begin(), cells.end(), hasReversed);
    if (first == cells.end()) return {};
    // The top row is the light margin: its reversed cells give the code's place and width.
    size_t left =
        static_cast<size_t>(std::find(first->begin(), first->end(), true) - first->begin());
    size_t right =
        static_cast<size_t>(first->rend() - std::find(first->rbegin(), first->rend(), true));
    ModuleRows modules;
    for (auto row = first; row != cells.end() && hasReversed(*row); ++row) {
        std::vector<bool> modulesOfRow;
        for (size_t column = left; column < right; column += 2) {
            modulesOfRow.push_back(column < row->size() && (*row)[column]);
        }
        modules.push_back(std::move(modulesOfRow));
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
    if (!WaitUntil(std::chrono::seconds(20),
                   [&] { return ::waitpid(pid, &status, WNOHANG) == pid; })) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        return {};
    }
    std::string text = ReadFile(directory + "/qr.txt");
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

}  // namespace e2e
