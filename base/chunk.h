// The unit of every pass over a drive, and the buffer it is read into.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace base {

constexpr uint32_t kSectorBytes = 512;
constexpr uint32_t kChunkSectors = 512;
constexpr uint32_t kChunkBytes = kChunkSectors * kSectorBytes;  // 0x40000

struct FreeDeleter {
  void operator()(uint8_t* p) const { std::free(p); }
};

// A buffer aligned for direct reads of a block device, zeroed when made.
// Null when memory is short.
using AlignedBuffer = std::unique_ptr<uint8_t, FreeDeleter>;

// Returns: a zeroed buffer of `bytes` (rounded up to 4096) aligned to 4096, or null.
inline AlignedBuffer MakeAlignedBuffer(size_t bytes) {
  const size_t rounded = (bytes + 4095) / 4096 * 4096;
  auto* p = static_cast<uint8_t*>(std::aligned_alloc(4096, rounded));
  if (p != nullptr) std::memset(p, 0, rounded);
  return AlignedBuffer(p);
}

}  // namespace base
