// lumisave clone: one drive copied onto another, sector by sector.
#include <csignal>
#include <cstring>
#include <ctime>
#include <iostream>
#include <memory>
#include <map>
#include <optional>
#include <vector>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "diskutil/clone.h"
#include "diskutil/overlap_refusal.h"
#include "diskutil/rescue_map.h"
#include "platform/fs.h"
#include "platform/image_file.h"
#include "platform/overlap.h"
#include "platform/stop_signals.h"
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
  unsigned retryBad = 0;
  bool log = false;
  bool unmount = false;
};

// The clone's map and the file it is written to: made afresh for the
// source's capacity, written whole (a new file renamed over the old one) by
// the engine every 10 seconds and when a run ends. A failed write is said
// once.
class MapKeeper {
 public:
  MapKeeper(const std::string& path, diskutil::RescueMap map, const CloneOptions& o)
      : path_(path), map_(std::move(map)) {
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
    ran_ = true;
    started_ = false;
    lastRun_ = thisRun_;
    thisRun_.reset();
  }

  uint64_t badSectors() const { return badSectors_; }
  // Whether a run of the engine took place (not ended by a question first).
  bool ran() const { return ran_; }
  // The first sector of the last unreadable area the last run met.
  const std::optional<uint64_t>& lastUnreadable() const { return lastRun_; }

 private:
  ConsoleShell& shell_;
  bool started_ = false;
  bool ran_ = false;
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

// The source's length in bytes as its device says; 0 when it cannot be opened.
uint64_t SourceBytes(const std::string& sourceFile) {
  platform::DeviceHandle device =
      sourceFile.empty() ? nullptr : platform::OpenPath(sourceFile, platform::Access::kRead);
  uint64_t bytes = 0;
  if (!device || !device->Length(&bytes)) return 0;
  return bytes;
}

// A target path where nothing is yet: the clone makes a new image file there.
bool IsNewImage(const std::string& targetFile) {
  return !targetFile.empty() && !platform::Exists(targetFile);
}

// Makes the new image file `targetFile` for a source of `bytes` bytes: its
// folder must exist, lie off the source, and have room for the whole source;
// then a sparse file of the source's length is created (never over another
// file). Returns 0, or the exit status after saying why nothing was created.
int CreateImageTarget(const std::string& target, const std::string& targetFile,
                      const std::string& sourceFile, uint64_t bytes) {
  const std::string path = platform::AbsolutePath(targetFile);
  const std::string folder = path.substr(0, path.find_last_of('/') + 1);
  auto refuse = [&target](const std::string& why) {
    std::cerr << "lumisave: the image " << target << " is not created: " << why << std::endl;
    return 1;
  };
  if (path.rfind("/dev/", 0) == 0) {
    return refuse("there is no device " + targetFile + ", and images are not made in /dev");
  }
  if (!platform::IsFolder(folder)) {
    return refuse("the folder " + folder + " does not exist");
  }
  if (bytes == 0) return refuse("the length of the source " + sourceFile + " is not known");
  std::string why;
  if (platform::IsBlockDevice(sourceFile) && platform::FolderOnDrive(folder, sourceFile, &why)) {
    return refuse("the folder " + folder + " lies on the source drive (" + why + ")");
  }
  uint64_t free = 0;
  if (!platform::FreeSpace(folder, &free)) {
    return refuse("the free space in " + folder + " cannot be read: " + std::strerror(errno));
  }
  if (free < bytes) {
    return refuse("the source holds " + std::to_string(bytes) + " bytes but " + folder +
                  " has only " + std::to_string(free) + " bytes free");
  }
  if (const int error = platform::CreateSparseFile(path, bytes); error != 0) {
    return refuse(std::strerror(error));
  }
  std::cout << "created the image " << target << " (" << bytes << " bytes)" << std::endl;
  return 0;
}

// Reads an existing map of the clone for a source of `bytes` bytes. Returns
// 0 with `map` set, or the exit status after saying why it is refused.
int LoadMap(const CloneOptions& o, uint64_t bytes, std::optional<diskutil::RescueMap>* map) {
  std::string text;
  if (const int error = platform::ReadWholeFile(o.mapfile, &text, size_t{1} << 30); error != 0) {
    std::cerr << "lumisave: cannot read the map " << o.mapfile << ": " << std::strerror(error)
              << std::endl;
    return 2;
  }
  diskutil::MapParseResult parsed = diskutil::ParseRescueMap(text, bytes);
  if (!parsed.map) {
    std::cerr << "lumisave: the map " << o.mapfile << " is refused, nothing is written: "
              << parsed.error << std::endl;
    return 2;
  }
  *map = std::move(parsed.map);
  return 0;
}

// Exit status after a stop signal: 128 + the signal, with a word on stderr.
int StoppedStatus(int signal) {
  std::cerr << (signal == SIGTERM ? "lumisave: stopped by SIGTERM" : "lumisave: stopped by Ctrl-C")
            << std::endl;
  return 128 + signal;
}

// A clone going on from its map: the steps PlanResume gives, onto the
// target the map describes.
int ResumeClone(const CloneOptions& o, Window& window, diskutil::RescueMap map) {
  app::CMainDlg& dlg = window.dlg;
  const std::vector<diskutil::WorkItem> plan = diskutil::PlanResume(map, o.retryBad);
  if (plan.empty()) {
    std::cout << "the map " << o.mapfile << " shows nothing left to read" << std::endl;
    return 0;
  }
  MapKeeper keeper(o.mapfile, std::move(map), o);
  CloneObserver observer(window.shell);
  platform::CatchStopSignals(diskutil::g_interruptRequest);
  diskutil::ResumeCloneCommand(dlg, Modes().at(o.mode), plan, keeper.map(),
                               [&keeper] { keeper.Save(); }, &observer);
  platform::ReleaseStopSignals();
  window.shell.EndProgress();
  if (observer.ran()) {
    std::cout << "unreadable sectors: " << keeper.map().Total(diskutil::AreaStatus::kBad) / 512
              << "\n";
    std::cout << "left to read: "
              << (keeper.map().Total(diskutil::AreaStatus::kNotTried) +
                  keeper.map().Total(diskutil::AreaStatus::kSkipped)) / 512
              << " sectors\n";
  }
  if (const int signal = platform::StopSignalCaught()) return StoppedStatus(signal);
  return StatusOf(window);
}

// Before anything is picked: an existing map is read back (and refused with
// its line when it does not fit the source), and a target that does not
// exist yet is made as a new image file. Returns 0, or the exit status.
int PrepareTarget(const CloneOptions& o, Window& window, bool newImage,
                  std::optional<diskutil::RescueMap>* resumed) {
  const std::string sourceFile = window.opener.Resolve(o.source);
  const uint64_t bytes = SourceBytes(sourceFile);
  if (!o.mapfile.empty() && platform::Exists(o.mapfile)) {
    if (newImage) {
      std::cerr << "lumisave: the map " << o.mapfile << " tells what was copied onto "
                << o.target << ", which does not exist; nothing is written" << std::endl;
      return 2;
    }
    if (!o.start.empty()) {
      std::cerr << "lumisave: the map " << o.mapfile
                << " already tells where to go on; --start is not used with it" << std::endl;
      return 2;
    }
    if (const int status = LoadMap(o, bytes, resumed); status != 0) return status;
  }
  if (!newImage) return 0;
  return CreateImageTarget(o.target, window.opener.Resolve(o.target), sourceFile, bytes);
}

// Removes the image this run created when no clone ran onto it (the first
// question was answered No, or a drive could not be opened).
void RemoveUnusedImage(const CloneOptions& o, Window& window) {
  platform::RemoveFile(platform::AbsolutePath(window.opener.Resolve(o.target)));
}

int RunClone(const CloneOptions& o, const Context& context) {
  Window window(context.preset(), ImageFiles({o.source, o.target}));
  app::CMainDlg& dlg = window.dlg;
  const bool newImage = IsNewImage(window.opener.Resolve(o.target));
  std::optional<diskutil::RescueMap> resumed;
  if (const int status = PrepareTarget(o, window, newImage, &resumed); status != 0) return status;
  PickTarget(window, o.target);
  SelectSource(window, o.source);
  PrintDrive(window, "source", dlg.Text(id::kSourceDrive));
  PrintDrive(window, "target", dlg.m_targetDrive);
  if (diskutil::RefuseOverlap(dlg, dlg.m_sourceDrive, dlg.m_targetDrive)) return StatusOf(window);
  const std::string sourceFile = window.opener.Resolve(o.source);
  const std::string targetFile = window.opener.Resolve(o.target);
  if (!sourceFile.empty()) NameMountedSource(sourceFile, o.unmount);
  if (!sourceFile.empty() && platform::SameFile(sourceFile, targetFile)) {
    std::cerr << "lumisave: --target is the source drive itself; it will not be written"
              << std::endl;
  }
  if (!o.start.empty()) dlg.SetText(id::kStartSector, o.start);
  if (!o.add.empty()) dlg.SetText(id::kAddValue, o.add);
  if (o.log) dlg.Press(id::kClear123);
  if (resumed) return ResumeClone(o, window, std::move(*resumed));

  std::unique_ptr<MapKeeper> keeper;
  if (!o.mapfile.empty()) {
    keeper = std::make_unique<MapKeeper>(o.mapfile, diskutil::RescueMap(dlg.m_sourceCapacity), o);
  }
  CloneObserver observer(window.shell);
  platform::CatchStopSignals(diskutil::g_interruptRequest);
  if (keeper) {
    diskutil::RunCloneCommand(dlg, Modes().at(o.mode), &observer, &keeper->map(),
                              [&keeper] { keeper->Save(); });
  } else {
    diskutil::RunCloneCommand(dlg, Modes().at(o.mode), &observer);
  }
  platform::ReleaseStopSignals();
  window.shell.EndProgress();
  PrintOutcome(dlg, o.mode, observer);
  if (newImage && !observer.ran()) RemoveUnusedImage(o, window);
  if (const int signal = platform::StopSignalCaught()) return StoppedStatus(signal);
  return StatusOf(window);
}

}  // namespace

void RegisterClone(CLI::App& app, Context& context) {
  auto options = std::make_shared<CloneOptions>();
  CLI::App* cmd = app.add_subcommand(
      "clone",
      "Copy a drive onto another sector by sector, working around unreadable sectors. "
      "Everything on the target is overwritten (you are asked first, unless --yes). "
      "Unreadable sectors keep the target's earlier contents; with --log each one is "
      "recorded in 123.txt in the current folder. Ctrl-C or SIGTERM stops after the chunk "
      "in hand (status 130 or 143).");
  cmd->add_option("--source", options->source,
                  "The drive to copy: physicaldriveN (see 'lumisave drives'), a block device "
                  "such as /dev/sdb, or an image file")
      ->required()
      ->check(SourceDrive());
  cmd->add_option("--target", options->target,
                  "The drive to overwrite: physicaldriveN, a block device or an image file. A "
                  "file that does not exist is made as a new image of the source's length "
                  "(its folder must exist and have room). A mounted drive and the source "
                  "itself are refused")
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
  cmd->add_option("--start", options->start,
                  "First sector to copy (default 0; an existing --mapfile says where to go on)")
      ->check(DecimalNumber());
  cmd->add_option("--add", options->add,
                  "Sectors to step past a bad sector after errpause (default 0)")
      ->check(DecimalNumber());
  cmd->add_option("--mapfile", options->mapfile,
                  "Keep a map of the source in FILE in the ddrescue mapfile format: areas "
                  "copied (+), unreadable (-), skipped by 512secjmp (*) and not tried (?), "
                  "written every 10 seconds and when the clone ends or stops (Ctrl-C, "
                  "SIGTERM). When FILE exists, the clone goes on from it: the areas not "
                  "tried, then the skipped areas sector by sector (then --retry-bad)");
  cmd->add_option("--retry-bad", options->retryBad,
                  "When --mapfile goes on from an earlier map: read each sector the map shows "
                  "unreadable up to N more times (default 0)")
      ->check(CLI::Range(0u, 1000u));
  cmd->add_flag("--log", options->log,
                "Start a fresh bad-sector log 123.txt in the current folder first");
  cmd->add_flag("--unmount", options->unmount,
                "Unmount the source's mounted file systems before the clone");
  AddAnswerFlags(*cmd, context);
  cmd->callback([options, &context] { context.status = RunClone(*options, context); });
}

}  // namespace cli
