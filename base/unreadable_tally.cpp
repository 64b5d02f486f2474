#include "base/unreadable_tally.h"

#include <cerrno>
#include <string>

namespace base {

void UnreadableTally::Add(uint64_t first, uint64_t sectors) {
  if (sectors == 0) return;
  reporter_.OnUnreadable(first, sectors);
  count_ += sectors;
  if (!failingFrom_ || first != failingEnd_) failingFrom_ = first;
  failingEnd_ = first + sectors;
}

void UnreadableTally::Readable() {
  anyReadable_ = true;
  failingFrom_.reset();
}

void UnreadableTally::Gone(uint64_t sector) {
  if (!goneAt_) goneAt_ = failingFrom_ ? *failingFrom_ : sector;
}

void UnreadableTally::Finish(RunEnd& end, int error) const {
  end.unreadableSectors = count_;
  if (end.outcome == RunOutcome::kFailed) return;  // a failure of its own (a write) tells itself
  std::optional<uint64_t> lostFrom = goneAt_;
  if (!lostFrom && failingFrom_ && end.outcome != RunOutcome::kStopped &&
      (!anyReadable_ || failingEnd_ - *failingFrom_ >= kDeadRunSectors)) {
    lostFrom = failingFrom_;
  }
  if (!lostFrom) return;
  end.outcome = RunOutcome::kFailed;
  end.error = error != 0 ? error : EIO;
  end.why = DriveLostText(*lostFrom);
  end.sourceLost = true;
}

std::string DriveLostText(uint64_t sector) {
  return "the drive could not be read from sector " + std::to_string(sector) +
         " on: was it removed?";
}

}  // namespace base
