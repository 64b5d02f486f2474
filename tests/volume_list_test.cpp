// The volumes of a fixture machine: drive letters, the logical drive list,
// the partition associations and the letters of each physical drive.
#include <sys/statvfs.h>
#include <unistd.h>

#include <cctype>

#include "app/main_dlg.h"
#include "inventory/volume_list.h"
#include "platform/volumes.h"
#include "base/numbers.h"
#include "tests/support/fixture_window.h"
#include "tests/support/scripted_shell.h"
#include "tests/volume_fixture.h"

namespace {

using testing_support::ScriptedShell;
using volume_fixture::Machine;

// A window over a fixture machine, connected to its management service.
struct Window {
  explicit Window(const Machine& m)
      : opener(m.Sys(), m.Dev(), m.MountInfo()), layer(m.Sources()), dlg(shell, opener) {
    dlg.SetManagement(&layer);
    dlg.InitDriveListColumns();
    dlg.InitVolumeListColumns();
  }
  void Connect() {
    platform::WbemLocator locator(layer.sources());
    ASSERT_EQ(locator.ConnectServer("\\\\.\\root\\cimv2", &dlg.m_services), 0);
  }
  std::vector<std::string> Column(const app::Control& list, size_t c) {
    std::vector<std::string> out;
    for (const auto& row : list.rows) out.push_back(c < row.size() ? row[c] : "");
    return out;
  }

  ScriptedShell shell;
  platform::DeviceOpener opener;
  platform::ManagementLayer layer;
  app::CMainDlg dlg;
};

// sda: a fixed disk; sda1 is mounted at / (C:), sda2 holds no file system.
// sdb: a removable card formatted whole. sdc: partitions 1, 2 and 10, the
// first mounted. loop0 has no backing file and is no volume.
class VolumeListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m.Disk("sda", 8192, "8:0");
    m.Partition("sda", "sda1", 1, 2048, m.FatVolume("sda1", 1024, "SYSTEM"), "8:1");
    m.Partition("sda", "sda2", 2, 4096, 1024, "8:2");
    testing_support::WriteFile(m.Node("sda2"), testing_support::Bytes(512 * 1024));
    m.Disk("sdb", m.FatVolume("sdb", 2048, "CARD"), "8:16", true);
    m.Disk("sdc", 100000, "8:32");
    m.Partition("sdc", "sdc1", 1, 2048, m.FatVolume("sdc1", 512, "DATA"), "8:33");
    m.Partition("sdc", "sdc10", 10, 40000, m.FatVolume("sdc10", 512, "TEN"), "8:42");
    m.Partition("sdc", "sdc2", 2, 20000, m.FatVolume("sdc2", 512, ""), "8:34");
    m.Disk("loop0", 2048, "7:0");
    m.FatVolume("loop0", 1024, "LOOP");
    m.Mount("8:1", "/", "vfat");
    std::filesystem::create_directories(m.Path("mnt/Windows"));
    m.Mount("8:33", m.Path("mnt"), "vfat");
  }

  Machine m;
};

TEST_F(VolumeListTest, LettersGoToTheRootVolumeFirstThenInDeviceNameOrder) {
  const platform::VolumeTable table(m.Sources());
  std::vector<std::string> seen;
  for (const platform::Volume& v : table.volumes()) {
    seen.push_back(std::string(1, v.letter) + "=" + v.name);
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"C=sda1", "D=sdb", "E=sdc1", "F=sdc2", "G=sdc10"}));
  EXPECT_EQ(table.LogicalDriveStrings(),
            (std::vector<std::string>{"C:\\", "D:\\", "E:\\", "F:\\", "G:\\"}));
}

TEST_F(VolumeListTest, AVolumeKeepsItsLetterWhileDevicesComeAndGo) {
  auto letters = [this] {
    std::vector<std::string> seen;
    const platform::VolumeTable table(m.Sources());
    for (const platform::Volume& v : table.volumes()) {
      seen.push_back(std::string(1, v.letter) + "=" + v.name);
    }
    return seen;
  };
  ASSERT_EQ(letters(), (std::vector<std::string>{"C=sda1", "D=sdb", "E=sdc1", "F=sdc2", "G=sdc10"}));
  // A card that sorts first comes in: the others keep their letters, so a
  // letter picked before still names the same volume.
  m.Disk("mmcblk0", m.FatVolume("mmcblk0", 256, "NEW"), "179:0", true);
  EXPECT_EQ(letters(), (std::vector<std::string>{"C=sda1", "D=sdb", "E=sdc1", "F=sdc2", "G=sdc10",
                                                 "H=mmcblk0"}));
  // One goes away: its letter is not given to the next that comes.
  std::filesystem::remove_all(m.Sys() + "/block/sdb");
  m.Disk("sdd", m.FatVolume("sdd", 256, "LATE"), "8:48");
  EXPECT_EQ(letters(), (std::vector<std::string>{"C=sda1", "E=sdc1", "F=sdc2", "G=sdc10",
                                                 "H=mmcblk0", "I=sdd"}));
}

TEST_F(VolumeListTest, RowsAtStartHoldTheRootsOnly) {
  Window w(m);
  w.dlg.ListLogicalDrives();
  ASSERT_EQ(w.Column(w.dlg.volumeList(), 0),
            (std::vector<std::string>{"C:\\", "D:\\", "E:\\", "F:\\", "G:\\"}));
  for (const auto& row : w.dlg.volumeList().rows) {
    EXPECT_EQ(row.size(), 7u);
    for (size_t c = 1; c < row.size(); ++c) EXPECT_EQ(row[c], "");
  }
  const auto& columns = w.dlg.volumeList().columns;
  ASSERT_EQ(columns.size(), 7u);
  EXPECT_EQ(columns[1].header, "Drive Type" + std::string(26, ' '));
  EXPECT_EQ(columns[3].header, "TotalCapacity" + std::string(13, ' '));
}

TEST_F(VolumeListTest, DetailsShowTypeSpaceFileSystemAndLabel) {
  Window w(m);
  w.dlg.ListLogicalDrives();
  inventory::FillVolumeDetails(w.dlg);
  const auto& rows = w.dlg.volumeList().rows;
  ASSERT_EQ(rows.size(), 5u);
  // C: is mounted at /: its space is that of the file system there.
  struct statvfs root;
  ASSERT_EQ(::statvfs("/", &root), 0);
  EXPECT_EQ(rows[0][1], "DRIVE_FIXED");
  EXPECT_EQ(rows[0][3], base::FormatDecimal(uint64_t{root.f_blocks} * root.f_frsize));
  EXPECT_EQ(rows[0][5], "FAT");
  EXPECT_EQ(rows[0][6], "SYSTEM");
  // D: is an unmounted removable card: its size, and nothing free (which
  // shows as an empty cell).
  EXPECT_EQ(rows[1], (std::vector<std::string>{"D:\\", "DRIVE_REMOVABLE", "", "2097152", "",
                                               "FAT", "CARD"}));
  EXPECT_EQ(rows[3][6], "");  // no label
  // Running it again gives the same rows.
  auto before = rows;
  inventory::FillVolumeDetails(w.dlg);
  EXPECT_EQ(w.dlg.volumeList().rows[1], before[1]);
}

TEST_F(VolumeListTest, AnUnknownRootKeepsItsCellsAndAnUnknownTypeCode) {
  Window w(m);
  w.dlg.volumeList().rows = {{"Q:\\", "old", "1", "2", "3", "fs", "label"}};
  inventory::FillVolumeDetails(w.dlg);
  // No volume information and no space: only the type is written
  // (DRIVE_NO_ROOT_DIR, as for a letter that names nothing).
  EXPECT_EQ(w.dlg.volumeList().rows[0],
            (std::vector<std::string>{"Q:\\", "DRIVE_NO_ROOT_DIR", "1", "2", "3", "fs", "label"}));
}

TEST_F(VolumeListTest, AVolumeLetterOpensItsDeviceAndAMountedOneIsNotWritten) {
  platform::DeviceOpener opener(m.Sys(), m.Dev(), m.MountInfo());
  EXPECT_EQ(opener.Resolve("D:"), m.Node("sdb"));
  EXPECT_EQ(opener.Resolve("d:"), m.Node("sdb"));
  EXPECT_EQ(opener.Resolve("Q:"), "");
  EXPECT_NE(opener.Open("\\\\.\\D:", platform::Access::kReadWrite), nullptr);
  EXPECT_NE(opener.Open("\\\\.\\E:", platform::Access::kRead), nullptr);
  errno = 0;
  EXPECT_EQ(opener.Open("\\\\.\\E:", platform::Access::kReadWrite), nullptr);
  EXPECT_EQ(errno, EBUSY);
}

TEST_F(VolumeListTest, WindowsPathsMapThroughTheMountPoints) {
  const platform::VolumeTable table(m.Sources());
  std::string local;
  ASSERT_TRUE(table.LocalPath("E:\\WINDOWS\\System32", &local));
  EXPECT_EQ(local, m.Path("mnt") + "/Windows/System32");
  ASSERT_TRUE(table.LocalPath("C:\\", &local));
  EXPECT_EQ(local, "/");
  EXPECT_FALSE(table.LocalPath("D:\\WINDOWS", &local));  // not mounted
  EXPECT_FALSE(table.LocalPath("Q:\\", &local));
}

// Eleven disks; volumes on physicaldrive1 (sdb: C: and D:) and on
// physicaldrive10 (sdk: E:).
class DriveLetterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (char d = 'a'; d <= 'k'; ++d) {
      m.Disk(std::string("sd") + d, 4096, "8:" + std::to_string((d - 'a') * 16));
    }
    m.Partition("sdb", "sdb1", 1, 2048, m.FatVolume("sdb1", 256, "ONE"), "8:17");
    m.Partition("sdb", "sdb2", 2, 4096, m.FatVolume("sdb2", 256, "TWO"), "8:18");
    m.Partition("sdk", "sdk1", 1, 2048, m.FatVolume("sdk1", 256, "TEN"), "8:161");
    m.Mount("8:17", "/", "vfat");
  }
  void FillDriveRows(Window& w) {
    for (int i = 0; i <= 10; ++i) {
      std::vector<std::string> row(13);
      row[0] = "physicaldrive" + std::to_string(i);
      w.dlg.driveList().rows.push_back(row);
    }
  }

  Machine m;
};

TEST_F(DriveLetterTest, EachDriveGetsTheLettersOfItsOwnVolumesOnly) {
  Window w(m);
  w.Connect();
  FillDriveRows(w);
  w.dlg.driveList().rows[3][inventory::kLetterColumn] = "stale";
  ASSERT_TRUE(inventory::MapDrivesToLetters(w.dlg));
  std::vector<std::string> expected(11);
  expected[1] = "C: D: ";
  expected[10] = "E: ";  // and Disk #1 does not take E: for matching "Disk #10"
  EXPECT_EQ(w.Column(w.dlg.driveList(), inventory::kLetterColumn), expected);
  // Again: the same text, not a doubled one.
  ASSERT_TRUE(inventory::MapDrivesToLetters(w.dlg));
  EXPECT_EQ(w.Column(w.dlg.driveList(), inventory::kLetterColumn), expected);
  EXPECT_TRUE(w.shell.boxes.empty());
}

TEST_F(DriveLetterTest, AssociationPathsHaveTheManagementServicesForm) {
  platform::WbemLocator locator(m.Sources());
  std::shared_ptr<platform::WbemServices> services;
  ASSERT_EQ(locator.ConnectServer("\\\\.\\root\\cimv2", &services), 0);
  std::unique_ptr<platform::WbemEnumerator> all;
  ASSERT_EQ(services->CreateInstanceEnum("Win32_LogicalDiskToPartition", &all), 0);
  std::vector<std::string> paths;
  std::unique_ptr<platform::WbemClassObject> object;
  uint32_t returned = 0;
  while (all->Next(2000, &object, &returned) == 0 && returned == 1) {
    std::string path;
    ASSERT_EQ(object->Get("__RELPATH", &path), 0);
    paths.push_back(path);
  }
  char host[256] = {};
  ::gethostname(host, sizeof host - 1);
  std::string h(host);
  for (char& c : h) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  ASSERT_EQ(paths.size(), 3u);
  EXPECT_EQ(paths[2],
            "Win32_LogicalDiskToPartition.Antecedent=\"\\\\\\\\" + h +
                "\\\\root\\\\cimv2:Win32_DiskPartition.DeviceID=\\\"Disk #10, Partition #0\\\"\","
                "Dependent=\"\\\\\\\\" + h +
                "\\\\root\\\\cimv2:Win32_LogicalDisk.DeviceID=\\\"E:\\\"\"");
  const size_t anchor = paths[1].find("Win32_LogicalDisk.DeviceID=");
  EXPECT_EQ(paths[1][anchor + 29], 'D');
  EXPECT_NE(paths[1].find("Disk #1, Partition #1"), std::string::npos);
  // Each association names an object the service can fetch.
  std::unique_ptr<platform::WbemClassObject> again;
  EXPECT_EQ(services->GetObject(paths[0], &again), 0);
}

TEST_F(DriveLetterTest, WithoutAConnectionTheMapIsRefusedAndTheCellsAreEmpty) {
  Window w(m);
  FillDriveRows(w);
  w.dlg.driveList().rows[1][inventory::kLetterColumn] = "C: ";
  EXPECT_FALSE(inventory::MapDrivesToLetters(w.dlg));
  EXPECT_EQ(w.shell.Lines(), (std::vector<std::string>{"Lumisave: CreateInstanceEnum failed"}));
  EXPECT_EQ(w.Column(w.dlg.driveList(), inventory::kLetterColumn), std::vector<std::string>(11));
}

TEST_F(DriveLetterTest, GetLogicalDriveInfoFillsDetailsThenLetters) {
  Window w(m);
  w.Connect();
  w.dlg.ListLogicalDrives();
  FillDriveRows(w);
  ASSERT_TRUE(w.dlg.Press(app::id::kGetLogicalDriveInfo));
  EXPECT_EQ(w.dlg.volumeList().rows[2][6], "TEN");
  EXPECT_EQ(w.dlg.driveList().rows[10][inventory::kLetterColumn], "E: ");
}

TEST_F(DriveLetterTest, AtStartAndAfterGetLogicalDriveInfoTheWindowShowsEveryLetter) {
  testing_support::ScopedHome home(m.Path(""));
  Window w(m);
  w.dlg.OnInitDialog();
  ASSERT_EQ(w.dlg.driveList().rows.size(), 11u);
  EXPECT_EQ(w.Column(w.dlg.volumeList(), 0), (std::vector<std::string>{"C:\\", "D:\\", "E:\\"}));
  EXPECT_EQ(w.Column(w.dlg.driveList(), inventory::kLetterColumn), std::vector<std::string>(11));
  w.dlg.Press(app::id::kGetLogicalDriveInfo);
  EXPECT_EQ(w.dlg.driveList().rows[1][inventory::kLetterColumn], "C: D: ");
  EXPECT_EQ(w.dlg.driveList().rows[10][inventory::kLetterColumn], "E: ");
  EXPECT_EQ(w.dlg.volumeList().rows[1][6], "TWO");
  // A rebuild of the drive list empties the letters until the next run.
  w.dlg.Press(app::id::kDiskInfo1);
  EXPECT_EQ(w.dlg.driveList().rows[1][inventory::kLetterColumn], "");
}

TEST(PathNamesDisk, MatchesTheWholeDiskNumber) {
  struct Case {
    const char* path;
    const char* key;
    bool match;
  } cases[] = {
      {"DeviceID=\\\"Disk #1, Partition #0\\\"", "Disk #1", true},
      {"DeviceID=\\\"Disk #10, Partition #0\\\"", "Disk #1", false},
      {"DeviceID=\\\"Disk #10, Partition #0\\\"", "Disk #10", true},
      {"DeviceID=\\\"Disk #100, Partition #0\\\"", "Disk #10", false},
      {"DeviceID=\\\"Disk #11, Partition #0\\\" Disk #1,", "Disk #1", true},
      {"DeviceID=\\\"Disk #0, Partition #0\\\"", "Disk #1", false},
      {"DeviceID=\\\"Disk #1, Partition #0\\\"", "", false},
      {"/images/card.img", "/images/card.img", true},  // a key without a number
  };
  for (const Case& c : cases) {
    EXPECT_EQ(inventory::PathNamesDisk(c.path, c.key), c.match) << c.path << " / " << c.key;
  }
}

}  // namespace
