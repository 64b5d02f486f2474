// Reads and writes of the platform layer on image files, and the
// fault-injecting device the clone and scan tests rely on.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/device.h"
#include "platform/drives.h"
#include "tests/support/fault_device.h"
#include "tests/support/fixtures.h"

namespace {

using namespace testing_support;

Bytes Pattern(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 7 + i / 512);
  return b;
}

TEST(Device, ReadsReturnWhatRemainsAtTheEndAndNothingPastIt) {
  TempDir dir;
  WriteFile(dir / "img", Pattern(3 * 512));
  auto d = platform::OpenPath(dir / "img", platform::Access::kRead);
  ASSERT_TRUE(d);
  Bytes buf(2048, 0xEE);
  uint32_t got = 99;
  ASSERT_TRUE(d->Seek(512));
  ASSERT_TRUE(d->Read(buf.data(), 2048, &got));
  EXPECT_EQ(got, 1024u);
  EXPECT_EQ(d->Position(), 1536u);
  EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 1024, Pattern(1536).begin() + 512));
  EXPECT_EQ(buf[1024], 0xEE) << "bytes past a short read are left alone";
  ASSERT_TRUE(d->Read(buf.data(), 512, &got));
  EXPECT_EQ(got, 0u);
  ASSERT_TRUE(d->Seek(1 << 20));
  ASSERT_TRUE(d->Read(buf.data(), 512, &got));
  EXPECT_EQ(got, 0u);
  uint64_t length = 0;
  ASSERT_TRUE(d->Length(&length));
  EXPECT_EQ(length, 1536u);
}

TEST(Device, PositionMovesAbsoluteRelativeAndToTheEnd) {
  TempDir dir;
  WriteFile(dir / "img", Pattern(4096));
  auto d = platform::OpenPath(dir / "img", platform::Access::kReadWrite);
  ASSERT_TRUE(d);
  d->Seek(1024);
  d->Skip(512);
  EXPECT_EQ(d->Position(), 1536u);
  EXPECT_FALSE(d->Skip(-4096));
  EXPECT_EQ(d->Position(), 1536u);
  d->SeekEnd();
  EXPECT_EQ(d->Position(), 4096u);
  uint32_t written = 0;
  Bytes tail(512, 0x5A);
  ASSERT_TRUE(d->Write(tail.data(), 512, &written));
  EXPECT_EQ(written, 512u);
  ASSERT_TRUE(d->Flush());
  EXPECT_EQ(ReadFile(dir / "img").size(), 4608u);
}

TEST(Device, OpenFailsForMissingPathsAndFolders) {
  TempDir dir;
  EXPECT_FALSE(platform::OpenPath(dir / "none", platform::Access::kRead));
  EXPECT_FALSE(platform::OpenPath(dir.path(), platform::Access::kRead));
  EXPECT_FALSE(platform::OpenPath("", platform::Access::kRead));
  EXPECT_FALSE(platform::CreateOutputFile(dir / "no/such/folder/file"));
}

TEST(Device, GeometryCountsTheWholeLengthInSectors) {
  TempDir dir;
  WriteFile(dir / "img", Bytes(1000 * 512 + 100, 0));
  auto d = platform::OpenPath(dir / "img", platform::Access::kRead);
  platform::DiskGeometry g;
  ASSERT_TRUE(platform::GeometryOf(*d, &g));
  EXPECT_EQ(g.cylinders, 1000);
  EXPECT_EQ(g.tracksPerCylinder * g.sectorsPerTrack * g.bytesPerSector, 512u);
}

TEST(FaultyDevice, AReadTouchingABadSectorFailsWholeAndChangesNothing) {
  TempDir dir;
  WriteFile(dir / "img", Pattern(8 * 512));
  auto d = platform::FaultyDevice::Open(dir / "img", {5});
  ASSERT_TRUE(d);
  Bytes buf(2048, 0xEE);
  uint32_t got = 7;
  d->Seek(3 * 512);
  EXPECT_FALSE(d->Read(buf.data(), 2048, &got));  // sectors 3..6
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(d->Position(), 3u * 512);
  EXPECT_EQ(buf, Bytes(2048, 0xEE));
  EXPECT_TRUE(d->Read(buf.data(), 1024, &got));  // sectors 3..4
  EXPECT_EQ(got, 1024u);
  d->Seek(6 * 512);
  EXPECT_TRUE(d->Read(buf.data(), 2048, &got));  // 6..7, then the end
  EXPECT_EQ(got, 1024u);
}

TEST(FaultyDevice, WritesFailFromTheChosenOffset) {
  TempDir dir;
  WriteFile(dir / "img", Bytes(4096, 0));
  auto d = platform::FaultyDevice::Open(dir / "img", {});
  d->FailWritesFrom(2048);
  Bytes buf(1024, 1);
  uint32_t written = 0;
  d->Seek(1024);
  EXPECT_TRUE(d->Write(buf.data(), 1024, &written));
  EXPECT_FALSE(d->Write(buf.data(), 1024, &written));
  EXPECT_EQ(written, 0u);
}

TEST(DeviceOpener, NamesResolveToPathsOrWholeDisks) {
  TempDir sys;
  for (const char* name : {"sdb", "sda", "loop0", "loop1", "nvme0n1", "nvme0c0n1", "dm-0"}) {
    std::filesystem::create_directories(sys / ("block/" + std::string(name) + "/loop"));
  }
  WriteFile(sys / "block/loop1/loop/backing_file", Bytes{'/', 'x', '\n'});
  platform::DeviceOpener opener(sys.path(), "/dev");
  EXPECT_EQ(opener.Resolve("physicaldrive0"), "/dev/loop1");
  EXPECT_EQ(opener.Resolve("physicaldrive1"), "/dev/nvme0n1");
  EXPECT_EQ(opener.Resolve("physicaldrive2"), "/dev/sda");
  EXPECT_EQ(opener.Resolve("physicaldrive3"), "/dev/sdb");
  EXPECT_EQ(opener.Resolve("physicaldrive4"), "");
  EXPECT_EQ(opener.Resolve("/tmp/card.img"), "/tmp/card.img");
  EXPECT_EQ(platform::StripDevicePrefix("\\\\.\\physicaldrive3"), "physicaldrive3");
  EXPECT_EQ(platform::PhysicalDriveIndex("physicaldrive12"), 12);
  EXPECT_EQ(platform::PhysicalDriveIndex("physicaldrive"), -1);
  EXPECT_EQ(platform::PhysicalDriveIndex("physicaldrive1x"), -1);
}

}  // namespace
