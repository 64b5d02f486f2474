// The recovery on a real block device: a loop device over an image file,
// read with O_DIRECT, by its node and by its physicaldriveN name. Root only.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/device.h"
#include "platform/drives.h"
#include "tests/support/fixtures.h"
#include "tests/support/loop_device.h"
#include "tests/support/run.h"

namespace {

using namespace testing_support;

class LoopDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!IsRoot()) GTEST_SKIP() << "needs root for loop devices";
    image.PutSector(40, exif);
    image.PutSector(3000, jfif);
    image.WriteTo(dir / "card.img");
    loop = std::make_unique<LoopDevice>(dir / "card.img");
    if (loop->node().empty()) GTEST_SKIP() << "no loop device could be attached";
    std::filesystem::create_directories(dir / "home");
  }

  TempDir dir;
  ImageBuilder image{8192};
  Bytes exif = FakeJpeg(0xE1, 400000, {900, 399998});
  Bytes jfif = FakeJpeg(0xE0, 70000, {69998});
  std::unique_ptr<LoopDevice> loop;
};

TEST_F(LoopDeviceTest, DirectReadsGiveTheImageBytesAtAnyPositionAndCount) {
  auto d = platform::OpenPath(loop->node(), platform::Access::kRead);
  ASSERT_TRUE(d);
  uint64_t length = 0;
  ASSERT_TRUE(d->Length(&length));
  EXPECT_EQ(length, 8192u * 512);
  Bytes buf(5000 + 1);
  uint32_t got = 0;
  d->Seek(40 * 512 + 512);
  ASSERT_TRUE(d->Read(buf.data() + 1, 5000, &got));  // unaligned buffer and count
  EXPECT_EQ(got, 5000u);
  EXPECT_TRUE(std::equal(buf.begin() + 1, buf.end(), exif.begin() + 512));
  EXPECT_EQ(d->Position(), 40u * 512 + 512 + 5000);
  d->Seek(8190 * 512);
  ASSERT_TRUE(d->Read(buf.data(), 4096, &got));
  EXPECT_EQ(got, 1024u);
}

TEST_F(LoopDeviceTest, RecoversFromTheDeviceNodeAndItsDriveName) {
  int index = -1;
  auto disks = platform::ListWholeDisks("/sys");
  for (const platform::WholeDisk& disk : disks) {
    if (disk.name == loop->name()) index = disk.number;
  }
  ASSERT_GE(index, 0) << "a loop device with a backing file is a whole disk";
  for (const std::string& source :
       {loop->node(), "physicaldrive" + std::to_string(index)}) {
    const std::string out = dir / ("out-" + std::to_string(source.size()));
    RunResult r = RunLumisave({"recover", "--source", source, "--out", out, "--yes"}, dir / "home");
    EXPECT_EQ(r.status, 0) << source << ": " << r.err;
    EXPECT_EQ(ReadFile(out + "/JPEG/40.jpg"), exif) << source;
    EXPECT_EQ(ReadFile(out + "/JPEG0/3000.jpg"), jfif) << source;
  }
}

}  // namespace
