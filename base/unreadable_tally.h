// What a pass over a drive keeps of the sectors it could not read: it tells
// the reporter of each unreadable area, counts them, and at the end tells
// whether the drive as a whole could not be read from some sector on (every
// read failing from there to the end, or the drive gone away), which ends
// the run as a failure rather than as a scan that found nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/run_report.h"

namespace base {

// A run of unreadable sectors this long that reaches the end of a pass is
// taken as a drive that went away (32768 sectors, 16 MiB).
constexpr uint64_t kDeadRunSectors = 32768;

class UnreadableTally {
 public:
  explicit UnreadableTally(Reporter& reporter) : reporter_(reporter) {}
  // `sectors` sectors from `first` could not be read: reported and counted.
  // Areas come in drive order.
  void Add(uint64_t first, uint64_t sectors);
  // A sector after the last area was read: the drive answers again.
  void Readable();
  // A read said the drive is no longer there (ENODEV, ENXIO) at `sector`.
  void Gone(uint64_t sector);
  // Sets the end's count of unreadable sectors, and, for a drive that could
  // not be read from a sector N on, the outcome kFailed with `error` and the
  // words "the drive could not be read from sector N on: was it removed?".
  void Finish(RunEnd& end, int error) const;
  uint64_t count() const { return count_; }

 private:
  Reporter& reporter_;
  uint64_t count_ = 0;
  bool anyReadable_ = false;
  std::optional<uint64_t> failingFrom_;  // the first sector of the failing run going on
  uint64_t failingEnd_ = 0;
  std::optional<uint64_t> goneAt_;
};

// The words of a drive that could not be read from `sector` on.
std::string DriveLostText(uint64_t sector);

}  // namespace base
