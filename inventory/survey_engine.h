// The boot-sector survey engine: reads a drive from sector 0 in chunks and
// tells which sectors look like NTFS or FAT32 boot sectors and which like the
// start of a FAT32 allocation table. Plain settings in, finds and progress
// out; the lists that show them are the caller's.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "base/run_report.h"
#include "platform/device.h"

namespace inventory {

enum class SurveyFind { kNtfsBoot, kFat32Boot, kFat32Table };

struct SurveySettings {
  platform::Device* source = nullptr;  // open for reading, at any position
  // Bytes to survey: whole chunks, the survey ending once less than a chunk
  // is left. A count below one chunk wraps around and leaves the drive's end
  // to stop the survey.
  uint64_t byteCount = 0;
  uint64_t capacity = 0;  // the drive's capacity when known, else 0 (its length is asked)
  const std::atomic<bool>* stop = nullptr;  // when set, the run ends after the chunk in hand
};

// Returns: what a 512-byte sector is, when it is a boot sector (false else).
bool ClassifyBootSector(const uint8_t* sector, SurveyFind* find);
// Returns: whether a 512-byte sector begins a FAT32 allocation table.
bool IsFat32TableStart(const uint8_t* sector);

// Runs the survey. `onFind` hears each find with its sector, in drive order
// (a sector's boot find before its table find). Progress counts bytes
// surveyed, after each chunk; `total` is what the count and the drive's size
// allow (0 when neither is known). The end's resumeSector is the number of
// sectors examined. An unreadable chunk is read sector by sector; its
// unreadable sectors are reported and surveyed as zeros.
base::RunEnd RunSurvey(const SurveySettings& settings,
                       const std::function<void(SurveyFind, uint64_t sector)>& onFind,
                       base::Reporter& reporter);

}  // namespace inventory
