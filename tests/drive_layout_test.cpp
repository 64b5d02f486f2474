#include "diskutil/drive_layout.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/fixtures.h"

namespace {

using diskutil::DriveLayoutInformation;
using diskutil::PartitionInformation;
using testing_support::Bytes;

// A master boot record: signature 0x12345678, a bootable FAT32 entry at
// sector 2048 of 65536 sectors, an extended container, a Linux entry.
Bytes SampleMbr() {
  Bytes s(512, 0);
  for (size_t i = 0; i < 440; ++i) s[i] = static_cast<uint8_t>(0x90 + i);
  const uint8_t sig[4] = {0x78, 0x56, 0x34, 0x12};
  std::copy(sig, sig + 4, s.begin() + 440);
  const uint8_t entries[3][16] = {
      {0x80, 0x20, 0x21, 0x00, 0x0C, 0xFE, 0xFF, 0xFF, 0x00, 0x08, 0, 0, 0x00, 0x00, 0x01, 0},
      {0x00, 0xFE, 0xFF, 0xFF, 0x0F, 0xFE, 0xFF, 0xFF, 0x00, 0x08, 0x01, 0, 0x00, 0x10, 0, 0},
      {0x00, 0xFE, 0xFF, 0xFF, 0x83, 0xFE, 0xFF, 0xFF, 0x00, 0x18, 0x01, 0, 0x00, 0x20, 0, 0},
  };
  for (int e = 0; e < 3; ++e) std::copy(entries[e], entries[e] + 16, s.begin() + 446 + e * 16);
  s[510] = 0x55;
  s[511] = 0xAA;
  return s;
}

TEST(DriveLayout, ReadsTheMbrIntoFourEntriesInBytes) {
  Bytes mbr = SampleMbr();
  DriveLayoutInformation layout;
  diskutil::LayoutFromMbr(mbr.data(), &layout);
  EXPECT_EQ(layout.PartitionCount, 4u);
  EXPECT_EQ(layout.Signature, 0x12345678u);
  const PartitionInformation& fat = layout.PartitionEntry[0];
  EXPECT_EQ(fat.StartingOffset, 2048u * 512);
  EXPECT_EQ(fat.PartitionLength, 65536u * 512);
  EXPECT_EQ(fat.PartitionType, 0x0C);
  EXPECT_EQ(fat.BootIndicator, 1);
  EXPECT_EQ(fat.RecognizedPartition, 1);
  EXPECT_EQ(fat.RewritePartition, 0);
  EXPECT_EQ(layout.PartitionEntry[1].RecognizedPartition, 0);  // a container
  EXPECT_EQ(layout.PartitionEntry[2].RecognizedPartition, 1);
  EXPECT_EQ(layout.PartitionEntry[3].PartitionType, 0);
  EXPECT_EQ(layout.PartitionEntry[3].RecognizedPartition, 0);
}

TEST(DriveLayout, ASectorWithoutTheMarkIsAnEmptyLayout) {
  Bytes vbr = SampleMbr();
  vbr[510] = 0;
  DriveLayoutInformation layout;
  layout.Signature = 7;
  layout.PartitionEntry[0].PartitionType = 7;
  diskutil::LayoutFromMbr(vbr.data(), &layout);
  EXPECT_EQ(layout.PartitionCount, 4u);
  EXPECT_EQ(layout.Signature, 0u);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(layout.PartitionEntry[i].PartitionType, 0);
    EXPECT_EQ(layout.PartitionEntry[i].PartitionLength, 0u);
  }
}

TEST(DriveLayout, WritesOnlyTheEntriesMarkedForRewriting) {
  DriveLayoutInformation layout;
  Bytes source = SampleMbr();
  diskutil::LayoutFromMbr(source.data(), &layout);
  Bytes target(512, 0xEE);
  // Nothing marked: the signature and the mark only.
  Bytes unmarked = target;
  ASSERT_TRUE(diskutil::LayoutToMbr(layout, unmarked.data()));
  EXPECT_TRUE(std::all_of(unmarked.begin() + 446, unmarked.begin() + 510,
                          [](uint8_t b) { return b == 0xEE; }));
  EXPECT_TRUE(std::equal(unmarked.begin() + 440, unmarked.begin() + 444, source.begin() + 440));
  // Every entry marked: the source's table comes back byte for byte (its
  // CHS fields are those of the usual translation, here saturated).
  for (auto& e : layout.PartitionEntry) e.RewritePartition = 1;
  ASSERT_TRUE(diskutil::LayoutToMbr(layout, target.data()));
  EXPECT_TRUE(std::equal(target.begin() + 440, target.begin() + 444, source.begin() + 440));
  for (int e = 0; e < 4; ++e) {
    SCOPED_TRACE(e);
    const size_t at = 446 + e * 16;
    EXPECT_EQ(target[at], source[at]);                                        // boot flag
    EXPECT_EQ(target[at + 4], source[at + 4]);                                // type
    EXPECT_TRUE(std::equal(target.begin() + at + 8, target.begin() + at + 16,  // LBA, count
                           source.begin() + at + 8));
  }
  EXPECT_EQ(target[0], 0xEE);  // the boot code is left alone
  EXPECT_EQ(target[510], 0x55);
  EXPECT_EQ(target[511], 0xAA);
  // An entry whose length no longer fits the table's 32-bit count is refused.
  layout.PartitionEntry[1].PartitionLength = (1ull << 32) * 512;
  Bytes before = target;
  EXPECT_FALSE(diskutil::LayoutToMbr(layout, target.data()));
  EXPECT_EQ(target, before);
}

TEST(DriveLayout, MarksByTheRelationOfTheCapacities) {
  Bytes mbr = SampleMbr();
  struct Case {
    uint64_t source, target;
    uint8_t rewrite[4];
    uint64_t secondLength;
  } cases[] = {
      {1000, 1000, {1, 0, 1, 0}, 0},
      {1000, 4000, {1, 1, 1, 1}, 0},
      {4000, 1000, {1, 0, 1, 0}, 3000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    DriveLayoutInformation layout;
    diskutil::LayoutFromMbr(mbr.data(), &layout);
    const uint64_t second = layout.PartitionEntry[1].PartitionLength;
    diskutil::MarkRewrite(&layout, c.source, c.target);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(layout.PartitionEntry[i].RewritePartition, c.rewrite[i]);
    EXPECT_EQ(layout.PartitionEntry[1].PartitionLength,
              c.target < c.source ? c.secondLength : second);
    EXPECT_EQ(layout.Signature, 0x12345678u);
  }
}

TEST(DriveLayout, FewerThanThreeEntriesTouchNothingOutsideThem) {
  for (uint32_t count : {0u, 1u, 2u}) {
    SCOPED_TRACE(count);
    DriveLayoutInformation layout;
    std::memset(static_cast<void*>(&layout), 0xA5, sizeof layout);
    layout.PartitionCount = count;
    for (uint32_t i = 0; i < count; ++i) {
      layout.PartitionEntry[i].RecognizedPartition = 1;
      layout.PartitionEntry[i].RewritePartition = 0;
    }
    DriveLayoutInformation before = layout;
    diskutil::MarkRewrite(&layout, 4000, 1000);
    for (uint32_t i = 0; i < count; ++i) before.PartitionEntry[i].RewritePartition = 1;
    EXPECT_EQ(std::memcmp(&layout, &before, sizeof layout), 0);
  }
  // A count beyond the record's room: no entry past it is written either.
  DriveLayoutInformation big;
  std::memset(static_cast<void*>(&big), 0, sizeof big);
  big.PartitionCount = 1000;
  diskutil::MarkRewrite(&big, 4000, 1000);
  EXPECT_EQ(big.PartitionEntry[diskutil::kMaxLayoutEntries - 1].RewritePartition, 0);
}

TEST(DriveLayout, RequestsOverADevice) {
  testing_support::TempDir dir;
  Bytes image(8 * 512, 0xEE);
  Bytes mbr = SampleMbr();
  std::copy(mbr.begin(), mbr.end(), image.begin());
  testing_support::WriteFile(dir / "a.img", image);
  testing_support::WriteFile(dir / "b.img", Bytes(8 * 512, 0));
  testing_support::WriteFile(dir / "tiny.img", Bytes(100, 0));
  auto a = platform::OpenPath(dir / "a.img", platform::Access::kReadWrite);
  auto b = platform::OpenPath(dir / "b.img", platform::Access::kReadWrite);
  auto tiny = platform::OpenPath(dir / "tiny.img", platform::Access::kReadWrite);
  DriveLayoutInformation layout;
  uint32_t returned = 0;
  ASSERT_TRUE(diskutil::GetDriveLayout(*a, &layout, &returned));
  EXPECT_EQ(returned, 8u + 4 * 32);
  diskutil::MarkRewrite(&layout, 8 * 512, 16 * 512);
  EXPECT_FALSE(diskutil::SetDriveLayout(*b, layout, returned - 1));  // input too short
  ASSERT_TRUE(diskutil::SetDriveLayout(*b, layout, returned));
  Bytes written = testing_support::ReadFile(dir / "b.img");
  EXPECT_TRUE(std::equal(written.begin() + 440, written.begin() + 446, mbr.begin() + 440));
  EXPECT_TRUE(std::all_of(written.begin() + 512, written.end(), [](uint8_t x) { return x == 0; }));
  EXPECT_EQ(written.size(), 8u * 512);
  // A target too small for sector 0 is refused and does not grow.
  EXPECT_FALSE(diskutil::SetDriveLayout(*tiny, layout, returned));
  EXPECT_EQ(testing_support::ReadFile(dir / "tiny.img").size(), 100u);
  EXPECT_FALSE(diskutil::GetDriveLayout(*tiny, &layout, &returned));
}

}  // namespace
