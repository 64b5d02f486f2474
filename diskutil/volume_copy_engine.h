// The volume copy engine: a volume read through in chunks and, when a target
// is given, written raw onto another, each chunk flushed after it. Plain
// settings in, progress and unreadable sectors out; questions and messages
// are its caller's.
#pragma once

#include <atomic>
#include <cstdint>

#include "base/chunk.h"
#include "base/run_report.h"
#include "platform/device.h"

namespace diskutil {

struct VolumeCopySettings {
  platform::Device* source = nullptr;  // open for reading, at its start
  platform::Device* target = nullptr;  // open for writing; null for a read pass
  uint32_t chunkBytes = base::kChunkBytes;  // a whole number of sectors
  // An unreadable chunk is read again sector by sector, its unreadable
  // sectors going on as zeros; else it ends the pass.
  bool retrySectors = false;
  const std::atomic<bool>* stop = nullptr;  // when set, the run ends after the chunk in hand
};

enum class VolumeCopyEnd {
  kDone,         // the end of the source (or a stop)
  kUnreadable,   // an unreadable chunk ended the pass (no sector retry)
  kWriteFailed,  // the target refused a write or a flush
  kNoMemory,     // no buffer for a chunk: nothing was read
};

// Runs a copy or read pass. The pass ends at the end of the source, also when
// the source tells its end by a failed read. Progress counts bytes handled,
// after each chunk; `total` is the source's length (0 when unknown). Each
// unreadable sector of a retried chunk is reported alone; a chunk that ends
// the pass is reported whole.
VolumeCopyEnd RunVolumeCopy(const VolumeCopySettings& settings, base::Reporter& reporter);

}  // namespace diskutil
