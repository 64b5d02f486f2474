#include "cli/listing.h"

namespace cli {

std::string JoinCells(const std::vector<std::string>& cells) {
  std::string line;
  for (size_t i = 0; i < cells.size(); ++i) {
    if (i > 0) line += '\t';
    line += cells[i];
  }
  return line;
}

std::string TrimRight(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

std::vector<std::string> ShowLines(const app::Control& control) {
  const std::string id = std::to_string(control.id);
  if (control.kind != app::ControlKind::kListView && control.kind != app::ControlKind::kListBox) {
    return {id + "=" + control.text};
  }
  std::vector<std::string> lines;
  for (size_t r = 0; r < control.rows.size(); ++r) {
    lines.push_back(id + "[" + std::to_string(r) + "]=" + JoinCells(control.rows[r]));
  }
  return lines;
}

}  // namespace cli
