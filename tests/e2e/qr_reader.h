// QR codes read back from what vantry draws: the text of its half blocks or the reversed
// cells of its screen, turned into a picture for a real decoder (zbarimg).
#pragma once

#include <string>
#include <vector>

namespace e2e {

// Rows of modules, true for a light one.
using ModuleRows = std::vector<std::vector<bool>>;

// The modules drawn by the lines of `text` that hold only half blocks and blanks (and at
// least one block): two module rows per line.
ModuleRows HalfBlockModules(const std::string& text);

// The modules drawn as reversed cells, two columns each, on a screen captured with its
// attributes (tmux capture-pane -e -N): the block of lines from the first that holds a
// reversed cell to the last consecutive one, less `skipLastLines` lines at the bottom.
ModuleRows ReversedCellModules(const std::string& screen, size_t skipLastLines);

// What a decoder reads from `modules` pictured as a phone sees them on a terminal: four
// pixels a module, in the terminal's dark background. Temporary files go in `directory`.
// Empty when nothing is read.
std::string DecodeQrCode(const ModuleRows& modules, const std::string& directory);

}  // namespace e2e
