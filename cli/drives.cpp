// lumisave drives: the physical drive list as the window shows it.
#include <iostream>

#include "cli/commands.h"
#include "cli/listing.h"

namespace cli {
namespace {

struct DrivesOptions {
  std::vector<std::string> images;
};

int Drives(const DrivesOptions& o, const Context& context) {
  Window window(context.preset(), o.images);
  const app::Control& list = window.dlg.driveList();
  std::vector<std::string> header;
  for (const app::ListColumn& c : list.columns) header.push_back(TrimRight(c.header));
  std::cout << JoinCells(header) << '\n';
  for (const auto& row : list.rows) std::cout << JoinCells(row) << '\n';
  std::cout.flush();
  return StatusOf(window);
}

}  // namespace

void RegisterDrives(CLI::App& app, Context& context) {
  auto options = std::make_shared<DrivesOptions>();
  CLI::App* cmd = app.add_subcommand(
      "drives",
      "List the physical drives as the window's drive list shows them: a header line with the "
      "column names, then one line per drive, tab-separated. Column 1 (PhysicalDrive) is the "
      "name to give to --source; a number stays with its drive while it is attached. The last "
      "four columns tell drives apart: model, size, removable, and yes under System for the "
      "drive that holds the running system.");
  cmd->add_option("--image", options->images,
                  "Also list this image file (or device node) after the machine's drives; "
                  "repeatable")
      ->allow_extra_args(false)
      ->check(CLI::ExistingPath);
  cmd->callback([options, &context] { context.status = Drives(*options, context); });
}

}  // namespace cli
