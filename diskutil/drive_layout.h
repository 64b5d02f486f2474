// The partition layout of a drive, as the clones move it from one drive to
// another: a layout record read from and written to the master boot record
// of sector 0 (disk signature at byte 440, four 16-byte entries at 446, the
// mark 55 AA at 510). Offsets and lengths in the record are in bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/device.h"

namespace diskutil {

struct PartitionInformation {
  uint64_t StartingOffset = 0;   // bytes
  uint64_t PartitionLength = 0;  // bytes
  uint32_t HiddenSectors = 0;
  uint32_t PartitionNumber = 0;
  uint8_t PartitionType = 0;
  uint8_t BootIndicator = 0;
  uint8_t RecognizedPartition = 0;
  uint8_t RewritePartition = 0;
};
static_assert(sizeof(PartitionInformation) == 32);

// The record fills a 5120-byte buffer: the counts, then room for 159 entries.
constexpr size_t kLayoutBufferBytes = 5120;
constexpr uint32_t kMaxLayoutEntries = 159;
constexpr uint32_t kMbrEntries = 4;

struct DriveLayoutInformation {
  uint32_t PartitionCount = 0;
  uint32_t Signature = 0;
  PartitionInformation PartitionEntry[kMaxLayoutEntries];
};
static_assert(sizeof(DriveLayoutInformation) <= kLayoutBufferBytes);

// Bytes of a record with `count` entries.
constexpr uint32_t LayoutBytes(uint32_t count) {
  return static_cast<uint32_t>(offsetof(DriveLayoutInformation, PartitionEntry)) +
         count * static_cast<uint32_t>(sizeof(PartitionInformation));
}

// Sector 0 as a layout record: four entries. A sector without 55 AA is an
// empty layout (four unused entries, signature 0), as on a card formatted
// without a partition table.
void LayoutFromMbr(const uint8_t* sector, DriveLayoutInformation* layout);

// Writes the entries marked for rewriting (of the first four) and the
// signature into `sector`, and sets 55 AA; the boot code and the entries
// not marked keep their bytes. False when an entry's start or length in
// sectors does not fit the record's 32-bit fields, leaving `sector` as it was.
bool LayoutToMbr(const DriveLayoutInformation& layout, uint8_t* sector);

// The drive-layout requests over a device: read sector 0 into `layout`
// (`*returned` is the byte count of the record), or write `layout` into
// sector 0 (`inputBytes` as the request's input length), flush it and have
// a block device re-read its partition table. False when sector 0 cannot be
// read or written, or the input is shorter than its entries.
bool GetDriveLayout(platform::Device& device, DriveLayoutInformation* layout,
                    uint32_t* returned);
bool SetDriveLayout(platform::Device& device, const DriveLayoutInformation& layout,
                    uint32_t inputBytes);

// Marks entries for rewriting by the relation of the capacities: a smaller
// target rewrites the recognised entries and gives the entry at
// PartitionCount - 3 the difference of the capacities as its length (when
// that entry exists); equal capacities rewrite the recognised entries; a
// larger target rewrites every entry.
void MarkRewrite(DriveLayoutInformation* layout, uint64_t sourceCapacity,
                 uint64_t targetCapacity);

}  // namespace diskutil
