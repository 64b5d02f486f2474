// lumisave clone: one drive copied onto another, sector by sector.
#include <cstring>
#include <ctime>
#include <iostream>
#include <memory>
#include <map>
#include <optional>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "diskutil/clone.h"
#include "diskutil/rescue_map.h"
#include "platform/fs.h"
#include "platform/signals.h"
#include "base/run_report.h"

namespace cli {
namespace {

namespace id = app::id;

struct CloneOptions {
  std::string source;
  std::string target;
  std::string mode = "clone";
  std::string start;
  std::string add;
  std::string mapfile;
  bool log = false;
};

// The clone's map and the file it is written to: made afresh for the
// source's capacity, written whole (a new file renamed over the old one) by
// the engine every 10 seconds and when a run ends. A failed write is said
// once.
class MapKeeper {
 public:
  MapKeeper(const std::string& path, uint64_t sourceBytes, const CloneOptions& o)
      : path_(path), map_(sourceBytes) {
    header_.commandLine = "lumisave clone --source " + o.source + " --target " + o.target +
                          " --mode " + o.mode + " --mapfile " + o.mapfile;
    header_.startTime = diskutil::MapTime(std::time(nullptr));
  }
  diskutil::RescueMap& map() { return map_; }
  void Save() {
    header_.currentTime = diskutil::MapTime(std::time(nullptr));
    const int error = platform::ReplaceFileAtomically(path_, map_.Serialize(header_));
    if (error != 0 && !warned_) {
      warned_ = true;
      std::cerr << "lumisave: cannot write the map " << path_ << ": " << std::strerror(error)
                << std::endl;
    }
  }
  bool failed() const { return warned_; }

 private:
  std::string path_;
  diskutil::RescueMap map_;
  diskutil::MapHeader header_;
  bool warned_ = false;
};

// The --mode words and the modes they run.
const std::map<std::string, diskutil::CloneMode>& Modes() {
  static const std::map<std::string, diskutil::CloneMode> modes = {
      {"clone", diskutil::CloneMode::kClone},
      {"512secjmp", diskutil::CloneMode::k512SecJmp},
      {"errbreak", diskutil::CloneMode::kErrBreak},
      {"onesector", diskutil::CloneMode::kOneSector},
      {"errpause", diskutil::CloneMode::kErrPause},
  };
  return modes;
}

// Picks the target drive as a person does in the window: a click on its row
// of the drive list, then Target. (The source is clicked afterwards.)
void PickTarget(Window& window, const std::string& target) {
  WarnIfUnopenable(window, target);
  window.dlg.SelectDriveRow(window.dlg.AttachDrive(target));
  window.dlg.Press(id::kCloneTarget);
}

// Draws the progress bar from the engine's progress, one bar per run (an
// errbreak run is followed by an errpause run), and keeps the unreadable
// areas met: their sectors in all, and the last area of the last run.
class CloneObserver : public base::Reporter {
 public:
  explicit CloneObserver(ConsoleShell& shell) : shell_(shell) {}
  void OnProgress(const base::Progress& p) override {
    if (!started_) {
      started_ = true;
      shell_.StartProgress(p.total, 1);
    }
    shell_.ShowProgress(p.done);
  }
  void OnUnreadable(uint64_t sector, uint64_t sectors) override {
    badSectors_ += sectors;
    thisRun_ = sector;
  }
  void OnEnd(const base::RunEnd&) override {
    started_ = false;
    lastRun_ = thisRun_;
    thisRun_.reset();
  }

  uint64_t badSectors() const { return badSectors_; }
  // The first sector of the last unreadable area the last run met.
  const std::optional<uint64_t>& lastUnreadable() const { return lastRun_; }

 private:
  ConsoleShell& shell_;
  bool started_ = false;
  uint64_t badSectors_ = 0;
  std::optional<uint64_t> thisRun_;
  std::optional<uint64_t> lastRun_;
};

// What the run leaves that a person needs next: the unreadable areas met,
// and where a stepwise run goes on (field 1041, which the next run reads).
void PrintOutcome(const app::CMainDlg& dlg, const std::string& mode,
                  const CloneObserver& observer) {
  if (mode == "clone" || mode == "onesector") {
    std::cout << "unreadable sectors: " << observer.badSectors() << "\n";
  } else if (mode == "512secjmp") {
    if (observer.lastUnreadable()) {
      std::cout << "last unreadable chunk at sector: " << *observer.lastUnreadable() << "\n";
    }
  } else {
    if (observer.lastUnreadable()) {
      std::cout << "unreadable at sector: " << *observer.lastUnreadable() << "\n";
    }
    const std::string& start = dlg.Text(id::kStartSector);
    std::cout << "next start sector: " << (start.empty() ? "0" : start) << "\n";
  }
}

int RunClone(const CloneOptions& o, const Context& context) {
  if (!o.mapfile.empty() && platform::Exists(o.mapfile)) {
    std::cerr << "lumisave: --mapfile " << o.mapfile
              << " exists; going on from an earlier map is not supported yet" << std::endl;
    return 2;
  }
  Window window(context.preset(), ImageFiles({o.source, o.target}));
  app::CMainDlg& dlg = window.dlg;
  PickTarget(window, o.target);
  SelectSource(window, o.source);
  PrintDrive(window, "source", dlg.Text(id::kSourceDrive));
  PrintDrive(window, "target", dlg.m_targetDrive);
  const std::string sourceFile = window.opener.Resolve(o.source);
  const std::string targetFile = window.opener.Resolve(o.target);
  if (!sourceFile.empty() && platform::SameFile(sourceFile, targetFile)) {
    std::cerr << "lumisave: --target is the source drive itself; it will not be written"
              << std::endl;
  }
  if (!o.start.empty()) dlg.SetText(id::kStartSector, o.start);
  if (!o.add.empty()) dlg.SetText(id::kAddValue, o.add);
  if (o.log) dlg.Press(id::kClear123);

  std::unique_ptr<MapKeeper> keeper;
  if (!o.mapfile.empty()) keeper = std::make_unique<MapKeeper>(o.mapfile, dlg.m_sourceCapacity, o);
  CloneObserver observer(window.shell);
  StopClonesOnCtrlC();
  if (keeper) {
    diskutil::RunCloneCommand(dlg, Modes().at(o.mode), &observer, &keeper->map(),
                              [&keeper] { keeper->Save(); });
  } else {
    diskutil::RunCloneCommand(dlg, Modes().at(o.mode), &observer);
  }
  platform::ReleaseInterrupt();
  window.shell.EndProgress();
  PrintOutcome(dlg, o.mode, observer);
  if (StoppedByCtrlC()) {
    std::cerr << "lumisave: stopped by Ctrl-C" << std::endl;
    return 130;
  }
  return StatusOf(window);
}

}  // namespace

void StopClonesOnCtrlC() {
  platform::CatchInterruptOnce([] { diskutil::RequestInterrupt(); });
}

bool StoppedByCtrlC() { return diskutil::g_interruptRequest; }

void RegisterClone(CLI::App& app, Context& context) {
  auto options = std::make_shared<CloneOptions>();
  CLI::App* cmd = app.add_subcommand(
      "clone",
      "Copy a drive onto another sector by sector, working around unreadable sectors. "
      "Everything on the target is overwritten (you are asked first, unless --yes). "
      "Unreadable sectors keep the target's earlier contents; with --log each one is "
      "recorded in 123.txt in the current folder. Ctrl-C stops after the chunk in hand.");
  cmd->add_option("--source", options->source,
                  "The drive to copy: physicaldriveN (see 'lumisave drives'), a block device "
                  "such as /dev/sdb, or an image file")
      ->required()
      ->check(SourceDrive());
  cmd->add_option("--target", options->target,
                  "The drive to overwrite: physicaldriveN, a block device or an existing image "
                  "file. A mounted drive and the source itself are refused")
      ->required()
      ->check(TargetDrive());
  cmd->add_option("--mode", options->mode,
                  "How unreadable areas are met:\n"
                  "  clone      chunks of 512 sectors; a bad chunk is retried sector by sector "
                  "(default)\n"
                  "  512secjmp  chunks; a bad chunk is skipped whole\n"
                  "  errbreak   chunks until the first bad one, then errpause from one chunk "
                  "before it\n"
                  "  onesector  one sector at a time; bad sectors are skipped\n"
                  "  errpause   one sector at a time up to the first bad sector; the next start "
                  "sector is set past it by --add")
      ->check(CLI::IsMember({"clone", "512secjmp", "errbreak", "onesector", "errpause"}));
  cmd->add_option("--start", options->start, "First sector to copy (default 0)")
      ->check(DecimalNumber());
  cmd->add_option("--add", options->add,
                  "Sectors to step past a bad sector after errpause (default 0)")
      ->check(DecimalNumber());
  cmd->add_option("--mapfile", options->mapfile,
                  "Keep a map of the source in FILE (a new file) in the ddrescue mapfile "
                  "format: areas copied (+), unreadable (-), skipped by 512secjmp (*) and "
                  "not tried (?), written every 10 seconds and when the clone ends or stops");
  cmd->add_flag("--log", options->log,
                "Start a fresh bad-sector log 123.txt in the current folder first");
  AddAnswerFlags(*cmd, context);
  cmd->callback([options, &context] { context.status = RunClone(*options, context); });
}

}  // namespace cli
