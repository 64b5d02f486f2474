// The scan engine: reads a drive chunk by chunk and offers every sector to
// the carvers of the types asked for. It knows nothing of windows: it takes
// plain settings and tells a reporter what it does.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "base/run_report.h"
#include "carvers/carver.h"
#include "platform/device.h"

namespace scan {

// When the loop reads another chunk after the one at c: a recovery scan
// reads on while c + 512 <= end + 512, a single-type scan while c + 512 <= end.
enum class LoopEnd { kOneChunkPastEnd, kAtEnd };

// A type to look for, and the folder its files go into.
struct TypeToScan {
  const carvers::FileType* type;
  std::string folder;
};

struct ScanSettings {
  platform::Device* source = nullptr;  // open for reading
  uint64_t start = 0;                  // first sector
  uint64_t end = 0;                    // sector the range ends at
  LoopEnd loopEnd = LoopEnd::kOneChunkPastEnd;
  std::vector<TypeToScan> types;  // in scan order; a sector goes to each whose signature matches
  carvers::FileSink* sink = nullptr;           // null: plain output files
  // When set and true, the run ends after the chunk in hand, or at once
  // during a copy, whose file is then removed (resumeSector: its sector).
  const std::atomic<bool>* stop = nullptr;
};

// For each first byte, one bit per entry of `types` whose signature can
// start with it (every byte for a signature that does not start at offset 0).
using FirstByteFilter = std::array<uint32_t, 256>;
FirstByteFilter BuildFirstByteFilter(const std::vector<TypeToScan>& types);

// Runs a scan. A read of 0 bytes ends it (notice kEndOfDrive); a chunk that
// cannot be read is offered as zeros and the scan goes on. A failed write
// (or a create on a full, read-only or failing disk) removes the file in
// hand and ends it kFailed, with the errno and the file's first sector as
// resumeSector. Progress counts
// sectors of the range; `at` is the first sector of the chunk just scanned.
// Returns: how the run ended, as told to the reporter's OnEnd.
base::RunEnd RunScan(const ScanSettings& settings, base::Reporter& reporter);

}  // namespace scan
