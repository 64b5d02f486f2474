#include "diskutil/clone_controls.h"

#include "base/numbers.h"
#include "commands/open_source.h"
#include "diskutil/bad_sector_log.h"

namespace diskutil {
namespace {

void AdvanceStartSector(app::WindowModel& w, uint64_t sectors) {
  const uint64_t start = base::ParseDecimal(w.Text(app::id::kStartSector));
  w.SetText(app::id::kStartSector, base::FormatDecimal(start + sectors));
}

}  // namespace

void Add(app::WindowModel& w) {
  AdvanceStartSector(w, base::ParseDecimal(w.Text(app::id::kAddValue)));
}

void IncStartSecNum(app::WindowModel& w) { AdvanceStartSector(w, 10); }

void SectorPlusOne(app::WindowModel& w) { AdvanceStartSector(w, 1); }

void Clear123() { ClearBadSectorLog(); }

void CopyLayout(app::WindowModel& w) {
  // Only read: the drive is opened read-only, so a mounted or
  // write-protected source can be looked at too.
  platform::DeviceHandle source = app::OpenSelectedSource(w, platform::Access::kRead);
  if (!source) return;
  uint8_t sector[platform::kSectorSize];
  uint32_t got = 0;
  source->Seek(0);
  source->Read(sector, sizeof sector, &got);
  source->Flush();
}

}  // namespace diskutil
