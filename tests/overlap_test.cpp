// Whether two drives share storage, whether an output folder lies on the
// drive being read, and which file systems of a drive are mounted
// read-write: on sysfs fixture trees, and on real loop devices, partitions
// and an ext4 mount (root only).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/devtree.h"
#include "platform/mounts.h"
#include "platform/overlap.h"
#include "tests/support/fixtures.h"
#include "tests/support/loop_device.h"
#include "tests/support/run.h"

namespace {

using namespace testing_support;
namespace fs = std::filesystem;

void Put(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  std::ofstream(file) << text << "\n";
}

// A sysfs tree: sda with two partitions, a device-mapper device on the
// second, a RAID device on the first, and loop devices over parts of one
// file that does not exist (compared by path).
class SysfsFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    Device("sda", "8:0", 1000);
    Partition("sda", "sda1", "8:1", 10, 100);
    Partition("sda", "sda2", "8:2", 200, 100);
    Device("dm-0", "253:0", 100, {"sda2"});
    Device("md0", "9:0", 100, {"sda1"});
    Loop("loop0", "7:0", 0, 100);
    Loop("loop1", "7:1", 100 * 512, 100);
    Loop("loop2", "7:2", 50 * 512, 100);
    Device("sdb", "8:16", 1000);
  }

  void Device(const std::string& name, const std::string& dev, uint64_t sectors,
              std::vector<std::string> slaves = {}) {
    const fs::path dir = root / ("devices/virtual/block/" + name);
    Put(dir / "dev", dev);
    Put(dir / "size", std::to_string(sectors));
    fs::create_directories(dir / "slaves");
    for (const std::string& s : slaves) fs::create_directory_symlink("../../" + s, dir / "slaves" / s);
    Link(name, "../../devices/virtual/block/" + name);
  }
  void Partition(const std::string& disk, const std::string& name, const std::string& dev,
                 uint64_t start, uint64_t sectors) {
    const fs::path dir = root / ("devices/virtual/block/" + disk + "/" + name);
    Put(dir / "dev", dev);
    Put(dir / "size", std::to_string(sectors));
    Put(dir / "start", std::to_string(start));
    Put(dir / "partition", "1");
    Link(name, "../../devices/virtual/block/" + disk + "/" + name);
  }
  void Loop(const std::string& name, const std::string& dev, uint64_t offset, uint64_t sectors) {
    Device(name, dev, sectors);
    const fs::path dir = root / ("devices/virtual/block/" + name + "/loop");
    Put(dir / "backing_file", "/no/such/card.img");
    Put(dir / "offset", std::to_string(offset));
    Put(dir / "sizelimit", std::to_string(sectors * 512));
  }
  void Link(const std::string& name, const std::string& target) {
    fs::create_directories(root / "class/block");
    fs::create_directory_symlink(target, root / "class/block" / name);
  }

  TempDir dir;
  fs::path root = dir.path() + "/sys";
};

TEST_F(SysfsFixture, BlockDevicesOverlapWhenTheirStorageDoes) {
  const struct {
    const char *a, *b;
    bool overlap;
  } cases[] = {
      {"sda", "sda", true},     {"sda", "sda1", true},   {"sda2", "sda", true},
      {"sda1", "sda2", false},  {"dm-0", "sda2", true},  {"dm-0", "sda", true},
      {"dm-0", "sda1", false},  {"md0", "sda1", true},   {"md0", "dm-0", false},
      {"sda", "sdb", false},    {"loop0", "loop1", false}, {"loop0", "loop2", true},
      {"loop1", "loop2", true}, {"loop0", "sda", false},
  };
  for (const auto& c : cases) {
    std::string why;
    EXPECT_EQ(platform::BlockDevicesOverlap(c.a, c.b, &why, root), c.overlap)
        << c.a << " " << c.b << ": " << why;
    EXPECT_EQ(platform::BlockDevicesOverlap(c.b, c.a, nullptr, root), c.overlap)
        << c.b << " " << c.a;
    if (c.overlap) {
      EXPECT_FALSE(why.empty()) << c.a << " " << c.b;
    }
  }
}

TEST_F(SysfsFixture, WhySaysHowTheyShareStorage) {
  std::string why;
  ASSERT_TRUE(platform::BlockDevicesOverlap("sda2", "sda", &why, root));
  EXPECT_EQ(why, "/dev/sda2 lies on /dev/sda");
  ASSERT_TRUE(platform::BlockDevicesOverlap("sda", "dm-0", &why, root));
  EXPECT_EQ(why, "/dev/dm-0 lies on /dev/sda");
  ASSERT_TRUE(platform::BlockDevicesOverlap("loop0", "loop2", &why, root));
  EXPECT_EQ(why, "/dev/loop0 and /dev/loop2 both use the file /no/such/card.img (bytes 25600 to "
                 "51199)");
}

TEST_F(SysfsFixture, DeviceNumbersNameTheirDevice) {
  EXPECT_EQ(platform::BlockNameOfDevice(8, 2, root), "sda2");
  EXPECT_EQ(platform::BlockNameOfDevice(253, 0, root), "dm-0");
  EXPECT_EQ(platform::BlockNameOfDevice(8, 99, root), "");
}

// Real loop devices over one image with two partitions (root only; no
// udev here, so the partitions' nodes are made with mknod).
class LoopOverlap : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!IsRoot()) GTEST_SKIP() << "needs root for loop devices";
    image = dir / "card.img";
    ImageBuilder(24576).WriteTo(image);
    TwoPartitionDisk card(image, dir.path());
    ASSERT_TRUE(card.partitioned);
    disk = std::move(card.disk);
    if (disk->node().empty()) GTEST_SKIP() << "no loop device could be attached";
    part1 = card.part1;
    part2 = card.part2;
    ASSERT_FALSE(part1.empty());
    ASSERT_FALSE(part2.empty());
  }


  TempDir dir;
  std::string image, part1, part2;
  std::unique_ptr<LoopDevice> disk;
};

TEST_F(LoopOverlap, DisksPartitionsFilesAndLoopRangesOverlapAsTheirBytesDo) {
  // Loop devices over the image at byte ranges: [0, 6 MiB), [4 MiB, ...),
  // and the second half [6 MiB, 12 MiB).
  LoopDevice front(image, "--sizelimit 6291456");
  LoopDevice middle(image, "--offset 4194304");
  LoopDevice back(image, "--offset 6291456");
  ASSERT_FALSE(front.node().empty());
  ASSERT_FALSE(middle.node().empty());
  ASSERT_FALSE(back.node().empty());
  ASSERT_EQ(::link(image.c_str(), (dir / "hard-link.img").c_str()), 0);
  WriteFile(dir / "other.img", Bytes(4096));

  const struct {
    std::string a, b;
    bool overlap;
  } cases[] = {
      {disk->node(), part1, true},
      {part2, disk->node(), true},
      {disk->node(), disk->node(), true},
      {part1, part2, false},
      {image, disk->node(), true},
      {part2, image, true},
      {front.node(), middle.node(), true},
      {front.node(), back.node(), false},
      {part1, back.node(), false},  // partition 1 ends at 5 MiB
      {part2, back.node(), true},
      {image, dir / "hard-link.img", true},
      {image, dir / "other.img", false},
  };
  for (const auto& c : cases) {
    std::string why;
    EXPECT_EQ(platform::DrivesOverlap(c.a, c.b, &why), c.overlap) << c.a << " " << c.b << ": " << why;
    EXPECT_EQ(platform::DrivesOverlap(c.b, c.a, nullptr), c.overlap) << c.b << " " << c.a;
    if (c.overlap) {
      EXPECT_NE(why.find(c.a), std::string::npos) << why;
    }
  }
}

TEST_F(LoopOverlap, AnImageFileOnTheSourceFileSystemAndTheOutputFolderOnItAreFound) {
  const std::string mnt = dir / "mnt";
  const testing_support::Ext4Mount mounted(part2, mnt);
  ASSERT_TRUE(mounted.ready());
  WriteFile(mnt + "/a.img", Bytes(8192));
  WriteFile(mnt + "/b.img", Bytes(8192));
  fs::create_directory(dir / "out");

  std::string why;
  EXPECT_TRUE(platform::DrivesOverlap(mnt + "/a.img", disk->node(), &why));
  EXPECT_NE(why.find("is stored on /dev/" + disk->name() + "p2"), std::string::npos) << why;
  EXPECT_TRUE(platform::DrivesOverlap(part2, mnt + "/a.img", nullptr));
  EXPECT_FALSE(platform::DrivesOverlap(part1, mnt + "/a.img", nullptr));
  EXPECT_FALSE(platform::DrivesOverlap(mnt + "/a.img", mnt + "/b.img", nullptr))
      << "two files of one file system";

  const struct {
    std::string folder, source;
    bool onDrive;
  } cases[] = {
      {mnt + "/Lumisave", disk->node(), true},  // missing yet: made on the mount
      {mnt, part2, true},
      {mnt + "/x/y", part2, true},
      {mnt, part1, false},
      {dir / "out", disk->node(), false},
      {mnt, mnt + "/a.img", true},  // the image lies inside the folder
      {dir / "out", mnt + "/a.img", false},
      {dir.path(), image, true},
      {dir / "out", image, false},
      {dir / "missing", image, false},
  };
  for (const auto& c : cases) {
    std::string text;
    EXPECT_EQ(platform::FolderOnDrive(c.folder, c.source, &text), c.onDrive)
        << c.folder << " " << c.source << ": " << text;
    if (c.onDrive) {
      EXPECT_NE(text.find(c.folder), std::string::npos) << text;
    }
  }

  // The mount is named as read-write on the disk and on its partition, not on
  // the other partition; read-only it is not named.
  auto points = [](const std::string& device) {
    std::vector<std::string> found;
    for (const auto& m : platform::ReadWriteMounts(device)) found.push_back(m.mountPoint);
    return found;
  };
  EXPECT_EQ(points(disk->node()), std::vector<std::string>{mnt});
  EXPECT_EQ(points(part2), std::vector<std::string>{mnt});
  EXPECT_TRUE(points(part1).empty());
  EXPECT_TRUE(points(image).empty()) << "only block devices have mounts";
  ASSERT_TRUE(Shell("mount -o remount,ro " + Quote(mnt)));
  EXPECT_TRUE(points(disk->node()).empty());
  ASSERT_TRUE(Shell("mount -o remount,rw " + Quote(mnt)));

  int error = 0;
  EXPECT_TRUE(platform::Unmount(mnt, &error)) << std::strerror(error);
  EXPECT_TRUE(points(disk->node()).empty());
  EXPECT_FALSE(platform::Unmount(mnt, &error));
  EXPECT_EQ(error, EINVAL) << "not a mount point any more";
}

}  // namespace
