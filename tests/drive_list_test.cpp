// The physical drive list on fixture machines.
#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <map>

#include "inventory/drive_list.h"
#include "tests/support/fixture_window.h"

namespace {

using testing_support::FixtureMachine;
using testing_support::FixtureWindow;
namespace fs = std::filesystem;

std::vector<std::string> Column(const app::Control& list, size_t column) {
  std::vector<std::string> cells;
  for (const auto& row : list.rows) cells.push_back(row.at(column));
  return cells;
}


TEST(DriveListTest, ColumnsHaveTheirHeadersAndWidths) {
  FixtureWindow w;
  w.dlg.InitDriveListColumns();
  const auto& columns = w.dlg.driveList().columns;
  ASSERT_EQ(columns.size(), 17u);
  const std::pair<const char*, int> expected[] = {
      {"PhysicalDrive", app::ListColumn::kFitted},
      {"PNPDriveID", 0},
      {"Name                      ", app::ListColumn::kFitted},
      {"FatherID", 0},
      {"GrandFatherID", 0},
      {"FatherName                ", 0},
      {"GrandFatherName", 0},
      {"Capacity (Byte)                 ", app::ListColumn::kFitted},
      {"Cylinders", 0},
      {"Tracks", 0},
      {"Sectors", 0},
      {"Bytes", 0},
      {"LogicalDriveLetter", 0},
      {"Model                     ", app::ListColumn::kFitted},
      {"Size      ", app::ListColumn::kFitted},
      {"Removable", app::ListColumn::kFitted},
      {"System", app::ListColumn::kFitted},
  };
  for (size_t i = 0; i < 17; ++i) {
    EXPECT_EQ(columns[i].header, expected[i].first) << i;
    EXPECT_EQ(columns[i].width, expected[i].second) << i;
  }
}

TEST(DriveListTest, UsualMachineFillsEveryColumn) {
  FixtureWindow w;
  w.dlg.OnInitDialog();
  EXPECT_TRUE(w.shell.boxes.empty()) << w.shell.Lines()[0];
  const app::Control& list = w.dlg.driveList();
  // sys/block in name order: loop0, nvme0n1, sda, sdb (loop1 has no backing file).
  ASSERT_EQ(list.rows.size(), 4u);
  EXPECT_EQ(Column(list, 0), (std::vector<std::string>{"physicaldrive0", "physicaldrive1",
                                                       "physicaldrive2", "physicaldrive3"}));
  const std::string card = std::string(FixtureMachine::kCardReader) + "/block/sdb";
  const std::string nvme = std::string(FixtureMachine::kNvme) + "/nvme0n1";
  EXPECT_EQ(Column(list, 1),
            (std::vector<std::string>{"virtual/block/loop0", nvme,
                                      std::string(FixtureMachine::kSata) + "/block/sda", card}));
  EXPECT_EQ(Column(list, 2), (std::vector<std::string>{"/home/ann/card.img",
                                                       "WDC PC SN730 SDBQNTY-256G",
                                                       "ATA Samsung SSD 860", "Generic- SD/MMC"}));
  // The card: parent is the SCSI disk, grandparent its target.
  const auto& sdb = list.rows[3];
  EXPECT_EQ(sdb[3], FixtureMachine::kCardReader);
  EXPECT_EQ(sdb[4], "pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/host6/target6:0:0");
  EXPECT_EQ(sdb[5], "SD/MMC");
  EXPECT_EQ(sdb[6], "scsi");
  EXPECT_EQ(sdb[7], std::to_string(FixtureMachine::kCardSectors * 512));
  EXPECT_EQ((std::vector<std::string>{sdb[8], sdb[9], sdb[10], sdb[11]}),
            (std::vector<std::string>{"8192", "1", "1", "512"}));
  // NVMe: the controller, then the PCI function with its driver.
  EXPECT_EQ(list.rows[1][3], FixtureMachine::kNvme);
  EXPECT_EQ(list.rows[1][5], "WDC PC SN730 SDBQNTY-256G");
  EXPECT_EQ(list.rows[1][6], "nvme");
  // The loop device has no parent device: its parent cells stay empty.
  EXPECT_EQ((std::vector<std::string>{list.rows[0][3], list.rows[0][4], list.rows[0][5]}),
            (std::vector<std::string>{"", "", ""}));
  EXPECT_EQ(Column(list, 7),
            (std::vector<std::string>{"524288", "1048576", "2097152", "4194304"}));
  EXPECT_EQ(Column(list, 12), (std::vector<std::string>(4, "")));
  // What tells them apart: model, size, removable, the system disk.
  EXPECT_EQ(Column(list, 13), (std::vector<std::string>{"card.img", "WDC PC SN730 SDBQNTY-256G",
                                                        "Samsung SSD 860", "Generic- SD/MMC"}));
  EXPECT_EQ(Column(list, 14),
            (std::vector<std::string>{"524.3 kB", "1.0 MB", "2.1 MB", "4.2 MB"}));
  EXPECT_EQ(Column(list, 15), (std::vector<std::string>{"no", "no", "no", "yes"}));
  EXPECT_EQ(Column(list, 16), (std::vector<std::string>(4, "")));
  // The hand-over and the buttons the stages enable.
  const app::Control& output = w.dlg.outputList();
  ASSERT_EQ(output.rows.size(), 4u);
  EXPECT_EQ(output.rows[1][0], "Win32_DiskDrive.DeviceID=\"\\\\\\\\.\\\\PHYSICALDRIVE1\"");
  EXPECT_EQ(output.selected, 0);
  EXPECT_TRUE(w.dlg.control(app::id::kEnumDisks).enabled);
  EXPECT_TRUE(w.dlg.control(app::id::kDiskInfo1).enabled);
  // physicaldrive1 opens the second disk.
  EXPECT_EQ(w.opener.Resolve(list.rows[1][0]), w.machine.DevFile("nvme0n1"));
}

TEST(DriveListTest, UnreadableAttributesLeaveTheirCellsEmpty) {
  FixtureWindow w;
  w.machine.BreakAttribute(std::string(FixtureMachine::kSata) + "/block/sda", "size");
  w.machine.BreakAttribute(FixtureMachine::kSata, "model");
  w.machine.BreakAttribute(FixtureMachine::kCardReader, "model");
  w.dlg.OnInitDialog();
  EXPECT_TRUE(w.shell.boxes.empty());
  const auto& sda = w.dlg.driveList().rows.at(2);
  // No friendly name: the instance identifier stands in.
  EXPECT_EQ(sda[2], sda[1]);
  for (size_t c = 7; c <= 11; ++c) EXPECT_EQ(sda[c], "") << c;
  const auto& sdb = w.dlg.driveList().rows.at(3);
  EXPECT_EQ(sdb[2], sdb[1]);
  EXPECT_EQ(sdb[5], "sd");  // no model: the driver describes the parent
}

// Rows holding only the given cells, the others "-" so that a cell written
// by mistake shows.
std::vector<std::vector<std::string>> RowsWith(
    const std::vector<std::map<size_t, std::string>>& cells) {
  std::vector<std::vector<std::string>> rows;
  for (const auto& row : cells) {
    rows.emplace_back(inventory::kDriveListColumnCount, "-");
    for (const auto& [column, text] : row) rows.back()[column] = text;
  }
  return rows;
}

TEST(DriveListTest, IdentitiesComeFromTheLastDeviceThePnpIdBeginsWith) {
  FixtureWindow w(false);
  w.machine.AddLookAlikeDevices();
  const std::string bus = FixtureMachine::kUsbBus;
  const struct {
    std::string pnpId;
    std::vector<std::string> nameFatherGrandFather;
  } cases[] = {
      // loop1 begins loop10's id too; loop10 comes after it.
      {"virtual/block/loop10", {"loop10", "-", "-"}},
      {"virtual/block/loop1", {"loop1", "-", "-"}},
      {"VIRTUAL/BLOCK/LOOP10/LOOP10P1", {"loop10p1", "virtual/block/loop10", "-"}},
      {bus + "/1-2.1/1-2.1:1.0", {"hub iface", bus + "/1-2.1", bus}},
      {bus + "/1-2", {"port", bus, "pci0000:00/0000:00:14.0"}},
      {"lnxsystm:00/lnxpwrbn:00", {"power button", "LNXSYSTM:00", "-"}},
      // An empty cell, no such device, a path below a device: untouched.
      {"", {"-", "-", "-"}},
      {"pci0000:00/0000:00:99.0", {"-", "-", "-"}},
      {bus + "/1-2/nothing", {"-", "-", "-"}},
  };
  std::vector<std::map<size_t, std::string>> cells;
  for (const auto& c : cases) cells.push_back({{inventory::kPnpIdColumn, c.pnpId}});
  w.dlg.driveList().rows = RowsWith(cells);
  inventory::FillDeviceIdentities(w.dlg, platform::DeviceTree(w.machine.sources()));
  const auto& rows = w.dlg.driveList().rows;
  ASSERT_EQ(rows.size(), std::size(cases));
  for (size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ((std::vector<std::string>{rows[i][inventory::kFriendlyNameColumn],
                                        rows[i][inventory::kFatherIdColumn],
                                        rows[i][inventory::kGrandFatherIdColumn]}),
              cases[i].nameFatherGrandFather)
        << cases[i].pnpId;
    EXPECT_EQ(rows[i][inventory::kFatherNameColumn], "-") << cases[i].pnpId;
  }
}

TEST(DriveListTest, ParentNamesComeFromTheLastDeviceThatBeginsWithTheirId) {
  FixtureWindow w(false);
  w.machine.AddLookAlikeDevices();
  const std::string bus = FixtureMachine::kUsbBus;
  const struct {
    std::string father, grandFather;
    std::string fatherName, grandFatherName;
  } cases[] = {
      // The port's look-alike sibling holds the last match, below it.
      {bus + "/1-2", "", "hub iface", "-"},
      {"", "PCI0000:00/0000:00:14.0/USB1/1-2.1", "-", "hub port"},
      {"virtual/block/loop1", "virtual/block/loop10", "loop10p1", "loop10"},
      {"pci0000:00/0000:00:99.0", "lnxsystm:00", "-", "system bus"},
  };
  std::vector<std::map<size_t, std::string>> cells;
  for (const auto& c : cases) {
    cells.push_back(
        {{inventory::kFatherIdColumn, c.father}, {inventory::kGrandFatherIdColumn, c.grandFather}});
  }
  w.dlg.driveList().rows = RowsWith(cells);
  inventory::FillParentNames(w.dlg, platform::DeviceTree(w.machine.sources()));
  const auto& rows = w.dlg.driveList().rows;
  ASSERT_EQ(rows.size(), std::size(cases));
  for (size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i][inventory::kFatherNameColumn], cases[i].fatherName) << cases[i].father;
    EXPECT_EQ(rows[i][inventory::kGrandFatherNameColumn], cases[i].grandFatherName)
        << cases[i].grandFather;
  }
}

TEST(DriveListTest, ZeroSizeShowsEmptyCapacityAndTheScanRefuses) {
  FixtureWindow w(false);
  w.machine.AddDevice("pci0000:00");
  w.machine.AddDevice("pci0000:00/0000:00:14.0/mmc_host/mmc0/mmc0:aaaa",
                      {{"type", "SD"}, {"name", "SL32G"}}, "mmcblk", "mmc");
  w.machine.AddDisk("pci0000:00/0000:00:14.0/mmc_host/mmc0/mmc0:aaaa/block/mmcblk0",
                    "pci0000:00/0000:00:14.0/mmc_host/mmc0/mmc0:aaaa", 0, true);
  w.dlg.OnInitDialog();
  const auto& row = w.dlg.driveList().rows.at(0);
  EXPECT_EQ(row[2], "SD SL32G");
  EXPECT_EQ(row[7], "");
  EXPECT_EQ((std::vector<std::string>{row[8], row[9], row[10], row[11]}),
            (std::vector<std::string>{"0", "1", "1", "512"}));
  w.dlg.SelectDriveRow(0);
  w.shell.answers = {app::Answer::kYes};
  w.dlg.OnStartRecovery();
  ASSERT_FALSE(w.shell.boxes.empty());
  EXPECT_EQ(w.shell.Lines().back(), "error: start sector number > dirve size !");
}

TEST(DriveListTest, NoDisksAtAllOpensAnEmptyList) {
  FixtureWindow w(false);
  fs::remove_all(w.machine.sysRoot());
  w.dlg.OnInitDialog();
  EXPECT_TRUE(w.shell.boxes.empty());
  EXPECT_TRUE(w.dlg.driveList().rows.empty());
  EXPECT_EQ(w.dlg.driveList().columns.size(), 17u);
  EXPECT_FALSE(w.dlg.control(app::id::kDiskInfo1).enabled);
  w.dlg.Press(app::id::kDiskInfo1);
  EXPECT_TRUE(w.dlg.driveList().rows.empty());
}

TEST(DriveListTest, DiskInfo1RebuildsTheSameRowsWithAnEmptyLetterColumn) {
  FixtureWindow w;
  w.dlg.OnInitDialog();
  const auto first = w.dlg.driveList().rows;
  w.dlg.driveList().rows[0][12] = "C:";
  w.dlg.Press(app::id::kDiskInfo1);
  EXPECT_EQ(w.dlg.driveList().rows, first);
  w.dlg.Press(app::id::kDiskInfo1);
  EXPECT_EQ(w.dlg.driveList().rows, first);
}

// A start-up layer whose locator cannot be made.
class NoLocatorLayer : public platform::ManagementLayer {
 public:
  using ManagementLayer::ManagementLayer;
  platform::HRESULT CreateLocator(std::unique_ptr<platform::WbemLocator>*) override {
    return platform::wbem::kClassNotRegistered;
  }
};

TEST(DriveListTest, NoLocatorShowsOneMessageAndAnEmptyList) {
  FixtureWindow w;
  NoLocatorLayer layer(w.machine.sources());
  w.dlg.SetManagement(&layer);
  w.dlg.OnInitDialog();
  EXPECT_EQ(w.shell.Lines(), (std::vector<std::string>{"Lumisave: Failed to create IWbemLocator object"}));
  EXPECT_TRUE(w.dlg.driveList().rows.empty());
  EXPECT_TRUE(w.dlg.outputList().rows.empty());
  EXPECT_EQ(w.dlg.m_services, nullptr);
}

TEST(DriveListTest, BadNamespaceThenFillsAndListsWithoutConnection) {
  FixtureWindow w;
  w.dlg.OnInitDialog();
  ASSERT_NE(w.dlg.m_services, nullptr);
  w.dlg.SetText(app::id::kNamespace, "\\\\.\\root\\nothing");
  EXPECT_FALSE(w.dlg.ConnectAndListDisks());
  EXPECT_EQ(w.shell.Lines(), (std::vector<std::string>{"Lumisave: Bad namespace"}));
  EXPECT_EQ(w.dlg.m_services, nullptr);
  // The old lines name drives, but with no connection nothing can be
  // fetched: no rows, no message, and the program goes on.
  w.dlg.Press(app::id::kDiskInfo1);
  EXPECT_TRUE(w.dlg.driveList().rows.empty());
  EXPECT_FALSE(w.dlg.ListDiskDrives());
  EXPECT_EQ(w.dlg.outputList().rows,
            (std::vector<std::vector<std::string>>{{"CreateInstanceEnum() failed:(0x80041001)"}}));
  w.dlg.FillDriveList();
  EXPECT_TRUE(w.dlg.driveList().rows.empty());
  EXPECT_EQ(w.shell.boxes.size(), 1u);
}

TEST(DriveListTest, LinesThatNameNoObjectMakeNoRow) {
  FixtureWindow w;
  w.dlg.OnInitDialog();
  auto& lines = w.dlg.outputList().rows;
  lines.insert(lines.begin(), {"CreateInstanceEnum() failed:(0x80041010)"});
  lines.insert(lines.begin() + 2, {"Win32_DiskDrive.DeviceID=\"\\\\\\\\.\\\\PHYSICALDRIVE9\""});
  w.dlg.Press(app::id::kDiskInfo1);
  EXPECT_TRUE(w.shell.boxes.empty());
  EXPECT_EQ(Column(w.dlg.driveList(), 0),
            (std::vector<std::string>{"physicaldrive0", "physicaldrive1", "physicaldrive2",
                                      "physicaldrive3"}));
}

TEST(DriveListTest, HresultMessageFormsTheStatus) {
  const std::pair<platform::HRESULT, const char*> cases[] = {
      {0, "x:(0x00000000)"},
      {static_cast<platform::HRESULT>(0x8004100E), "x:(0x8004100e)"},
      {1, "x:(0x00000001)"},
      {-1, "x:(0xffffffff)"},
  };
  for (const auto& [status, text] : cases) EXPECT_EQ(inventory::HresultMessage("x:", status), text);
}

TEST(DriveListTest, AttachedImagesComeLastWithTheirPath) {
  FixtureWindow w;
  testing_support::ImageBuilder(100).WriteTo(w.machine.dir() / "Card Image.IMG");
  const std::string image = w.machine.dir() / "Card Image.IMG";
  w.layer.sources().attachedImages.push_back(image);
  w.dlg.OnInitDialog();
  const auto& list = w.dlg.driveList();
  ASSERT_EQ(list.rows.size(), 5u);
  EXPECT_EQ(list.rows[4][0], image);  // the path keeps its letter case
  EXPECT_EQ(list.rows[4][1], "image:" + image);
  EXPECT_EQ(list.rows[4][2], "Image Card Image.IMG");
  EXPECT_EQ(list.rows[4][7], "51200");
  EXPECT_EQ(w.dlg.AttachDrive(image), 4);
  EXPECT_EQ(w.dlg.FindDriveRow("PhysicalDrive3"), 3);
  EXPECT_EQ(w.dlg.FindDriveRow(w.machine.DevFile("sdb")), 3);
}

TEST(DriveListTest, AttachingAPathListsItAfterTheDrives) {
  FixtureWindow w;
  w.dlg.OnInitDialog();
  testing_support::ImageBuilder(10).WriteTo(w.machine.dir() / "a.img");
  const int row = w.dlg.AttachDrive(w.machine.dir() / "a.img");
  EXPECT_EQ(row, 4);
  EXPECT_EQ(w.dlg.driveList().rows[4][7], "5120");
  EXPECT_EQ(w.dlg.AttachDrive("physicaldrive7"), -1);
  EXPECT_EQ(w.dlg.AttachDrive("physicaldrive2"), 2);
}

TEST(DriveListTest, DiskDriveObjectsCarryTypedProperties) {
  FixtureWindow w;
  platform::WbemLocator locator(w.machine.sources());
  std::shared_ptr<platform::WbemServices> services;
  ASSERT_EQ(locator.ConnectServer("\\\\.\\root\\cimv2", &services), 0);
  std::unique_ptr<platform::WbemClassObject> disk;
  ASSERT_EQ(services->GetObject("Win32_DiskDrive.DeviceID=\"\\\\\\\\.\\\\PHYSICALDRIVE3\"", &disk), 0);
  std::string value;
  const std::pair<const char*, std::pair<const char*, const char*>> expected[] = {
      {"Index", {"3", "uint32"}},
      {"Size", {"4194304", "uint64"}},
      {"Model", {"Generic- SD/MMC", "string"}},
      {"MediaType", {"Removable Media", "string"}},
      {"InterfaceType", {"USB", "string"}},
  };
  for (const auto& [name, v] : expected) {
    ASSERT_EQ(disk->Get(name, &value), 0) << name;
    EXPECT_EQ(value, v.first) << name;
    std::unique_ptr<platform::WbemQualifierSet> qualifiers;
    ASSERT_EQ(disk->GetPropertyQualifierSet(name, &qualifiers), 0);
    ASSERT_EQ(qualifiers->Get("CIMTYPE", &value), 0);
    EXPECT_EQ(value, v.second) << name;
  }
}

}  // namespace
