// lumisave volumes: the logical drive list and each physical drive's letters.
#include <iostream>

#include "cli/commands.h"
#include "inventory/volume_list.h"

namespace cli {
namespace {

std::string TrimRight(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

// One line per row, cells separated by tabs, after a line of the headers.
void PrintList(const app::Control& list, const std::vector<size_t>& columns) {
  const char* sep = "";
  for (size_t c : columns) {
    std::cout << sep << (c < list.columns.size() ? TrimRight(list.columns[c].header) : "");
    sep = "\t";
  }
  std::cout << "\n";
  for (const auto& row : list.rows) {
    sep = "";
    for (size_t c : columns) {
      std::cout << sep << (c < row.size() ? TrimRight(row[c]) : "");
      sep = "\t";
    }
    std::cout << "\n";
  }
}

int Volumes() {
  Window window(Preset::kNo);
  window.dlg.Press(app::id::kGetLogicalDriveInfo);
  PrintList(window.dlg.volumeList(), {0, 1, 2, 3, 4, 5, 6});
  std::cout << "\n";
  PrintList(window.dlg.driveList(), {0, inventory::kLetterColumn});
  std::cout << std::flush;
  return StatusOf(window);
}

}  // namespace

void RegisterVolumes(CLI::App& app, Context& context) {
  CLI::App* cmd = app.add_subcommand(
      "volumes",
      "List the volumes with their drive letters (C: is the volume mounted at /, then D:, E:, "
      "... in device-name order), type, space, file system and label, and then the letters of "
      "each physical drive's volumes.");
  cmd->callback([&context] { context.status = Volumes(); });
}

}  // namespace cli
