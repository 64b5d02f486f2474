// The recovery scans: STARTRE (every enabled carver) and the loop they share
// with the single-type scans.
#pragma once

#include <cstdint>

#include "window/window_model.h"
#include "carvers/carver.h"
#include "platform/device.h"

namespace scan {

// Offers the sectors of one chunk to carvers. `c` is the chunk's first
// sector; all 512 sectors of `chunk` are offered, also past a short read.
class ChunkVisitor {
 public:
  virtual ~ChunkVisitor() = default;
  virtual void Visit(uint64_t c, const uint8_t* chunk) = 0;
};

// When the loop reads another chunk after the one at c: STARTRE reads on
// while c + 512 <= end + 512; the single-type scans while c + 512 <= end.
enum class LoopEnd { kOneChunkPastEnd, kAtEnd };

// The sector range of a scan, checked against the source drive, and the
// source opened and positioned at the start. Null when the scan ends here
// (the message was shown).
struct ScanRange {
  uint64_t start = 0;
  uint64_t end = 0;
  platform::DeviceHandle device;
};
ScanRange OpenScanRange(app::WindowModel& w);

// Reads the device in chunks from `range.start` on, hands each chunk to
// `visitor` and writes the progress fields after it. A read of 0 bytes ends
// the loop with "hit the end of the drive !". A chunk that cannot be read is
// offered as zeros and the loop goes on at the next chunk.
void RunChunkLoop(app::WindowModel& w, platform::Device& device, uint64_t start, uint64_t end,
                  LoopEnd loopEnd, ChunkVisitor& visitor);

// STARTRE: the recovery scan of the main window.
void StartRecovery(app::WindowModel& w);

}  // namespace scan
