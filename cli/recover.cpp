#include <iostream>
#include <unistd.h>

#include "base/numbers.h"
#include "cli/command_line.h"
#include "cli/commands.h"
#include "scan/file_types.h"

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
  for (size_t index : scan::TypesInBoxOrder()) {
    const carvers::FileType& type = *scan::FileTypes()[index].type;
    std::string name = type.name;
    name.resize(10, ' ');
    help += "\n  " + name + type.recovers;
  }
  return help;
}

int Recover(const RecoverOptions& o, const Context& context) {
  Window window(context.preset(), ImageFiles({o.source}));
  app::CMainDlg& dlg = window.dlg;
  dlg.SetText(app::id::kOutputFolder, o.out);
  // Tick each type's box as a click would (a box already ticked stays so).
  for (const std::string& type : o.types) {
    const int index = scan::FindType(type);
    if (index < 0) continue;
    const int box = scan::FileTypes()[static_cast<size_t>(index)].boxId;
    if (box != 0 && !dlg.IsChecked(box)) dlg.Press(box);
  }
  ScanObserver observer(window.shell);
  RunScanCommand(window, o, observer,
                 [&dlg, &observer](const app::ScanRange& range) {
                   dlg.StartRecovery(range, &observer);
                 });
  if (::isatty(STDERR_FILENO) == 1) PrintSummary(dlg.lastScanFolders(), observer.files());
  return StatusOf(window);
}

}  // namespace

std::vector<std::string> TypeNames() {
  std::vector<std::string> names;
  for (size_t index : scan::TypesInBoxOrder()) names.push_back(scan::FileTypes()[index].type->name);
  return names;
}

void AddScanOptions(CLI::App& command, ScanOptions& options) {
  command
      .add_option("--source", options.source,
                  "The drive to read: physicaldriveN (see 'lumisave drives'), a block device "
                  "such as /dev/sdb, or an image file")
      ->required();
  command.add_option("--out", options.out, "The output folder (created when missing)")->required();
  command.add_option("--start", options.start, "First sector to scan (default 0)");
  command.add_option("--end", options.end, "Sector to stop at (default: the end of the drive)");
}

void ScanObserver::OnProgress(const base::Progress& p) {
  if (!started_) {
    started_ = true;
    shell_.StartProgress(p.total, platform::kSectorSize);
  }
  shell_.ShowProgress(p.done);
}

void RunScanCommand(Window& window, const ScanOptions& o, ScanObserver& observer,
                    const std::function<void(const app::ScanRange&)>& run) {
  (void)observer;
  window.dlg.SetText(app::id::kOutputFolder, o.out);
  SelectSource(window, o.source);
  app::ScanRange range;
  if (!o.start.empty()) range.start = base::ParseDecimal(o.start);
  if (!o.end.empty()) range.end = base::ParseDecimal(o.end);
  run(range);
  window.shell.EndProgress();
}

// One line per output folder of the scan: the files this run wrote into it
// and their bytes.
void PrintSummary(const std::vector<std::string>& folders,
                  const std::vector<base::FileRecord>& files) {
  for (const std::string& folder : folders) {
    uint64_t count = 0, bytes = 0;
    for (const base::FileRecord& f : files) {
      const size_t slash = f.path.rfind('/');
      if (slash == std::string::npos || f.path.compare(0, slash, folder) != 0 ||
          slash != folder.size()) {
        continue;
      }
      ++count;
      bytes += f.length;
    }
    std::cerr << folder << ": " << count << (count == 1 ? " file, " : " files, ")
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
