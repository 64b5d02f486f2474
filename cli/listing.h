// Printing window contents on the console.
#pragma once

#include <string>
#include <vector>

#include "window/window_model.h"

namespace cli {

// The cells joined by tabs.
std::string JoinCells(const std::vector<std::string>& cells);
std::string TrimRight(std::string text);

// What --show prints for a control: "ID=TEXT", or for a list view or list
// box one line "ID[ROW]=CELL<TAB>CELL..." per row.
std::vector<std::string> ShowLines(const app::Control& control);

}  // namespace cli
