#include "diskutil/drive_layout.h"

#include <cstring>

namespace diskutil {
namespace {

constexpr size_t kSignatureOffset = 440;
constexpr size_t kEntriesOffset = 446;
constexpr size_t kEntryBytes = 16;
constexpr size_t kMarkOffset = 510;
constexpr uint32_t kSector = platform::kSectorSize;

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

bool HasMark(const uint8_t* sector) {
  return sector[kMarkOffset] == 0x55 && sector[kMarkOffset + 1] == 0xAA;
}

// Container entries (extended partitions) hold other entries rather than a
// file system; every other used type is one the system can mount.
bool IsRecognized(uint8_t type) {
  return type != 0 && type != 0x05 && type != 0x0F && type != 0x85;
}

// Cylinder-head-sector address of a sector for the usual translation of 255
// heads and 63 sectors per track; past cylinder 1023 the address saturates.
void PutChs(uint8_t* p, uint64_t lba) {
  uint64_t cylinder = lba / (255 * 63);
  uint64_t head = lba / 63 % 255;
  uint64_t sector = lba % 63 + 1;
  if (cylinder > 1023) {
    cylinder = 1023;
    head = 254;
    sector = 63;
  }
  p[0] = static_cast<uint8_t>(head);
  p[1] = static_cast<uint8_t>((sector & 0x3F) | ((cylinder >> 2) & 0xC0));
  p[2] = static_cast<uint8_t>(cylinder & 0xFF);
}

bool EntryToMbr(const PartitionInformation& e, uint8_t* p) {
  uint8_t entry[kEntryBytes] = {};
  if (e.PartitionType != 0) {
    const uint64_t first = e.StartingOffset / kSector;
    const uint64_t count = e.PartitionLength / kSector;
    if (first > UINT32_MAX || count > UINT32_MAX) return false;
    entry[0] = e.BootIndicator ? 0x80 : 0x00;
    PutChs(entry + 1, first);
    entry[4] = e.PartitionType;
    PutChs(entry + 5, count == 0 ? first : first + count - 1);
    PutLe32(entry + 8, static_cast<uint32_t>(first));
    PutLe32(entry + 12, static_cast<uint32_t>(count));
  }
  std::memcpy(p, entry, kEntryBytes);
  return true;
}

}  // namespace

void LayoutFromMbr(const uint8_t* sector, DriveLayoutInformation* layout) {
  *layout = DriveLayoutInformation{};
  layout->PartitionCount = kMbrEntries;
  if (!HasMark(sector)) return;
  layout->Signature = Le32(sector + kSignatureOffset);
  for (uint32_t i = 0; i < kMbrEntries; ++i) {
    const uint8_t* p = sector + kEntriesOffset + i * kEntryBytes;
    PartitionInformation& e = layout->PartitionEntry[i];
    e.PartitionType = p[4];
    if (e.PartitionType == 0) continue;
    e.BootIndicator = p[0] == 0x80 ? 1 : 0;
    e.HiddenSectors = Le32(p + 8);
    e.StartingOffset = static_cast<uint64_t>(Le32(p + 8)) * kSector;
    e.PartitionLength = static_cast<uint64_t>(Le32(p + 12)) * kSector;
    e.RecognizedPartition = IsRecognized(e.PartitionType) ? 1 : 0;
    e.PartitionNumber = e.RecognizedPartition ? i + 1 : 0;
  }
}

bool LayoutToMbr(const DriveLayoutInformation& layout, uint8_t* sector) {
  uint8_t out[kSector];
  std::memcpy(out, sector, kSector);
  const uint32_t n = layout.PartitionCount < kMbrEntries ? layout.PartitionCount : kMbrEntries;
  for (uint32_t i = 0; i < n; ++i) {
    const PartitionInformation& e = layout.PartitionEntry[i];
    if (!e.RewritePartition) continue;
    if (!EntryToMbr(e, out + kEntriesOffset + i * kEntryBytes)) return false;
  }
  PutLe32(out + kSignatureOffset, layout.Signature);
  out[kMarkOffset] = 0x55;
  out[kMarkOffset + 1] = 0xAA;
  std::memcpy(sector, out, kSector);
  return true;
}

bool GetDriveLayout(platform::Device& device, DriveLayoutInformation* layout,
                    uint32_t* returned) {
  uint8_t sector[kSector] = {};
  uint32_t got = 0;
  if (!device.Seek(0) || !device.Read(sector, kSector, &got) || got != kSector) return false;
  LayoutFromMbr(sector, layout);
  *returned = LayoutBytes(layout->PartitionCount);
  return true;
}

bool SetDriveLayout(platform::Device& device, const DriveLayoutInformation& layout,
                    uint32_t inputBytes) {
  if (layout.PartitionCount > kMaxLayoutEntries ||
      inputBytes < LayoutBytes(layout.PartitionCount)) {
    return false;
  }
  uint64_t length = 0;
  if (!device.Length(&length) || length < kSector) return false;
  // Entries that are not rewritten keep what the target's table holds; a
  // target whose sector 0 cannot be read starts from zeros.
  uint8_t sector[kSector] = {};
  uint32_t got = 0;
  if (!device.Seek(0) || !device.Read(sector, kSector, &got) || got != kSector) {
    std::memset(sector, 0, kSector);
  }
  if (!LayoutToMbr(layout, sector)) return false;
  uint32_t written = 0;
  if (!device.Seek(0) || !device.Write(sector, kSector, &written) || written != kSector ||
      !device.Flush()) {
    return false;
  }
  device.RereadPartitions();
  return true;
}

void MarkRewrite(DriveLayoutInformation* layout, uint64_t sourceCapacity,
                 uint64_t targetCapacity) {
  const uint32_t n =
      layout->PartitionCount < kMaxLayoutEntries ? layout->PartitionCount : kMaxLayoutEntries;
  for (uint32_t i = 0; i < n; ++i) {
    PartitionInformation& e = layout->PartitionEntry[i];
    if (targetCapacity > sourceCapacity || e.RecognizedPartition == 1) e.RewritePartition = 1;
  }
  // A layout of fewer than three entries has no entry PartitionCount - 3:
  // nothing is changed then, and nothing outside the entries is touched.
  const uint32_t count = layout->PartitionCount;
  if (targetCapacity < sourceCapacity && count >= 3 && count - 3 < n) {
    layout->PartitionEntry[count - 3].PartitionLength = sourceCapacity - targetCapacity;
  }
}

}  // namespace diskutil
