#include <csignal>
#include <cstring>
#include <iostream>
#include <unistd.h>

#include "base/numbers.h"
#include "cli/arguments.h"
#include "cli/command_line.h"
#include "cli/commands.h"
#include "platform/fs.h"
#include "platform/mounts.h"
#include "platform/overlap.h"
#include "platform/stop_signals.h"
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
  std::string photos;
  for (const scan::TypeEntry& entry : scan::FileTypes()) {
    if (!entry.type->photo) continue;
    photos += (photos.empty() ? "" : ", ") + std::string(entry.type->name);
  }
  help += "\n  photos    every picture and video type (" + photos + ")";
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
  const int stopped = RunScanCommand(window, o, context,
                                     [&dlg, &observer](const app::ScanRange& range) {
                                       dlg.StartRecovery(range, &observer);
                                     });
  const int lost = observer.faults().Print();
  PrintSummary(dlg.lastScanFolders(), observer.files());
  if (::isatty(STDERR_FILENO) == 1 && o.types.empty() && !dlg.lastScanFolders().empty()) {
    std::cerr << "Not looked for: " << TypesLeftOut()
              << " (--type photos adds every picture and video type)" << std::endl;
  }
  return stopped != 0 ? stopped : StatusOf(window) | lost;
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
  command.add_flag("--hash", options.hash,
                   "Add each file's SHA-256 digest to the run's report (report.xml)");
  command.add_flag("--unmount", options.unmount,
                   "Unmount the source's mounted file systems before the scan");
}

void ScanObserver::OnProgress(const base::Progress& p) {
  if (!started_) {
    started_ = true;
    shell_.StartProgress(p.total, platform::kSectorSize);
  }
  shell_.ShowProgress(p.done);
}

void DriveFaults::Note(uint64_t firstSector, uint64_t sectors) {
  if (sectors == 0) return;
  if (count_ == 0 || firstSector < first_) first_ = firstSector;
  if (firstSector + sectors - 1 > last_) last_ = firstSector + sectors - 1;
  count_ += sectors;
}

int DriveFaults::Print() const {
  if (count_ > 0) {
    std::cerr << "unreadable sectors: " << count_ << " (first " << first_ << ", last " << last_
              << ")" << std::endl;
  }
  if (end_.outcome != base::RunOutcome::kFailed || !end_.sourceLost) return 0;
  std::cerr << end_.why << std::endl;
  return 1;
}

void NameMountedSource(const std::string& path, bool unmount) {
  for (const platform::MountedFileSystem& m : platform::ReadWriteMounts(path)) {
    if (unmount) {
      int error = 0;
      if (platform::Unmount(m.mountPoint, &error)) {
        std::cerr << "lumisave: unmounted " << m.mountPoint << " (" << m.device << ")"
                  << std::endl;
        continue;
      }
      std::cerr << "lumisave: could not unmount " << m.mountPoint << ": "
                << std::strerror(error) << std::endl;
    }
    std::cerr << "lumisave: " << m.device << " on " << path << " is mounted read-write at "
              << m.mountPoint
              << "; the system may write to it meanwhile. Unmount it first (umount "
              << m.mountPoint << ", or --unmount)." << std::endl;
  }
}

int RunScanCommand(Window& window, const ScanOptions& o, const Context& context,
                   const std::function<void(const app::ScanRange&)>& run) {
  window.dlg.SetText(app::id::kOutputFolder, o.out);
  SelectSource(window, o.source);
  PrintDrive(window, "source", window.dlg.Text(app::id::kSourceDrive));
  const std::string source = window.opener.Resolve(o.source);
  if (!source.empty()) NameMountedSource(source, o.unmount);
  // The folders above the output folder are made, unless the output folder
  // is refused for lying on the source (then nothing is made).
  const size_t slash = o.out.find_last_of('/');
  if (slash != std::string::npos && slash != 0 &&
      (source.empty() || !platform::FolderOnDrive(o.out, source, nullptr))) {
    platform::CreateFolderPath(o.out.substr(0, slash));
  }
  std::atomic<bool> stop{false};
  app::ScanRange range;
  if (!o.start.empty()) range.start = base::ParseDecimal(o.start);
  if (!o.end.empty()) range.end = base::ParseDecimal(o.end);
  range.stop = &stop;
  range.hash = o.hash;
  range.command = context.command;
  platform::CatchStopSignals(stop);
  run(range);
  platform::ReleaseStopSignals();
  window.shell.EndProgress();
  const app::ScanResult& result = window.dlg.lastScan();
  const int signal = platform::StopSignalCaught();
  if (!result.ran || result.end.outcome != base::RunOutcome::kStopped || signal == 0) return 0;
  std::cerr << "lumisave: stopped by " << (signal == SIGINT ? "SIGINT (Ctrl-C)" : "SIGTERM")
            << " at sector " << result.end.resumeSector << "; " << result.filesSaved
            << (result.filesSaved == 1 ? " file" : " files") << " saved whole"
            << (result.report.empty() ? "" : ", listed in " + result.report) << ".\n"
            << "Go on with: " << app::GoOnCommand(context.command, result.end.resumeSector)
            << std::endl;
  return platform::StopExitStatus(signal);
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
    std::cout << folder << ": " << count << (count == 1 ? " file, " : " files, ")
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
