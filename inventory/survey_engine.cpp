#include "inventory/survey_engine.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "base/chunk.h"
#include "base/unreadable_tally.h"
#include "platform/chunk_reads.h"

namespace inventory {
namespace {

constexpr uint32_t kChunk = base::kChunkBytes;
constexpr uint32_t kSector = platform::kSectorSize;
constexpr uint32_t kChunkSectors = base::kChunkSectors;

}  // namespace

bool ClassifyBootSector(const uint8_t* sector, SurveyFind* find) {
  if (sector[510] != 0x55 || sector[511] != 0xAA) return false;
  if (std::memcmp(sector + 3, "NTFS", 4) == 0) {
    *find = SurveyFind::kNtfsBoot;
    return true;
  }
  if (std::memcmp(sector + 82, "FAT32", 5) == 0) {
    *find = SurveyFind::kFat32Boot;
    return true;
  }
  return false;
}

bool IsFat32TableStart(const uint8_t* sector) {
  static const uint8_t kFatStart[4] = {0xF8, 0xFF, 0xFF, 0x0F};
  return std::memcmp(sector, kFatStart, 4) == 0;
}

base::RunEnd RunSurvey(const SurveySettings& s,
                       const std::function<void(SurveyFind, uint64_t sector)>& onFind,
                       base::Reporter& reporter) {
  const auto started = std::chrono::steady_clock::now();
  platform::Device& device = *s.source;
  // The drive's capacity stops the survey too, for a drive that answers
  // reads past its end with errors.
  const platform::PassBound bound(device, s.capacity);
  uint64_t length = s.capacity;
  if (length == 0 && !device.Length(&length)) length = 0;
  uint64_t total = length;
  if (s.byteCount >= kChunk && (total == 0 || s.byteCount / kChunk * kChunk < total)) {
    total = s.byteCount / kChunk * kChunk;
  }

  std::vector<uint8_t> buffer(kChunk);
  base::RunEnd end;
  uint64_t remaining = s.byteCount;
  uint64_t sector = 0;
  base::UnreadableTally unreadable(reporter);
  int error = 0;
  while (!bound.Reached(sector * kSector)) {
    uint32_t got = 0;
    const uint64_t first = sector;
    errno = 0;
    const platform::ChunkRead read = platform::ReadZeroedChunk(device, buffer.data(), kChunk, &got);
    if (read == platform::ChunkRead::kEnd) break;
    if (read == platform::ChunkRead::kData) unreadable.Readable();
    if (read == platform::ChunkRead::kFailed) {
      error = errno;
      // A drive that is no longer there ends the survey at once.
      if (error == ENODEV || error == ENXIO) {
        unreadable.Gone(sector);
        break;
      }
      std::vector<uint64_t> badSectors;
      const uint64_t bad = platform::ReadSectorsOneByOne(
          device, buffer.data(), kChunkSectors,
          [&](uint64_t) { badSectors.push_back(device.Position() / kSector - 1); });
      // The unreadable sectors in runs, in drive order, each readable
      // stretch between them heard too.
      uint64_t next = sector;
      for (size_t i = 0; i < badSectors.size();) {
        size_t j = i + 1;
        while (j < badSectors.size() && badSectors[j] == badSectors[j - 1] + 1) ++j;
        if (badSectors[i] > next) unreadable.Readable();
        unreadable.Add(badSectors[i], badSectors[j - 1] - badSectors[i] + 1);
        next = badSectors[j - 1] + 1;
        i = j;
      }
      if (next < sector + kChunkSectors) unreadable.Readable();
      if (bound.EndsAt(bad, kChunk)) break;
    }
    for (uint32_t i = 0; i < kChunkSectors; ++i, ++sector) {
      const uint8_t* data = buffer.data() + i * kSector;
      SurveyFind find = SurveyFind::kNtfsBoot;
      if (ClassifyBootSector(data, &find)) onFind(find, sector);
      if (IsFat32TableStart(data)) onFind(SurveyFind::kFat32Table, sector);
    }
    base::Progress p;
    p.done = sector * kSector;
    p.total = total;
    p.at = first;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    p.rate = seconds > 0 ? static_cast<double>(p.done) / seconds : 0;
    reporter.OnProgress(p);
    remaining -= kChunk;
    if (remaining < kChunk) break;
    if (s.stop != nullptr && *s.stop) {
      end.outcome = base::RunOutcome::kStopped;
      break;
    }
  }
  end.resumeSector = sector;
  unreadable.Finish(end, error);
  reporter.OnEnd(end);
  return end;
}

}  // namespace inventory
