#include "inventory/survey.h"

#include <cstring>
#include <vector>

#include "platform/chunk_reads.h"
#include "base/numbers.h"

namespace inventory {

uint64_t g_surveySector = 0;

namespace {

constexpr uint32_t kChunk = 0x40000;
constexpr uint32_t kSector = platform::kSectorSize;
constexpr uint32_t kChunkSectors = kChunk / kSector;

void AddRow(app::Control& list, const char* type) {
  list.rows.push_back({type, base::FormatDecimal(g_surveySector)});
}

void SetColumns(app::Control& list, const char* type) {
  list.columns = {{type, app::ListColumn::kFitted}, {"SecNum", app::ListColumn::kFitted}};
}

}  // namespace

void InitBootListColumns(app::WindowModel& w) { SetColumns(w.bootList(), "BootType"); }

void InitFatListColumns(app::WindowModel& w) { SetColumns(w.fatList(), "FatType"); }

bool CheckBootSector(app::WindowModel& w, const uint8_t* sector) {
  if (sector[510] != 0x55 || sector[511] != 0xAA) return false;
  if (std::memcmp(sector + 3, "NTFS", 4) == 0) {
    AddRow(w.bootList(), "NTFS");
    return true;
  }
  if (std::memcmp(sector + 82, "FAT32", 5) == 0) {
    AddRow(w.bootList(), "FAT32");
    return true;
  }
  return false;
}

void CheckFatStart(app::WindowModel& w, const uint8_t* sector) {
  static const uint8_t kFatStart[4] = {0xF8, 0xFF, 0xFF, 0x0F};
  if (std::memcmp(sector, kFatStart, 4) == 0) AddRow(w.fatList(), "FAT32");
}

void SearchForSuspects(app::WindowModel& w) {
  uint64_t remaining = base::ParseDecimal(w.Text(app::id::kProgress));
  // The survey only reads, so the drive is opened read-only.
  platform::DeviceHandle device = app::OpenSelectedSource(w, platform::Access::kRead);
  if (!device) return;
  // A count below one chunk (an empty field) wraps around and leaves the
  // drive's end to stop the survey; the drive's capacity stops it too, for a
  // drive that answers reads past its end with errors.
  const platform::PassBound bound(*device, w.m_sourceCapacity);
  std::vector<uint8_t> buffer(kChunk);
  g_surveySector = 0;
  while (!bound.Reached(g_surveySector * kSector)) {
    uint32_t got = 0;
    const platform::ChunkRead read = platform::ReadZeroedChunk(*device, buffer.data(), kChunk, &got);
    if (read == platform::ChunkRead::kEnd) break;
    if (read == platform::ChunkRead::kFailed) {
      const uint64_t bad = platform::ReadSectorsOneByOne(*device, buffer.data(), kChunkSectors);
      if (bound.EndsAt(bad, kChunk)) break;
    }
    for (uint32_t i = 0; i < kChunkSectors; ++i) {
      const uint8_t* sector = buffer.data() + i * kSector;
      CheckBootSector(w, sector);
      CheckFatStart(w, sector);
      ++g_surveySector;
    }
    remaining -= kChunk;
    if (remaining < kChunk) break;
    w.SetText(app::id::kProgress, base::FormatDecimal(remaining));
  }
  w.SetText(app::id::kProgress, "0");
}

}  // namespace inventory
