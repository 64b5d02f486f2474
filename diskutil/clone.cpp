#include "diskutil/clone.h"

#include "base/chunk.h"
#include "base/numbers.h"
#include "commands/open_source.h"
#include "diskutil/clone_controls.h"
#include "diskutil/overlap_refusal.h"
#include "platform/drives.h"
#include "platform/fs.h"
#include "commands/drive_checks.h"
#include "window/progress_strip.h"

namespace diskutil {

std::atomic<bool> g_stopRequest{false};
std::atomic<bool> g_interruptRequest{false};

void StopRun() { g_stopRequest = true; }

void RequestInterrupt() {
  g_interruptRequest = true;
  g_stopRequest = true;
}

namespace {

using app::Answer;
using app::BoxKind;
using app::Buttons;
using base::FormatDecimal;
using base::ParseDecimal;
namespace id = app::id;

constexpr size_t kCapacityColumn = 7;

// What the window does around a mode: whether it asks before anything is
// overwritten, whether it asks when the target is the smaller drive, and
// whether the partition layout is copied first.
struct Variant {
  CloneMode mode;
  bool confirm;
  bool askSize;
  bool layout;
};

constexpr Variant kClone{CloneMode::kClone, true, true, true};
constexpr Variant k512SecJmp{CloneMode::k512SecJmp, true, true, true};
constexpr Variant kErrBreak{CloneMode::kErrBreak, false, true, false};
constexpr Variant kOneSector{CloneMode::kOneSector, true, true, false};
constexpr Variant kErrPause{CloneMode::kErrPause, false, false, false};

// How a run ended: before its loop (a question answered No, a drive that
// cannot be opened, a layout failure, a start sector out of the disk), at
// the end of its loop, or on a write the target refused.
enum class End { kEarly, kLoop, kWriteFailed };

// Shows the engine's events in the window's fields: the bytes to go (1010),
// the next sector (1040), the bad-sector count (1039), the last unreadable
// area (1049) and, for the stepwise modes, the next start sector (1041).
// Every event also reaches the caller's observer.
class WindowReporter : public base::Reporter {
 public:
  WindowReporter(app::WindowModel& w, CloneMode mode, base::Reporter* observer)
      : w_(w), mode_(mode), observer_(observer) {}

  void OnProgress(const base::Progress& p) override {
    w_.SetText(id::kProgress, FormatDecimal(p.total - p.done));
    w_.SetText(id::kSectorNum, FormatDecimal(p.at));
    if (observer_) observer_->OnProgress(p);
  }
  void OnUnreadable(uint64_t sector, uint64_t sectors) override {
    switch (mode_) {
      case CloneMode::kClone:
      case CloneMode::kOneSector:
        // Field 1039 shows the count before this sector is counted: 0 at the first.
        w_.SetText(id::kBadSector, bad_ == 0 ? "0" : FormatDecimal(bad_));
        ++bad_;
        break;
      case CloneMode::k512SecJmp:
        w_.SetText(id::kErrorField, FormatDecimal(sector));
        break;
      case CloneMode::kErrBreak: {
        // Field 1040 holds the failed chunk's first sector when a chunk was
        // copied before it: the next run starts one chunk earlier.
        const std::string shown = w_.Text(id::kSectorNum);
        if (shown != "SectorNum") {
          w_.SetText(id::kStartSector, FormatDecimal(ParseDecimal(shown) - base::kChunkSectors));
        }
        w_.SetText(id::kErrorField, FormatDecimal(sector));
        break;
      }
      case CloneMode::kErrPause: {
        // Field 1040 holds the bad sector when a sector was copied before
        // it: the next run starts just past it.
        const std::string shown = w_.Text(id::kSectorNum);
        w_.SetText(id::kBadSector, shown);
        w_.SetText(id::kStartSector, FormatDecimal(ParseDecimal(shown) + 1));
        w_.SetText(id::kErrorField, FormatDecimal(sector));
        break;
      }
    }
    if (observer_) observer_->OnUnreadable(sector, sectors);
  }
  void OnEnd(const base::RunEnd& e) override {
    if (observer_) observer_->OnEnd(e);
  }

 private:
  app::WindowModel& w_;
  CloneMode mode_;
  base::Reporter* observer_;
  uint64_t bad_ = 0;
};

// One run of a mode in the window, from its first question to the closing
// of both drives.
class CloneCommand {
 public:
  CloneCommand(app::WindowModel& w, const Variant& v, base::Reporter* observer, RescueMap* map,
               const std::function<void()>& saveMap, const std::vector<WorkItem>* plan = nullptr)
      : w_(w), v_(v), observer_(observer), map_(map), saveMap_(saveMap), plan_(plan) {}
  End Execute();

 private:
  bool ReconcileSizes();
  bool OpenDrives();
  bool TargetIsSource();

  app::WindowModel& w_;
  const Variant& v_;
  base::Reporter* observer_;
  RescueMap* map_;
  const std::function<void()>& saveMap_;
  const std::vector<WorkItem>* plan_;
  platform::DeviceHandle source_;
  platform::DeviceHandle target_;
  uint64_t targetEnd_ = 0;
};

End CloneCommand::Execute() {
  if (RefuseOverlap(w_, w_.m_sourceDrive, w_.m_targetDrive)) return End::kEarly;
  if (v_.confirm && w_.AppMessageBox("The data on " + w_.Text(id::kTargetDrive) +
                                         " will lost !!! Proceed (Yes/No) ?",
                                     Buttons::kYesNo, BoxKind::kQuestion) != Answer::kYes) {
    return End::kEarly;
  }
  // After Ctrl-C the request stays set: no new run starts.
  g_stopRequest = g_interruptRequest.load();
  if (g_interruptRequest) return End::kEarly;
  if (v_.mode == CloneMode::kErrPause) w_.SetText(id::kErrorField, "");
  if (!ReconcileSizes()) return End::kEarly;
  CloneSettings settings;
  settings.byteCount = ParseDecimal(w_.Text(id::kProgress));
  settings.start = ParseDecimal(w_.Text(id::kStartSector));
  if (!OpenDrives()) return End::kEarly;
  settings.source = source_.get();
  settings.target = target_.get();
  settings.targetLength = targetEnd_;
  settings.mode = v_.mode;
  settings.copyLayout = v_.layout && plan_ == nullptr;
  settings.sourceCapacity = w_.m_sourceCapacity;
  settings.targetCapacity = w_.m_targetCapacity;
  settings.stop = &g_stopRequest;
  settings.interrupt = &g_interruptRequest;
  settings.map = map_;
  settings.saveMap = saveMap_;
  settings.plan = plan_;

  WindowReporter reporter(w_, v_.mode, observer_);
  app::StripReporter strip(w_, 1, false);
  base::TeeReporter shown(reporter, &strip);
  const CloneEnd end = RunClone(settings, shown);
  switch (end) {
    case CloneEnd::kLayoutUnreadable:
      w_.MessageBox("IOCTL_DISK_GET_DRIVE_LAYOUT error", "error");
      return End::kEarly;
    case CloneEnd::kLayoutNotSet:
      w_.MessageBox("set drive error", "error");
      return End::kEarly;
    case CloneEnd::kStartBeyondDisk:
      w_.MessageBox("The start sector number is out of the disk !", "");
      return End::kEarly;
    case CloneEnd::kNoMemory:
      return End::kEarly;
    case CloneEnd::kRan:
    case CloneEnd::kWriteFailed:
      break;
  }
  w_.SetText(id::kProgress, "0");
  target_.reset();
  source_.reset();
  if (end == CloneEnd::kWriteFailed) {
    w_.AppMessageBox("write destine disk error");
    return End::kWriteFailed;
  }
  return End::kLoop;
}

bool CloneCommand::ReconcileSizes() {
  const uint64_t source = w_.m_sourceCapacity;
  const uint64_t target = w_.m_targetCapacity;
  if (target >= source) {
    w_.SetText(id::kProgress, FormatDecimal(source));
    return true;
  }
  if (v_.askSize && w_.AppMessageBox("TargetDisk > SourceDisk ! Proceed(Yes/No) ?",
                                     Buttons::kYesNo, BoxKind::kQuestion) != Answer::kYes) {
    return false;
  }
  w_.SetText(id::kProgress, FormatDecimal(target));
  return true;
}

bool CloneCommand::OpenDrives() {
  platform::DeviceOpener& opener = w_.opener();
  // The source is only read: opened read-only, a card the desktop mounted
  // on insertion can still be cloned, and nothing is ever written to it.
  source_ = app::OpenSelectedSource(w_, platform::Access::kRead);
  if (!source_) return false;
  // The target is opened exclusively where the system allows it (a mounted
  // block device is refused); the source itself is never a target.
  // A drive holding the running system or a mounted file system is never
  // written: said in words first, then refused as an open that failed.
  if (!TargetIsSource() && !app::RefuseWriteTarget(w_, w_.m_targetDrive)) {
    target_ =
        opener.Open(platform::kDevicePrefix + w_.m_targetDrive, platform::Access::kReadWrite);
  }
  if (!target_ || !target_->Length(&targetEnd_)) {
    target_.reset();
    source_.reset();
    w_.AppMessageBox("open destine disk error");
    return false;
  }
  return true;
}

bool CloneCommand::TargetIsSource() {
  const platform::DeviceOpener& opener = w_.opener();
  const std::string source = opener.Resolve(platform::StripDevicePrefix(w_.m_sourceDrive));
  const std::string target = opener.Resolve(platform::StripDevicePrefix(w_.m_targetDrive));
  return !source.empty() && !target.empty() && platform::SameFile(source, target);
}

// Whether a run is in hand. The window handles its events between chunks,
// so a clone command could arrive during a run; it is ignored then, rather
// than opening the same drives a second time.
bool g_running = false;

End RunVariant(app::WindowModel& w, const Variant& v, base::Reporter* observer, RescueMap* map,
               const std::function<void()>& saveMap,
               const std::vector<WorkItem>* plan = nullptr) {
  if (g_running) return End::kEarly;
  g_running = true;
  CloneCommand run(w, v, observer, map, saveMap, plan);
  const End end = run.Execute();
  g_running = false;
  return end;
}

const Variant& VariantOf(CloneMode mode) {
  switch (mode) {
    case CloneMode::kClone:
      return kClone;
    case CloneMode::k512SecJmp:
      return k512SecJmp;
    case CloneMode::kErrBreak:
      return kErrBreak;
    case CloneMode::kOneSector:
      return kOneSector;
    case CloneMode::kErrPause:
      return kErrPause;
  }
  return kClone;
}

}  // namespace

void Target(app::WindowModel& w) {
  const app::Control& list = w.driveList();
  std::string name;
  uint64_t capacity = 0;
  if (list.selected >= 0 && static_cast<size_t>(list.selected) < list.rows.size()) {
    const std::vector<std::string>& row = list.rows[static_cast<size_t>(list.selected)];
    if (!row.empty()) name = row[0];
    if (row.size() > kCapacityColumn) capacity = ParseDecimal(row[kCapacityColumn]);
  }
  w.m_targetCapacity = capacity;
  w.m_targetDrive = name;
  w.UpdateData(false);
}

void RunCloneCommand(app::WindowModel& w, CloneMode mode, base::Reporter* observer,
                     RescueMap* map, const std::function<void()>& saveMap) {
  const End end = RunVariant(w, VariantOf(mode), observer, map, saveMap);
  // ErrBreakClone: whatever ended the loop, the sector-by-sector pass
  // follows; not after an early end, a failed write, or Ctrl-C.
  // ErrPauseOneSec: a run whose loop ended steps the start sector by Add.
  if (mode == CloneMode::kErrBreak && end == End::kLoop && !g_interruptRequest) {
    RunCloneCommand(w, CloneMode::kErrPause, observer, map, saveMap);
  } else if (mode == CloneMode::kErrPause && end == End::kLoop) {
    Add(w);
  }
}

void ResumeCloneCommand(app::WindowModel& w, CloneMode mode, const std::vector<WorkItem>& plan,
                        RescueMap& map, const std::function<void()>& saveMap,
                        base::Reporter* observer) {
  RunVariant(w, VariantOf(mode), observer, &map, saveMap, &plan);
}

void Clone(app::WindowModel& w) { RunCloneCommand(w, CloneMode::kClone); }
void Clone512SecJmp(app::WindowModel& w) { RunCloneCommand(w, CloneMode::k512SecJmp); }
void ErrBreakClone(app::WindowModel& w) { RunCloneCommand(w, CloneMode::kErrBreak); }
void OneSectorClone(app::WindowModel& w) { RunCloneCommand(w, CloneMode::kOneSector); }
void ErrPauseOneSec(app::WindowModel& w) { RunCloneCommand(w, CloneMode::kErrPause); }

}  // namespace diskutil
