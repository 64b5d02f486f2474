// physicaldriveN stays with its disk while it is attached: a disk that comes
// or goes never renumbers the others.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>

#include "platform/drive_numbers.h"
#include "platform/drives.h"
#include "tests/support/fixtures.h"
#include "tests/support/loop_device.h"
#include "tests/support/machine_fixture.h"
#include "tests/support/scoped_env.h"

namespace {

using namespace testing_support;
namespace fs = std::filesystem;

std::map<std::string, int> Numbers(const std::string& sysRoot, const std::string& mountInfo) {
  std::map<std::string, int> numbers;
  for (const platform::WholeDisk& d : platform::ListWholeDisks(sysRoot, mountInfo)) {
    numbers[d.name] = d.number;
  }
  return numbers;
}

// The same keyed by name and sequence number: on a live machine a loop
// device detached and attached again by another program is another disk.
std::map<std::string, int> LiveNumbers() {
  std::map<std::string, int> numbers;
  for (const platform::WholeDisk& d : platform::ListWholeDisks("/sys")) {
    std::string seq;
    std::ifstream("/sys/block/" + d.name + "/diskseq") >> seq;
    numbers[d.name + "#" + seq] = d.number;
  }
  return numbers;
}

bool Lists(const std::map<std::string, int>& numbers, const std::string& name) {
  for (const auto& [key, number] : numbers) {
    if (key.rfind(name + "#", 0) == 0) return true;
  }
  return false;
}

// The usual fixture machine with sequence numbers, and the table in a
// folder of the test's own.
class DriveNumbers : public ::testing::Test {
 protected:
  void SetUp() override {
    env.Set("LUMISAVE_RUNTIME_DIR", dir / "run");
    m.AddUsualDrives();
    Seq("sdb", 30);
    Seq("sda", 10);
    Seq("nvme0n1", 20);
    Seq("loop0", 40);
  }
  void Seq(const std::string& disk, int seq) {
    std::ofstream(m.sysRoot() + "/block/" + disk + "/diskseq") << seq << "\n";
  }
  void AddDisk(const std::string& name, int seq) {
    m.AddDisk("virtual/block/" + name, "", 64);
    Seq(name, seq);
  }
  void RemoveDisk(const std::string& name) { fs::remove(m.sysRoot() + "/block/" + name); }
  std::map<std::string, int> List() { return Numbers(m.sysRoot(), m.sources().mountInfo); }
  std::string Table() { return dir / "run/drive-numbers"; }

  TempDir dir;
  ScopedEnv env;
  FixtureMachine m;
};

TEST_F(DriveNumbers, ADiskThatComesOrGoesLeavesTheOthersTheirNumbers) {
  const std::map<std::string, int> first = {{"loop0", 0}, {"nvme0n1", 1}, {"sda", 2}, {"sdb", 3}};
  EXPECT_EQ(List(), first);
  EXPECT_EQ(List(), first);  // a second listing reads the same table

  // A disk whose name sorts first takes the lowest free number, not 0.
  AddDisk("hda", 50);
  std::map<std::string, int> more = first;
  more["hda"] = 4;
  EXPECT_EQ(List(), more);

  // The system disk leaves: its number is freed, nobody else moves.
  RemoveDisk("sda");
  std::map<std::string, int> fewer = more;
  fewer.erase("sda");
  EXPECT_EQ(List(), fewer);
  // The next new disk gets the freed number; the same name with a new
  // sequence number (a card put back in) is a new disk.
  AddDisk("sdc", 60);
  fewer["sdc"] = 2;
  EXPECT_EQ(List(), fewer);

  // physicaldriveN opens the disk of number N.
  platform::DeviceOpener opener(m.sysRoot(), m.devRoot(), m.sources().mountInfo);
  EXPECT_EQ(opener.Resolve("physicaldrive2"), m.DevFile("sdc"));
  EXPECT_EQ(opener.Resolve("physicaldrive4"), m.DevFile("hda"));
}

TEST_F(DriveNumbers, AGarbledOrUnreadableTableIsRebuilt) {
  const std::map<std::string, int> fresh = List();
  const std::string tables[] = {
      "",
      "garbage\n",
      "lumisave drive numbers 1 another-boot\n10 0\n",
      std::string("lumisave drive numbers 1 ") + "\x01\n",
      "lumisave drive numbers 1\n10 5\n20 5\n",  // one number twice
  };
  for (const std::string& text : tables) {
    std::ofstream(Table(), std::ios::trunc) << text;
    EXPECT_EQ(List(), fresh) << text;
  }
  // A table whose numbers repeat is never trusted: each disk gets its own.
  std::ifstream in(Table());
  std::string header;
  std::getline(in, header);
  std::ofstream(Table(), std::ios::trunc) << header << "\n10 1\n20 1\n";
  const std::map<std::string, int> rebuilt = List();
  std::set<int> distinct;
  for (const auto& [name, number] : rebuilt) distinct.insert(number);
  EXPECT_EQ(distinct.size(), rebuilt.size());
  // A folder in place of the table: numbers in name order, as without one.
  fs::remove(Table());
  fs::create_directory(Table());
  EXPECT_EQ(List(), fresh);
}

TEST_F(DriveNumbers, WithoutSequenceNumbersTheNameOrderCounts) {
  fs::remove(m.sysRoot() + "/block/sda/diskseq");
  AddDisk("hdb", 70);
  EXPECT_EQ(List(), (std::map<std::string, int>{
                        {"hdb", 0}, {"loop0", 1}, {"nvme0n1", 2}, {"sda", 3}, {"sdb", 4}}));
  EXPECT_FALSE(fs::exists(Table()));
}

TEST_F(DriveNumbers, LoopDevicesOfMountedSquashfsImagesAreLeftOut) {
  // loop0 holds a mounted package image; a squashfs image that is only
  // attached, and other mounts of loop devices, stay in the list.
  m.AddDisk("virtual/block/loop2", "", 64);
  m.AddDisk("virtual/block/loop3", "", 64);
  fs::create_directories(m.sysRoot() + "/class/block");
  for (const char* loop : {"loop0", "loop2", "loop3"}) {
    const fs::path block = fs::canonical(m.sysRoot() + "/block/" + loop);
    fs::create_directories(block / "loop");
    std::ofstream(block / "loop/backing_file") << "/var/lib/snapd/snaps/core_" << loop << ".snap\n";
    std::ofstream(block / "dev") << "7:" << loop[4] << "\n";
    fs::create_directory_symlink(block, m.sysRoot() + "/class/block/" + loop);
  }
  const std::string table = dir / "mountinfo";
  std::ofstream(table) << "30 1 7:0 / /snap/core/1 ro,nodev,relatime shared:5 - squashfs "
                          "/dev/loop0 ro\n"
                          "31 1 7:3 / /mnt/card rw,relatime - vfat /dev/loop3 rw\n";
  std::set<std::string> names;
  for (const platform::WholeDisk& d : platform::ListWholeDisks(m.sysRoot(), table)) {
    names.insert(d.name);
  }
  EXPECT_EQ(names, (std::set<std::string>{"loop2", "loop3", "nvme0n1", "sda", "sdb"}));
}

TEST(DriveNumbersOnThisMachine, AttachingAndDetachingALoopDeviceMovesNoOtherNumber) {
  if (!IsRoot()) GTEST_SKIP() << "needs root for loop devices";
  TempDir dir;
  ScopedEnv env;
  env.Set("LUMISAVE_RUNTIME_DIR", dir / "run");
  ImageBuilder(2048).WriteTo(dir / "a.img");
  ImageBuilder(2048).WriteTo(dir / "b.img");
  const std::map<std::string, int> before = LiveNumbers();
  auto a = std::make_unique<LoopDevice>(dir / "a.img");
  if (a->node().empty()) GTEST_SKIP() << "no loop device could be attached";
  const std::string aName = a->name();
  std::map<std::string, int> withA = LiveNumbers();
  for (const auto& [key, number] : before) {
    if (withA.count(key)) {
      EXPECT_EQ(withA[key], number) << key;
    }
  }
  ASSERT_TRUE(Lists(withA, aName));
  LoopDevice b(dir / "b.img");
  ASSERT_FALSE(b.node().empty());
  std::map<std::string, int> withBoth = LiveNumbers();
  ASSERT_TRUE(Lists(withBoth, b.name()));
  for (const auto& [key, number] : withA) {
    if (withBoth.count(key)) {
      EXPECT_EQ(withBoth[key], number) << key;
    }
  }
  a.reset();
  std::map<std::string, int> afterA = LiveNumbers();
  for (const auto& [key, number] : withBoth) {
    if (afterA.count(key)) {
      EXPECT_EQ(afterA[key], number) << key;
    }
  }
  EXPECT_TRUE(Lists(afterA, b.name()));
}

}  // namespace
