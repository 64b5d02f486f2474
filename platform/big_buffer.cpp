#include "platform/big_buffer.h"

#include <sys/mman.h>

#include <cstdlib>

namespace platform {

base::AlignedBuffer AllocateBigBuffer(size_t bytes) {
  constexpr size_t kHuge = 2u << 20;
  const size_t rounded = (bytes + kHuge - 1) / kHuge * kHuge;
  auto* p = static_cast<uint8_t*>(std::aligned_alloc(kHuge, rounded));
  // Only advice: without huge pages the buffer works the same.
  if (p != nullptr) ::madvise(p, rounded, MADV_HUGEPAGE);
  return base::AlignedBuffer(p);
}

}  // namespace platform
