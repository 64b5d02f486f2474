#include "diskutil/clone.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "diskutil/bad_sector_log.h"
#include "diskutil/clone_controls.h"
#include "diskutil/drive_layout.h"
#include "platform/fs.h"
#include "base/numbers.h"

namespace diskutil {

std::atomic<bool> g_stopRequest{false};
std::atomic<bool> g_interruptRequest{false};

void StopRun() { g_stopRequest = true; }

void RequestInterrupt() {
  g_interruptRequest = true;
  g_stopRequest = true;
}

namespace {

using platform::Answer;
using platform::BoxKind;
using platform::Buttons;
using base::FormatDecimal;
using base::ParseDecimal;
namespace id = app::id;

constexpr uint32_t kSector = platform::kSectorSize;
constexpr uint32_t kChunk = 0x40000;  // 512 sectors
constexpr size_t kCapacityColumn = 7;

// What a member of the family does when a read fails.
enum class OnUnreadable {
  kRetrySectors,  // re-read the chunk sector by sector, skip the bad ones
  kSkipChunk,     // skip the whole chunk
  kBreakBack,     // stop; start sector one chunk before the failed one
  kSkipSector,    // skip the sector, logged twice
  kPause,         // stop; start sector just past the bad one
};

struct Variant {
  const char* record;  // prefix of its bad-sector log records
  bool confirm;        // asks before anything is overwritten
  bool askSize;        // asks when the target is the smaller drive
  bool layout;         // copies the partition layout first
  uint32_t unit;       // bytes per read
  OnUnreadable onUnreadable;
};

constexpr Variant kClone{"Clone= ", true, true, true, kChunk, OnUnreadable::kRetrySectors};
constexpr Variant k512SecJmp{"512SecJmp = ", true, true, true, kChunk, OnUnreadable::kSkipChunk};
constexpr Variant kErrBreak{"ErrBreakClone = ", false, true, false, kChunk,
                            OnUnreadable::kBreakBack};
constexpr Variant kOneSector{"OneSecClone = ", true, true, false, kSector,
                             OnUnreadable::kSkipSector};
constexpr Variant kErrPause{"ErrPauseOneSec = ", false, false, false, kSector,
                            OnUnreadable::kPause};

// How a run ended: before its loop (a question answered No, a drive that
// cannot be opened, a layout failure, a start sector out of the disk), at
// the end of its loop, or on a write the target refused.
enum class End { kEarly, kLoop, kWriteFailed };
enum class Step { kGoOn, kLeave, kWriteFailed };

struct FreeDeleter {
  void operator()(uint8_t* p) const { std::free(p); }
};

// One run of a member of the family, from its first question to the closing
// of both drives.
class CloneRun {
 public:
  CloneRun(app::WindowModel& w, const Variant& v) : w_(w), v_(v) {}
  End Execute();

 private:
  bool ReconcileSizes();
  bool OpenDrives();
  bool TargetIsSource();
  bool TransferLayout();
  End Loop();
  Step Write(const uint8_t* data, uint32_t count);
  Step Unreadable();
  Step RetrySectors();
  Step BreakBack();
  Step Pause();
  void SkipPast(uint64_t sector, uint64_t sectors);
  void CountBadSector();
  void Log(uint64_t sector, const char* tail = "");
  void Finish(End end);

  app::WindowModel& w_;
  const Variant& v_;
  platform::DeviceHandle source_;
  platform::DeviceHandle target_;
  std::unique_ptr<uint8_t, FreeDeleter> buffer_;
  uint64_t targetEnd_ = 0;  // the target's length: nothing is written past it
  uint64_t current_ = 0;    // first sector of the unit in hand
  uint64_t toGo_ = 0;       // bytes still to copy
  uint64_t bad_ = 0;        // bad sectors of this run
};

End CloneRun::Execute() {
  if (v_.confirm && w_.AppMessageBox("The data on " + w_.Text(id::kTargetDrive) +
                                         " will lost !!! Proceed (Yes/No) ?",
                                     Buttons::kYesNo, BoxKind::kQuestion) != Answer::kYes) {
    return End::kEarly;
  }
  // After Ctrl-C the request stays set: no new run starts.
  g_stopRequest = g_interruptRequest.load();
  if (g_interruptRequest) return End::kEarly;
  if (v_.onUnreadable == OnUnreadable::kPause) w_.SetText(id::kErrorField, "");
  if (!ReconcileSizes()) return End::kEarly;
  const uint64_t byteCount = ParseDecimal(w_.Text(id::kProgress));
  const uint64_t start = ParseDecimal(w_.Text(id::kStartSector));
  if (!OpenDrives()) return End::kEarly;
  if (v_.layout && !TransferLayout()) return End::kEarly;

  // A start sector whose byte offset does not fit 64 bits lies beyond any disk.
  uint64_t startByte = 0;
  const bool beyond = __builtin_mul_overflow(start, uint64_t{kSector}, &startByte);
  if (!beyond) {
    source_->Seek(startByte);
    target_->Seek(startByte);
  }
  current_ = start;
  bad_ = 0;
  if (beyond || byteCount <= startByte) {
    w_.MessageBox("The start sector number is out of the disk !", "");
    return End::kEarly;
  }
  toGo_ = byteCount - startByte;
  buffer_.reset(static_cast<uint8_t*>(std::aligned_alloc(4096, kChunk)));
  if (!buffer_) return End::kEarly;

  const End end = Loop();
  Finish(end);
  return end;
}

bool CloneRun::ReconcileSizes() {
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

bool CloneRun::OpenDrives() {
  platform::DeviceOpener& opener = w_.opener();
  // The source is only read: opened read-only, a card the desktop mounted
  // on insertion can still be cloned, and nothing is ever written to it.
  source_ = app::OpenSelectedSource(w_, platform::Access::kRead);
  if (!source_) return false;
  // The target is opened exclusively where the system allows it (a mounted
  // block device is refused); the source itself is never a target.
  if (!TargetIsSource()) {
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

bool CloneRun::TargetIsSource() {
  const platform::DeviceOpener& opener = w_.opener();
  const std::string source = opener.Resolve(platform::StripDevicePrefix(w_.m_sourceDrive));
  const std::string target = opener.Resolve(platform::StripDevicePrefix(w_.m_targetDrive));
  return !source.empty() && !target.empty() && platform::SameFile(source, target);
}

bool CloneRun::TransferLayout() {
  DriveLayoutInformation layout;
  uint32_t returned = 0;
  if (!GetDriveLayout(*source_, &layout, &returned)) {
    w_.MessageBox("IOCTL_DISK_GET_DRIVE_LAYOUT error", "error");
    return false;
  }
  MarkRewrite(&layout, w_.m_sourceCapacity, w_.m_targetCapacity);
  // The read-back is only a check that the target answers.
  if (!SetDriveLayout(*target_, layout, returned) ||
      (layout = DriveLayoutInformation{}, !GetDriveLayout(*target_, &layout, &returned))) {
    w_.MessageBox("set drive error", "error");
    return false;
  }
  return true;
}

// The loop every member shares: read a unit, write it or handle the failed
// read, then the progress fields and the stop request. A first unit is
// always copied; the loop ends when less than a unit is left to go.
End CloneRun::Loop() {
  const uint32_t unit = v_.unit;
  uint8_t* buffer = buffer_.get();
  for (;;) {
    std::memset(buffer, 0, unit);
    uint32_t got = 0;
    const bool ok = source_->Read(buffer, unit, &got);
    if (unit == kChunk) source_->Flush();
    if (ok && got == 0) return End::kLoop;
    const Step step = ok ? Write(buffer, unit) : Unreadable();
    if (step == Step::kWriteFailed) return End::kWriteFailed;
    if (step == Step::kLeave) return End::kLoop;
    current_ += unit / kSector;
    // Fewer bytes than a unit to go at the start still copy one whole
    // unit; the count never wraps below zero.
    toGo_ = toGo_ > unit ? toGo_ - unit : 0;
    if (toGo_ < unit) return End::kLoop;
    w_.SetText(id::kProgress, FormatDecimal(toGo_));
    w_.SetText(id::kSectorNum, FormatDecimal(current_));
    if (g_stopRequest) return End::kLoop;
  }
}

// Writes `count` bytes at the target's position and flushes them. Bytes past
// the target's end are not written (an image file does not grow, a device
// is not written past its end), but the position moves on as if they were.
Step CloneRun::Write(const uint8_t* data, uint32_t count) {
  const uint64_t position = target_->Position();
  uint32_t fits = 0;
  if (position < targetEnd_) {
    fits = targetEnd_ - position < count ? static_cast<uint32_t>(targetEnd_ - position) : count;
  }
  uint32_t written = 0;
  if (fits > 0 && (!target_->Write(data, fits, &written) || written != fits)) {
    return Step::kWriteFailed;
  }
  if (fits < count) target_->Skip(count - fits);
  return target_->Flush() ? Step::kGoOn : Step::kWriteFailed;
}

Step CloneRun::Unreadable() {
  switch (v_.onUnreadable) {
    case OnUnreadable::kRetrySectors:
      return RetrySectors();
    case OnUnreadable::kSkipChunk:
      SkipPast(current_, kChunk / kSector);
      w_.SetText(id::kErrorField, FormatDecimal(current_));
      Log(current_);
      return Step::kGoOn;
    case OnUnreadable::kBreakBack:
      return BreakBack();
    case OnUnreadable::kSkipSector:
      SkipPast(current_, 1);
      CountBadSector();
      Log(current_);
      Log(current_, "\r\n");
      return Step::kGoOn;
    case OnUnreadable::kPause:
      return Pause();
  }
  return Step::kLeave;
}

Step CloneRun::RetrySectors() {
  // Both drives start the retry at the chunk's first sector, wherever the
  // failed read left them, so each sector is read and written in its place.
  source_->Seek(current_ * kSector);
  target_->Seek(current_ * kSector);
  for (uint32_t i = 0; i < kChunk / kSector; ++i) {
    uint8_t* slot = buffer_.get() + i * kSector;
    uint32_t got = 0;
    if (source_->Read(slot, kSector, &got)) {
      if (Write(slot, kSector) == Step::kWriteFailed) return Step::kWriteFailed;
      continue;
    }
    SkipPast(current_ + i, 1);
    CountBadSector();
    Log(current_);  // the chunk's first sector, once per bad sector
  }
  return Step::kGoOn;
}

Step CloneRun::BreakBack() {
  // Field 1040 holds the failed chunk's first sector when a chunk was
  // copied before it: the next run starts one chunk earlier.
  const std::string shown = w_.Text(id::kSectorNum);
  if (shown != "SectorNum") {
    w_.SetText(id::kStartSector, FormatDecimal(ParseDecimal(shown) - kChunk / kSector));
  }
  w_.SetText(id::kErrorField, FormatDecimal(current_));
  Log(current_);
  return Step::kLeave;
}

Step CloneRun::Pause() {
  SkipPast(current_, 1);
  // Field 1040 holds the bad sector when a sector was copied before it:
  // the next run starts just past it.
  const std::string shown = w_.Text(id::kSectorNum);
  w_.SetText(id::kBadSector, shown);
  w_.SetText(id::kStartSector, FormatDecimal(ParseDecimal(shown) + 1));
  w_.SetText(id::kErrorField, FormatDecimal(current_));
  Log(current_);
  return Step::kLeave;
}

// Moves both drives past unreadable sectors, so that the target's sectors
// keep their contents. The positions are set, not moved by a count: a failed
// read may or may not have moved the source.
void CloneRun::SkipPast(uint64_t sector, uint64_t sectors) {
  source_->Seek((sector + sectors) * kSector);
  target_->Seek((sector + sectors) * kSector);
}

// Field 1039 shows the count before this sector is counted: 0 at the first.
void CloneRun::CountBadSector() {
  w_.SetText(id::kBadSector, bad_ == 0 ? "0" : FormatDecimal(bad_));
  ++bad_;
}

void CloneRun::Log(uint64_t sector, const char* tail) {
  AppendBadSectorLog(v_.record + FormatDecimal(sector) + tail);
}

void CloneRun::Finish(End end) {
  w_.SetText(id::kProgress, "0");
  target_->Flush();
  if (end == End::kWriteFailed) source_->Flush();
  target_.reset();
  source_.reset();
  if (end == End::kWriteFailed) w_.AppMessageBox("write destine disk error");
}

// Whether a run is in hand. The window handles its events between chunks,
// so a clone command could arrive during a run; it is ignored then, rather
// than opening the same drives a second time.
bool g_running = false;

End RunVariant(app::WindowModel& w, const Variant& v) {
  if (g_running) return End::kEarly;
  g_running = true;
  CloneRun run(w, v);
  const End end = run.Execute();
  g_running = false;
  return end;
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

void Clone(app::WindowModel& w) { RunVariant(w, kClone); }

void Clone512SecJmp(app::WindowModel& w) { RunVariant(w, k512SecJmp); }

void ErrBreakClone(app::WindowModel& w) {
  // Whatever ended the loop, the sector-by-sector pass follows; not after
  // an early end, a failed write, or Ctrl-C.
  if (RunVariant(w, kErrBreak) == End::kLoop && !g_interruptRequest) ErrPauseOneSec(w);
}

void OneSectorClone(app::WindowModel& w) { RunVariant(w, kOneSector); }

void ErrPauseOneSec(app::WindowModel& w) {
  if (RunVariant(w, kErrPause) == End::kLoop) Add(w);
}

}  // namespace diskutil
