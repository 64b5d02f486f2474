// What tells drives apart, read from sysfs: model, serial, size, removable,
// and the drive holding /. Bad attributes give empty facts, never failures.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>

#include "base/numbers.h"
#include "platform/drive_facts.h"
#include "tests/support/fixtures.h"
#include "tests/support/machine_fixture.h"

namespace {

using namespace testing_support;
namespace fs = std::filesystem;

void Put(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << text;
}

TEST(DriveFacts, ComeFromTheDiskAndTheHardwareBelowIt) {
  FixtureMachine m;
  m.AddUsualDrives();
  Put(m.sysRoot() + "/devices/" + FixtureMachine::kNvme + "/serial", "  S4EWNX0N123456  \n");
  struct Case {
    std::string disk, model, serial;
    bool removable;
    uint64_t bytes;
  };
  const Case cases[] = {
      {"sdb", "Generic- SD/MMC", "", true, FixtureMachine::kCardSectors * 512},
      {"sda", "Samsung SSD 860", "", false, FixtureMachine::kSataSectors * 512},  // no "ATA"
      {"nvme0n1", "WDC PC SN730 SDBQNTY-256G", "S4EWNX0N123456", false,
       FixtureMachine::kNvmeSectors * 512},
      {"loop0", "card.img", "", false, FixtureMachine::kLoopSectors * 512},
  };
  for (const Case& c : cases) {
    const platform::DriveFacts f = platform::ReadDriveFacts(m.DevFile(c.disk), m.sysRoot(),
                                                            m.sources().mountInfo);
    EXPECT_EQ(f.model, c.model) << c.disk;
    EXPECT_EQ(f.serial, c.serial) << c.disk;
    EXPECT_EQ(f.removable, c.removable) << c.disk;
    EXPECT_EQ(f.sizeBytes, c.bytes) << c.disk;
    EXPECT_FALSE(f.holdsRoot) << c.disk;
  }
}

TEST(DriveFacts, AnImageFileIsItsNameAndSize) {
  TempDir dir;
  ImageBuilder(100).WriteTo(dir / "camera card.img");
  const platform::DriveFacts f = platform::ReadDriveFacts(dir / "camera card.img");
  EXPECT_EQ(f.model, "camera card.img");
  EXPECT_EQ(f.sizeBytes, 51200u);
  EXPECT_FALSE(f.removable);
  EXPECT_FALSE(f.holdsRoot);
  EXPECT_EQ(platform::ReadDriveFacts(dir / "missing.img").model, "");
}

TEST(DriveFacts, MissingEmptyOrBinaryAttributesGiveEmptyFacts) {
  struct Case {
    const char* what;
    std::optional<std::string> model;  // nothing: the attribute is missing
    std::string size;
    std::string wantModel;
    uint64_t wantBytes;
  };
  const Case cases[] = {
      {"plain", "Card  \n", "8\n", "Card", 4096},
      {"missing", std::nullopt, "", "", 0},
      {"empty", "", "\n", "", 0},
      {"binary", std::string("Ca\x01\xff", 4), std::string("8\0", 2), "", 0},
      {"two lines", "Card\nmore\n", "8 sectors", "", 0},
      {"too long", std::string(300, 'x'), "99999999999999999999999", "", 0},
      {"size overflows bytes", "Card", "36028797018963968", "Card", 0},
  };
  for (const Case& c : cases) {
    FixtureMachine m;
    m.AddDevice("virtual/mmc0");
    m.AddDisk("virtual/mmc0/block/mmcblk0", "virtual/mmc0", 8, true);
    const std::string hw = m.sysRoot() + "/devices/virtual/mmc0/";
    if (c.model) Put(hw + "name", *c.model);
    Put(m.sysRoot() + "/devices/virtual/mmc0/block/mmcblk0/size", c.size);
    const platform::DriveFacts f =
        platform::ReadDriveFacts(m.DevFile("mmcblk0"), m.sysRoot(), m.sources().mountInfo);
    EXPECT_EQ(f.model, c.wantModel) << c.what;
    EXPECT_EQ(f.sizeBytes, c.wantBytes) << c.what;
    EXPECT_TRUE(f.removable) << c.what;
  }
  // An attribute that cannot be read at all (a folder in its place).
  FixtureMachine m;
  m.AddUsualDrives();
  m.BreakAttribute(FixtureMachine::kSata, "model");
  m.BreakAttribute(std::string(FixtureMachine::kSata) + "/block/sda", "removable");
  const platform::DriveFacts f =
      platform::ReadDriveFacts(m.DevFile("sda"), m.sysRoot(), m.sources().mountInfo);
  EXPECT_EQ(f.model, "");
  EXPECT_FALSE(f.removable);
}

// A sysfs tree with a disk of two partitions and a device-mapper device on
// the second, with device numbers the real machine does not use.
class RootDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    Block("devices/virtual/block/sdx", "sdx", "240:0");
    Block("devices/virtual/block/sdx/sdx1", "sdx1", "240:1");
    Put(root / "devices/virtual/block/sdx/sdx1/partition", "1\n");
    Put(root / "devices/virtual/block/sdx/sdx1/start", "10\n");
    Block("devices/virtual/block/sdx/sdx2", "sdx2", "240:2");
    Put(root / "devices/virtual/block/sdx/sdx2/partition", "2\n");
    Put(root / "devices/virtual/block/sdx/sdx2/start", "500\n");
    Block("devices/virtual/block/dm-9", "dm-9", "241:9");
    fs::create_directories(root / "devices/virtual/block/dm-9/slaves");
    fs::create_directory_symlink("../../sdx/sdx2", root / "devices/virtual/block/dm-9/slaves/sdx2");
    Block("devices/virtual/block/sdy", "sdy", "240:16");
    fs::create_directories(root / "block");
    fs::create_directory_symlink("../devices/virtual/block/sdx", root / "block/sdx");
    fs::create_directory_symlink("../devices/virtual/block/sdy", root / "block/sdy");
  }
  void Block(const std::string& path, const std::string& name, const std::string& dev) {
    Put(root / path / "dev", dev + "\n");
    Put(root / path / "size", path.find("/sdx/") != std::string::npos ? "100\n" : "1000\n");
    fs::create_directories(root / "class/block");
    fs::create_directory_symlink("../../" + path, root / "class/block" / name);
  }
  // A mount table whose / is the device `majMin`, with a tmpfs after it.
  std::string Table(const std::string& majMin, const std::string& type) {
    const std::string file = dir / ("mountinfo-" + majMin);
    Put(file, "22 1 " + majMin + " / / rw,relatime shared:1 - " + type + " /dev/x rw\n"
              "23 22 0:21 / /tmp rw - tmpfs tmpfs rw\n");
    return file;
  }
  bool Holds(const std::string& disk, const std::string& table) {
    return platform::ReadDriveFacts(dir / ("dev/" + disk), root, table).holdsRoot;
  }

  TempDir dir;
  fs::path root = dir.path() + "/sys";
};

TEST_F(RootDisk, TheDiskUnderTheRootFileSystemIsMarked) {
  const std::string onPartition = Table("240:1", "ext4");
  EXPECT_TRUE(Holds("sdx", onPartition));
  EXPECT_FALSE(Holds("sdy", onPartition));
  const std::string onMapper = Table("241:9", "ext4");  // LVM or an encrypted root
  EXPECT_TRUE(Holds("sdx", onMapper));
  EXPECT_FALSE(Holds("sdy", onMapper));
  const std::string overlay = Table("0:55", "overlay");  // a container's root
  EXPECT_FALSE(Holds("sdx", overlay));
  EXPECT_FALSE(Holds("sdx", dir / "no-such-table"));
}

TEST(HumanSize, ShowsOneDecimalInDecimalUnits) {
  const std::pair<uint64_t, const char*> cases[] = {
      {0, "0 B"},
      {999, "999 B"},
      {1000, "1.0 kB"},
      {31914983424, "31.9 GB"},
      {999949999, "999.9 MB"},
      {999950000, "1.0 GB"},  // would round to "1000.0 MB"
      {1000204886016, "1.0 TB"},
      {UINT64_MAX, "18.4 EB"},
  };
  for (const auto& [bytes, text] : cases) EXPECT_EQ(base::HumanSize(bytes), text) << bytes;
}

}  // namespace
