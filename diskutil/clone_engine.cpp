#include "diskutil/clone_engine.h"

#include <cerrno>
#include <algorithm>
#include <chrono>
#include <cstring>

#include "base/chunk.h"
#include "base/numbers.h"
#include "diskutil/bad_sector_log.h"
#include "diskutil/drive_layout.h"

namespace diskutil {
namespace {

constexpr uint32_t kSector = platform::kSectorSize;
constexpr uint32_t kChunk = base::kChunkBytes;
constexpr uint64_t kChunkSectors = base::kChunkSectors;

enum class Step { kGoOn, kLeave, kWriteFailed };

bool ReadsChunks(CloneMode mode) {
  return mode == CloneMode::kClone || mode == CloneMode::k512SecJmp ||
         mode == CloneMode::kErrBreak;
}

// One run of the engine, from the layout to the last flush.
class CloneRun {
 public:
  CloneRun(const CloneSettings& s, base::Reporter& r)
      : s_(s), r_(r), unit_(ReadsChunks(s.mode) ? kChunk : kSector) {}
  CloneEnd Execute();
  CloneEnd ExecutePlan(base::RunEnd& end);
  // Returns: false after telling the reporter that no chunk buffer could be had.
  bool AllocateChunk(base::RunEnd& end);
  CloneEnd Finish(Step step, base::RunEnd& end);

 private:
  CloneEnd TransferLayout();
  Step Loop();
  Step RunPlan();
  Step CopyArea(uint64_t first, uint64_t end);
  Step ReadSectors(uint64_t first, uint64_t end, bool onlyBad);
  bool AfterUnit();
  bool StopRequested() const;
  Step Write(const uint8_t* data, uint32_t count);
  Step Unreadable(uint64_t sectors = kChunkSectors);
  Step RetrySectors(uint64_t sectors = kChunkSectors);
  void SkipPast(uint64_t sector, uint64_t sectors);
  void Report(uint64_t sector, uint64_t sectors);
  void Log(uint64_t sector, const char* tail = "");
  void ReportProgress();
  void KeepMap(bool ending);

  const CloneSettings& s_;
  base::Reporter& r_;
  const uint32_t unit_;
  base::AlignedBuffer buffer_;
  uint64_t current_ = 0;  // first sector of the unit in hand
  uint64_t total_ = 0;    // bytes of the range
  uint64_t toGo_ = 0;     // bytes still to copy
  uint64_t bad_ = 0;      // sectors reported unreadable
  uint64_t resume_ = 0;   // set when the mode's break ends the run
  bool broke_ = false;
  bool stopped_ = false;
  MapPhase phase_ = MapPhase::kCopying;  // what the map's position line shows
  unsigned pass_ = 1;
  std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point mapSaved_ = started_;
};

CloneEnd CloneRun::Execute() {
  base::RunEnd end;
  end.outcome = base::RunOutcome::kNotStarted;
  end.resumeSector = s_.start;
  if (s_.plan != nullptr && s_.map != nullptr) return ExecutePlan(end);
  if (s_.copyLayout) {
    const CloneEnd layout = TransferLayout();
    if (layout != CloneEnd::kRan) {
      end.why = layout == CloneEnd::kLayoutUnreadable ? "the source's layout cannot be read"
                                                       : "the layout cannot be set on the target";
      r_.OnEnd(end);
      return layout;
    }
  }
  // A start sector whose byte offset does not fit 64 bits lies beyond any disk.
  uint64_t startByte = 0;
  const bool beyond = __builtin_mul_overflow(s_.start, uint64_t{kSector}, &startByte);
  if (!beyond) {
    s_.source->Seek(startByte);
    s_.target->Seek(startByte);
  }
  current_ = s_.start;
  if (beyond || s_.byteCount <= startByte) {
    end.why = "the start sector is out of the disk";
    r_.OnEnd(end);
    return CloneEnd::kStartBeyondDisk;
  }
  total_ = toGo_ = s_.byteCount - startByte;
  if (!AllocateChunk(end)) return CloneEnd::kNoMemory;

  return Finish(Loop(), end);
}

bool CloneRun::AllocateChunk(base::RunEnd& end) {
  buffer_ = base::MakeAlignedBuffer(kChunk);
  if (buffer_) return true;
  end.error = ENOMEM;
  end.why = "no memory for a chunk";
  r_.OnEnd(end);
  return false;
}

CloneEnd CloneRun::Finish(Step step, base::RunEnd& end) {
  s_.target->Flush();
  if (step == Step::kWriteFailed) s_.source->Flush();
  KeepMap(true);

  end.outcome = base::RunOutcome::kEndOfDrive;
  end.resumeSector = broke_ ? resume_ : current_;
  end.unreadableSectors = bad_;
  if (step == Step::kWriteFailed) {
    end.outcome = base::RunOutcome::kFailed;
    end.error = EIO;
    end.why = "the target refused a write";
  } else if (broke_) {
    end.outcome = base::RunOutcome::kFailed;
    end.error = EIO;
    end.why = "an unreadable area ends this mode's run";
  } else if (stopped_) {
    end.outcome = base::RunOutcome::kStopped;
  }
  r_.OnEnd(end);
  return step == Step::kWriteFailed ? CloneEnd::kWriteFailed : CloneEnd::kRan;
}

CloneEnd CloneRun::ExecutePlan(base::RunEnd& end) {
  for (const WorkItem& item : *s_.plan) total_ += item.size;
  toGo_ = total_;
  if (!AllocateChunk(end)) return CloneEnd::kNoMemory;
  return Finish(RunPlan(), end);
}

// Works through the plan's steps in order, each in whole sectors (an area of
// a map from elsewhere that ends inside a sector takes the whole sector).
Step CloneRun::RunPlan() {
  for (const WorkItem& item : *s_.plan) {
    const uint64_t first = item.pos / kSector;
    const uint64_t end = item.pos / kSector + (item.pos % kSector + item.size + kSector - 1) / kSector;
    phase_ = PhaseOf(item.kind);
    pass_ = item.kind == WorkKind::kRetryBad ? item.attempt : 1;
    current_ = first;
    const Step step = item.kind == WorkKind::kCopy
                          ? CopyArea(first, end)
                          : ReadSectors(first, end, item.kind == WorkKind::kRetryBad);
    if (step != Step::kGoOn) return step;
    toGo_ -= std::min(toGo_, item.size);
  }
  current_ = s_.map->size() / kSector;
  return Step::kLeave;
}

// Copies the sectors [first, end) in the mode's units, the last unit cut at
// `end`; an unreadable unit is met as the mode meets it.
Step CloneRun::CopyArea(uint64_t first, uint64_t end) {
  const uint64_t unitSectors = unit_ / kSector;
  const uint64_t before = toGo_;
  for (current_ = first; current_ < end;) {
    const uint64_t sectors = std::min(unitSectors, end - current_);
    const uint32_t bytes = static_cast<uint32_t>(sectors * kSector);
    s_.source->Seek(current_ * kSector);
    s_.target->Seek(current_ * kSector);
    std::memset(buffer_.get(), 0, bytes);
    uint32_t got = 0;
    const bool ok = s_.source->Read(buffer_.get(), bytes, &got);
    if (unit_ == kChunk) s_.source->Flush();
    if (ok && got == 0) return Step::kLeave;
    const Step step = ok ? Write(buffer_.get(), bytes) : Unreadable(sectors);
    if (step != Step::kGoOn) return step;
    current_ += sectors;
    toGo_ = before - std::min(before, (current_ - first) * kSector);
    if (!AfterUnit()) return Step::kLeave;
  }
  toGo_ = before;
  return Step::kGoOn;
}

// Reads the sectors [first, end) one at a time; a sector that fails is
// unreadable. With `onlyBad`, only the sectors the map shows unreadable are
// read (once more each).
Step CloneRun::ReadSectors(uint64_t first, uint64_t end, bool onlyBad) {
  const uint64_t before = toGo_;
  for (current_ = first; current_ < end; ++current_) {
    if (current_ * kSector >= s_.map->size()) break;
    if (onlyBad && s_.map->StatusAt(current_ * kSector) != AreaStatus::kBad) continue;
    s_.source->Seek(current_ * kSector);
    s_.target->Seek(current_ * kSector);
    uint32_t got = 0;
    if (s_.source->Read(buffer_.get(), kSector, &got) && got == kSector) {
      if (Write(buffer_.get(), kSector) == Step::kWriteFailed) return Step::kWriteFailed;
    } else {
      bad_ += 1;
      s_.map->Set(current_ * kSector, kSector, AreaStatus::kBad);
      r_.OnUnreadable(current_, 1);
    }
    toGo_ = before - std::min(before, (current_ + 1 - first) * kSector);
    if (!AfterUnit()) {
      ++current_;
      return Step::kLeave;
    }
  }
  toGo_ = before;
  return Step::kGoOn;
}

// After a unit of a plan's step: progress, the map, and the stop request.
// False when the run is to stop.
bool CloneRun::AfterUnit() {
  ReportProgress();
  KeepMap(false);
  if (StopRequested()) {
    stopped_ = true;
    return false;
  }
  return true;
}

bool CloneRun::StopRequested() const {
  return (s_.stop != nullptr && *s_.stop) || (s_.interrupt != nullptr && *s_.interrupt);
}

CloneEnd CloneRun::TransferLayout() {
  DriveLayoutInformation layout;
  uint32_t returned = 0;
  if (!GetDriveLayout(*s_.source, &layout, &returned)) return CloneEnd::kLayoutUnreadable;
  MarkRewrite(&layout, s_.sourceCapacity, s_.targetCapacity);
  // The read-back is only a check that the target answers.
  if (!SetDriveLayout(*s_.target, layout, returned) ||
      (layout = DriveLayoutInformation{}, !GetDriveLayout(*s_.target, &layout, &returned))) {
    return CloneEnd::kLayoutNotSet;
  }
  return CloneEnd::kRan;
}

// The loop every mode shares: read a unit, write it or handle the failed
// read, then progress and the stop request. A first unit is always copied;
// the loop ends when less than a unit is left to go.
Step CloneRun::Loop() {
  uint8_t* buffer = buffer_.get();
  for (;;) {
    std::memset(buffer, 0, unit_);
    uint32_t got = 0;
    const bool ok = s_.source->Read(buffer, unit_, &got);
    if (unit_ == kChunk) s_.source->Flush();
    if (ok && got == 0) return Step::kLeave;
    const Step step = ok ? Write(buffer, unit_) : Unreadable(unit_ / kSector);
    if (step != Step::kGoOn) return step;
    current_ += unit_ / kSector;
    // Fewer bytes than a unit to go at the start still copy one whole
    // unit; the count never wraps below zero.
    toGo_ = toGo_ > unit_ ? toGo_ - unit_ : 0;
    if (toGo_ < unit_) return Step::kLeave;
    ReportProgress();
    KeepMap(false);
    if (StopRequested()) {
      stopped_ = true;
      return Step::kLeave;
    }
  }
}

void CloneRun::ReportProgress() {
  base::Progress p;
  p.total = total_;
  p.done = total_ - toGo_;
  p.at = current_;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
  p.rate = seconds > 0 ? static_cast<double>(p.done) / seconds : 0;
  r_.OnProgress(p);
}

// Writes `count` bytes at the target's position and flushes them. Bytes past
// the target's end are not written (an image file does not grow, a device
// is not written past its end), but the position moves on as if they were.
Step CloneRun::Write(const uint8_t* data, uint32_t count) {
  platform::Device& target = *s_.target;
  const uint64_t position = target.Position();
  uint32_t fits = 0;
  if (position < s_.targetLength) {
    fits = s_.targetLength - position < count ? static_cast<uint32_t>(s_.targetLength - position)
                                               : count;
  }
  uint32_t written = 0;
  if (fits > 0 && (!target.Write(data, fits, &written) || written != fits)) {
    return Step::kWriteFailed;
  }
  if (s_.map != nullptr && fits > 0) s_.map->NoteCopied(position, fits);
  if (fits < count) target.Skip(count - fits);
  if (!target.Flush()) return Step::kWriteFailed;
  if (s_.map != nullptr) s_.map->CommitCopied();
  return Step::kGoOn;
}

// Moves the map's position to the next sector, and writes the map when the
// run ends or 10 seconds went by since it was last written.
void CloneRun::KeepMap(bool ending) {
  if (s_.map == nullptr) return;
  const uint64_t at = current_ * kSector;
  const bool finished = ending && s_.map->Total(AreaStatus::kNotTried) == 0 &&
                        s_.map->Total(AreaStatus::kSkipped) == 0;
  s_.map->SetPosition(at < s_.map->size() ? at : s_.map->size(),
                      finished ? MapPhase::kFinished : phase_, pass_);
  if (!s_.saveMap) return;
  const auto now = std::chrono::steady_clock::now();
  if (!ending && now - mapSaved_ < std::chrono::seconds(10)) return;
  mapSaved_ = now;
  s_.saveMap();
}

// `sectors`: the unit that failed (a resumed run's last unit may be cut short).
Step CloneRun::Unreadable(uint64_t sectors) {
  switch (s_.mode) {
    case CloneMode::kClone:
      return RetrySectors(sectors);
    case CloneMode::k512SecJmp:
      SkipPast(current_, sectors);
      Report(current_, sectors);
      Log(current_);
      return Step::kGoOn;
    case CloneMode::kErrBreak:
      Report(current_, sectors);
      Log(current_);
      broke_ = true;
      resume_ = current_;
      return Step::kLeave;
    case CloneMode::kOneSector:
      SkipPast(current_, 1);
      Report(current_, 1);
      Log(current_);
      Log(current_, "\r\n");
      return Step::kGoOn;
    case CloneMode::kErrPause:
      SkipPast(current_, 1);
      Report(current_, 1);
      Log(current_);
      broke_ = true;
      resume_ = current_ + 1;
      return Step::kLeave;
  }
  return Step::kLeave;
}

Step CloneRun::RetrySectors(uint64_t sectors) {
  // Both drives start the retry at the chunk's first sector, wherever the
  // failed read left them, so each sector is read and written in its place.
  s_.source->Seek(current_ * kSector);
  s_.target->Seek(current_ * kSector);
  for (uint32_t i = 0; i < sectors; ++i) {
    uint8_t* slot = buffer_.get() + i * kSector;
    uint32_t got = 0;
    if (s_.source->Read(slot, kSector, &got)) {
      if (Write(slot, kSector) == Step::kWriteFailed) return Step::kWriteFailed;
      continue;
    }
    SkipPast(current_ + i, 1);
    Report(current_ + i, 1);
    Log(current_);  // the chunk's first sector, once per bad sector
  }
  return Step::kGoOn;
}

// Moves both drives past unreadable sectors, so that the target's sectors
// keep their contents. The positions are set, not moved by a count: a failed
// read may or may not have moved the source.
void CloneRun::SkipPast(uint64_t sector, uint64_t sectors) {
  s_.source->Seek((sector + sectors) * kSector);
  s_.target->Seek((sector + sectors) * kSector);
}

void CloneRun::Report(uint64_t sector, uint64_t sectors) {
  bad_ += sectors;
  // A chunk errbreak stops at stays not tried: the next run reads it.
  if (s_.map != nullptr && s_.mode != CloneMode::kErrBreak) {
    s_.map->Set(sector * kSector, sectors * kSector,
                s_.mode == CloneMode::k512SecJmp ? AreaStatus::kSkipped : AreaStatus::kBad);
  }
  r_.OnUnreadable(sector, sectors);
}

void CloneRun::Log(uint64_t sector, const char* tail) {
  if (s_.logBadSectors) {
    AppendBadSectorLog(CloneLogRecord(s_.mode) + base::FormatDecimal(sector) + tail);
  }
}

}  // namespace

const char* CloneLogRecord(CloneMode mode) {
  switch (mode) {
    case CloneMode::kClone:
      return "Clone= ";
    case CloneMode::k512SecJmp:
      return "512SecJmp = ";
    case CloneMode::kErrBreak:
      return "ErrBreakClone = ";
    case CloneMode::kOneSector:
      return "OneSecClone = ";
    case CloneMode::kErrPause:
      return "ErrPauseOneSec = ";
  }
  return "";
}

CloneEnd RunClone(const CloneSettings& settings, base::Reporter& reporter) {
  CloneRun run(settings, reporter);
  return run.Execute();
}

}  // namespace diskutil
