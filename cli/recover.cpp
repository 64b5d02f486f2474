#include <iostream>
#include <unistd.h>

#include "base/numbers.h"
#include "cli/arguments.h"
#include "cli/command_line.h"
#include "cli/commands.h"
#include "scan/file_types.h"

namespace cli {
namespace {

struct RecoverOptions : ScanOptions {
  std::vector<std::string> types;
};

// The words of --type that tick a group of types.
constexpr const char* kPhotos = "photos";
constexpr const char* kAll = "all";

// Where a type's files go, for the help text.
std::string FolderHelp(const carvers::FileType& type) {
  if (type.folderName == nullptr) return "no folder";
  if (type.sharesFolderOf != nullptr) return "OUT/JPEG";
  return type.folderRule == carvers::FolderRule::kInside ? std::string("OUT/") + type.folderName
                                                         : std::string("OUT + ") + type.folderName;
}

// The table's types in the order of --help: the check boxes' types, then
// those without a box in scan order.
std::vector<size_t> HelpOrder() {
  std::vector<size_t> order(scan::TypesInBoxOrder().begin(), scan::TypesInBoxOrder().end());
  for (size_t i = 0; i < scan::FileTypes().size(); ++i) {
    if (scan::FileTypes()[i].boxId == 0) order.push_back(i);
  }
  return order;
}

// What --help says about --type: the groups, then every name with what it
// finds and where its files go.
std::string TypeHelp() {
  std::string help =
      "Also recover a file type (repeatable). --type photos adds every picture and video "
      "type; --type all adds every type. The boxes' types go into a folder named OUT followed "
      "by the type's folder name, beside OUT (OUT=/x/Lumisave gives /x/LumisaveQBB); the "
      "photo and video types into a folder inside OUT. Types:";
  help += "\n  photos    every picture and video type (jpeg, jpeg0, png, gif, tiff, raw, heic, "
          "video, jpegx)";
  help += "\n  all       every type";
  for (size_t index : HelpOrder()) {
    const carvers::FileType& type = *scan::FileTypes()[index].type;
    std::string name = type.name;
    name.resize(10, ' ');
    help += "\n  " + name + type.recovers + " [" + FolderHelp(type) + "]";
  }
  return help;
}

// Ticks a type as the window would: its box, clicked when not ticked yet,
// or, for a type without a box, the window's type selection.
void Tick(app::CMainDlg& dlg, size_t index) {
  const scan::TypeEntry& entry = scan::FileTypes()[index];
  if (entry.boxId == 0) {
    dlg.m_types.ticked.insert(index);
  } else if (!dlg.IsChecked(entry.boxId)) {
    dlg.Press(entry.boxId);
  }
}

// The types a recover without --type leaves out, for the end summary.
std::string TypesLeftOut() {
  std::string names;
  for (size_t index : HelpOrder()) {
    const carvers::FileType& type = *scan::FileTypes()[index].type;
    if (type.always || type.carve == nullptr || !type.photo) continue;
    names += names.empty() ? "" : ", ";
    names += type.name;
  }
  return names;
}

int Recover(const RecoverOptions& o, const Context& context) {
  Window window(context.preset(), ImageFiles({o.source}));
  app::CMainDlg& dlg = window.dlg;
  dlg.SetText(app::id::kOutputFolder, o.out);
  // Tick each type's box as a click would (a box already ticked stays so).
  for (const std::string& type : o.types) {
    for (size_t i = 0; i < scan::FileTypes().size(); ++i) {
      const carvers::FileType& t = *scan::FileTypes()[i].type;
      if (type == t.name || type == kAll || (type == kPhotos && t.photo)) Tick(dlg, i);
    }
  }
  ScanObserver observer(window.shell);
  RunScanCommand(window, o,
                 [&dlg, &observer](const app::ScanRange& range) {
                   dlg.StartRecovery(range, &observer);
                 });
  if (::isatty(STDERR_FILENO) == 1) {
    PrintSummary(dlg.lastScanFolders(), observer.files());
    if (o.types.empty() && !dlg.lastScanFolders().empty()) {
      std::cerr << "Not looked for: " << TypesLeftOut()
                << " (--type photos adds every picture and video type)" << std::endl;
    }
  }
  return StatusOf(window);
}

}  // namespace

std::vector<std::string> TypeNames() {
  std::vector<std::string> names = {kPhotos, kAll};
  for (size_t index : HelpOrder()) names.push_back(scan::FileTypes()[index].type->name);
  return names;
}

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

void ScanObserver::OnProgress(const base::Progress& p) {
  if (!started_) {
    started_ = true;
    shell_.StartProgress(p.total, platform::kSectorSize);
  }
  shell_.ShowProgress(p.done);
}

void RunScanCommand(Window& window, const ScanOptions& o,
                    const std::function<void(const app::ScanRange&)>& run) {
  window.dlg.SetText(app::id::kOutputFolder, o.out);
  SelectSource(window, o.source);
  PrintDrive(window, "source", window.dlg.Text(app::id::kSourceDrive));
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
