// Reading a drive in chunks, with a sector-by-sector second try of a chunk
// that cannot be read as a whole: the passes that must get past unreadable
// sectors (the boot-sector survey, the volume copy and read pass) share these.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/device.h"

namespace platform {

enum class ChunkRead { kData, kEnd, kFailed };

// Reads `bytes` at the position into `buffer`, as a read into a zeroed buffer
// would leave it: the part past a short read is zero, and after a failed read
// the whole buffer is zero. `*got` is the count read.
ChunkRead ReadZeroedChunk(Device& device, uint8_t* buffer, uint32_t bytes, uint32_t* got);

// Reads `sectors` sectors one by one from the position into their places in
// `buffer`. A sector that cannot be read stays zero and the position moves
// past it; `onBad` then hears the unreadable bytes counted so far. Returns
// that count.
uint64_t ReadSectorsOneByOne(Device& device, uint8_t* buffer, uint32_t sectors,
                             const std::function<void(uint64_t badBytes)>& onBad = {});

// Where a pass over a device ends, so that a device that answers a read past
// its end with an error rather than with 0 bytes still ends the pass.
class PassBound {
 public:
  // `length` is the size the caller knows (a drive's capacity), 0 for none:
  // the device's own length is then taken, when it tells one.
  explicit PassBound(Device& device, uint64_t length = 0);
  // Whether `done` bytes from the start cover the whole device.
  bool Reached(uint64_t done) const { return known_ && done >= length_; }
  // With no length known, a chunk of which nothing could be read is taken
  // as the end of the device.
  bool EndsAt(uint64_t badBytes, uint64_t chunkBytes) const {
    return !known_ && badBytes >= chunkBytes;
  }

 private:
  bool known_ = false;
  uint64_t length_ = 0;
};

}  // namespace platform
