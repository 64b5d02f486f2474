// The clone engine: a drive copied onto another sector by sector, with five
// ways around unreadable areas. It takes two open drives and plain settings
// and tells a reporter what it does; questions and messages are its caller's.
//
//   kClone      chunks of 512 sectors; an unreadable chunk is retried sector
//               by sector, bad sectors skipped on both drives
//   k512SecJmp  chunks; an unreadable chunk is skipped whole
//   kErrBreak   chunks; the run ends at the first unreadable chunk
//   kOneSector  one sector at a time; bad sectors skipped
//   kErrPause   one sector at a time; the run ends at the first bad sector
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "base/run_report.h"
#include "diskutil/rescue_map.h"
#include "platform/device.h"

namespace diskutil {

enum class CloneMode { kClone, k512SecJmp, kErrBreak, kOneSector, kErrPause };

struct CloneSettings {
  platform::Device* source = nullptr;  // open for reading
  platform::Device* target = nullptr;  // open for reading and writing
  uint64_t targetLength = 0;           // the target's length: nothing is written past it
  uint64_t start = 0;                  // first sector to copy
  uint64_t byteCount = 0;              // bytes from sector 0 the clone covers
  CloneMode mode = CloneMode::kClone;
  bool copyLayout = false;     // the source's partition layout goes onto the target first
  uint64_t sourceCapacity = 0; // the drives' capacities, for the layout's rewrite mark
  uint64_t targetCapacity = 0;
  bool logBadSectors = true;   // records go to the bad-sector log (when it exists)
  const std::atomic<bool>* stop = nullptr;  // when set, the run ends after the unit in hand
  const std::atomic<bool>* interrupt = nullptr;  // a second stop request (a signal's)
  // The map of the source, kept when given: bytes become copied once the
  // target was flushed after them, a bad sector a mode steps over becomes
  // unreadable and a chunk 512secjmp skips becomes skipped. `saveMap` writes
  // it: every 10 seconds of a run and when the run ends.
  RescueMap* map = nullptr;
  std::function<void()> saveMap;
  // A resumed run: when given (with `map`), the run works through these
  // steps instead of [start, byteCount). A copy step is copied in the mode's
  // units, the last one cut at the step's end, and an unreadable unit meets
  // the mode's handling; a sector-by-sector step reads one sector at a time
  // and marks each one that fails unreadable; a retry step reads again only
  // the sectors the map still shows unreadable. The layout is not copied.
  const std::vector<WorkItem>* plan = nullptr;
};

// How RunClone ended, for a caller that words its own messages.
enum class CloneEnd {
  kRan,               // the copy loop ran (to the end, a stop, or the mode's break)
  kWriteFailed,       // the target refused a write or a flush
  kLayoutUnreadable,  // the source's layout could not be read
  kLayoutNotSet,      // the layout could not be set on the target
  kStartBeyondDisk,   // the start sector lies at or past the byte count
  kNoMemory,          // no buffer for a chunk
};

// The prefix of a mode's records in the bad-sector log.
const char* CloneLogRecord(CloneMode mode);

// Runs a clone. Progress counts bytes of the range [start, byteCount); `at`
// is the next sector to copy, reported after each unit but the last. Each
// bad sector the kClone and kOneSector modes step over is reported alone;
// k512SecJmp reports the whole chunk it skips, kErrBreak the chunk and
// kErrPause the sector that end the run. The end's resumeSector is where a
// stepwise run goes on: the failed chunk (kErrBreak), the sector past the bad
// one (kErrPause), else the first sector not copied.
CloneEnd RunClone(const CloneSettings& settings, base::Reporter& reporter);

}  // namespace diskutil
