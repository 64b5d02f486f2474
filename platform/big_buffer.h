// Large working buffers, such as a read cache's blocks.
#pragma once

#include <cstddef>

#include "base/chunk.h"

namespace platform {

// Returns: a buffer of `bytes` aligned to 2 MiB, not zeroed, that the kernel
// is asked to back with huge pages (one page fault per 2 MiB rather than per
// 4 KiB); null when memory is short.
base::AlignedBuffer AllocateBigBuffer(size_t bytes);

}  // namespace platform
