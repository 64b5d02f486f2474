#include <filesystem>
#include <iostream>
#include <unistd.h>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "scan/dispatch.h"
#include "base/numbers.h"
#include "scan/type_boxes.h"

namespace cli {
namespace {

struct RecoverOptions : ScanOptions {
  std::vector<std::string> types;
};

// What --help says about --type: every name with what it recovers.
std::string TypeHelp() {
  std::string help =
      "Also recover a file type (repeatable). Its files go into a folder named OUT followed "
      "by the type's folder name, beside OUT (OUT=/x/Lumisave gives /x/LumisaveQBB). Types:";
  for (size_t i = 0; i < scan::TypeBoxCount(); ++i) {
    const scan::TypeBox& box = scan::TypeBoxes()[i];
    std::string name = box.name;
    name.resize(10, ' ');
    help += "\n  " + name + box.recovers;
  }
  return help;
}

std::vector<std::string> TypeNames() {
  std::vector<std::string> names;
  for (size_t i = 0; i < scan::TypeBoxCount(); ++i) names.push_back(scan::TypeBoxes()[i].name);
  return names;
}

int Recover(const RecoverOptions& o, const Context& context) {
  Window window(context.preset(), ImageFiles({o.source}));
  app::CMainDlg& dlg = window.dlg;
  dlg.SetText(app::id::kOutputFolder, o.out);
  // Tick each type's box as a click would (a box already ticked stays so).
  for (const std::string& type : o.types) {
    const scan::TypeBox* box = scan::FindTypeBox(type);
    if (box != nullptr && !dlg.IsChecked(box->boxId)) dlg.Press(box->boxId);
  }
  RunScanCommand(window, o, app::id::kStartRe);
  if (::isatty(STDERR_FILENO) == 1) PrintSummary(scan::EnabledFolders(dlg));
  return StatusOf(window);
}

}  // namespace

void AddScanOptions(CLI::App& command, ScanOptions& options) {
  command
      .add_option("--source", options.source,
                  "The drive to read: physicaldriveN (see 'lumisave drives'), a block device "
                  "such as /dev/sdb, or an image file")
      ->required()
      ->check(SourceDrive());
  command.add_option("--out", options.out, "The output folder (created when missing)")->required();
  command.add_option("--start", options.start, "First sector to scan (default 0)")
      ->check(DecimalNumber());
  command.add_option("--end", options.end, "Sector to stop at (default: the end of the drive)")
      ->check(DecimalNumber());
  RequireEndNotBeforeStart(command, options.start, options.end);
}

void RunScanCommand(Window& window, const ScanOptions& o, int commandId) {
  app::CMainDlg& dlg = window.dlg;
  dlg.SetText(app::id::kOutputFolder, o.out);
  SelectSource(window, o.source);
  if (!o.start.empty()) dlg.SetText(app::id::kStartSector, o.start);
  if (!o.end.empty()) dlg.SetText(app::id::kEndSector, o.end);

  // Progress: field 1040 holds the first sector of the chunk just scanned.
  const uint64_t start = base::ParseDecimal(dlg.Text(app::id::kStartSector));
  uint64_t end = base::ParseDecimal(dlg.Text(app::id::kEndSector));
  const uint64_t n = dlg.m_sourceCapacity / platform::kSectorSize;
  if (end > n) end = n;
  if (end > start) {
    window.shell.TrackProgress(app::id::kSectorNum, end - start, platform::kSectorSize,
                               [start](const std::string& text) {
                                 return base::ParseDecimal(text) + 512 - start;
                               });
  }
  dlg.Press(commandId);
  window.shell.EndProgress();
}

// One line per output folder of the scan: its files and their bytes.
void PrintSummary(const std::vector<std::string>& folders) {
  std::error_code ec;
  for (const std::string& folder : folders) {
    if (!std::filesystem::is_directory(folder, ec)) continue;
    uint64_t files = 0, bytes = 0;
    for (const auto& e : std::filesystem::directory_iterator(folder, ec)) {
      if (!e.is_regular_file(ec)) continue;
      ++files;
      bytes += e.file_size(ec);
    }
    std::cerr << folder << ": " << files << (files == 1 ? " file, " : " files, ")
              << HumanBytes(bytes) << std::endl;
  }
}

void RegisterRecover(CLI::App& app, Context& context) {
  auto options = std::make_shared<RecoverOptions>();
  CLI::App* cmd = app.add_subcommand(
      "recover",
      "Recover pictures, and the file types asked for with --type, from a drive or an image: "
      "every sector is searched for the start of a file, and each file found is copied out, "
      "named by its sector number. Pictures go into OUT/JPEG (EXIF) and OUT/JPEG0 (JFIF).");
  AddScanOptions(*cmd, *options);
  cmd->add_option("--type", options->types, TypeHelp())
      ->check(CLI::IsMember(TypeNames()).description(""))
      ->type_name("NAME");
  AddAnswerFlags(*cmd, context);
  cmd->callback([options, &context] { context.status = Recover(*options, context); });
}

}  // namespace cli
