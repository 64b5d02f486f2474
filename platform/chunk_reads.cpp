#include "platform/chunk_reads.h"

#include <cstring>

namespace platform {

ChunkRead ReadZeroedChunk(Device& device, uint8_t* buffer, uint32_t bytes, uint32_t* got) {
  *got = 0;
  // Zeroing only what the read did not fill keeps a pass over the page cache
  // at the speed of the copy alone.
  if (!device.Read(buffer, bytes, got)) {
    std::memset(buffer, 0, bytes);
    *got = 0;
    return ChunkRead::kFailed;
  }
  if (*got < bytes) std::memset(buffer + *got, 0, bytes - *got);
  return *got == 0 ? ChunkRead::kEnd : ChunkRead::kData;
}

uint64_t ReadSectorsOneByOne(Device& device, uint8_t* buffer, uint32_t sectors,
                             const std::function<void(uint64_t badBytes)>& onBad) {
  uint64_t bad = 0;
  for (uint32_t i = 0; i < sectors; ++i) {
    uint8_t* slot = buffer + static_cast<uint64_t>(i) * kSectorSize;
    std::memset(slot, 0, kSectorSize);
    uint32_t got = 0;
    if (device.Read(slot, kSectorSize, &got)) continue;
    std::memset(slot, 0, kSectorSize);
    device.Skip(kSectorSize);
    bad += kSectorSize;
    if (onBad) onBad(bad);
  }
  return bad;
}

PassBound::PassBound(Device& device, uint64_t length) : length_(length) {
  known_ = length_ > 0 || (device.Length(&length_) && length_ > 0);
}

}  // namespace platform
