// The management console: Make Office with a temporary state folder, Disk
// Info, the commands without a connection, and the Mirror watch.
#include <unistd.h>

#include <chrono>
#include <thread>

#include "app/main_dlg.h"
#include "inventory/console.h"
#include "platform/dir_watch.h"
#include "tests/support/fixture_window.h"
#include "tests/support/scripted_shell.h"
#include "tests/volume_fixture.h"

namespace {

using testing_support::ScriptedShell;
using volume_fixture::Machine;
using Lines = std::vector<std::string>;

struct Console {
  explicit Console(const platform::MachineSources& sources)
      : layer(sources), dlg(shell, opener) {
    dlg.SetManagement(&layer);
  }
  void Connect() {
    platform::WbemLocator locator(layer.sources());
    ASSERT_EQ(locator.ConnectServer("\\\\.\\root\\cimv2", &dlg.m_services), 0);
  }
  Lines Output() const {
    Lines out;
    for (const auto& row : dlg.control(app::id::kOutputList).rows) out.push_back(row.at(0));
    return out;
  }
  void Select(const std::string& line) {
    dlg.outputList().rows = {{"something else"}, {line}};
    dlg.outputList().selected = 1;
  }

  ScriptedShell shell;
  platform::DeviceOpener opener;
  platform::ManagementLayer layer;
  app::CMainDlg dlg;
};

class ConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m.Disk("sdb", m.FatVolume("sdb", 512, "CARD"), "8:16", true);
  }
  Machine m;
};

TEST_F(ConsoleTest, MakeOfficeCreatesTheNamespaceOnceAndFindsItAfterwards) {
  {
    Console c(m.Sources());
    c.Connect();
    c.dlg.Enable(app::id::kDiskInfo, true);
    c.dlg.outputList().rows = {{"old line"}};
    ASSERT_TRUE(c.dlg.Press(app::id::kMakeOffice));
    EXPECT_EQ(c.Output(), (Lines{"Created office namespace", "Connected to office"}));
    EXPECT_FALSE(c.dlg.control(app::id::kDiskInfo).enabled);
    EXPECT_EQ(c.dlg.m_officeServices, nullptr);
  }
  // A later run, in a new window, finds the namespace the first one made.
  Console c(m.Sources());
  c.Connect();
  c.dlg.Press(app::id::kMakeOffice);
  EXPECT_EQ(c.Output(), Lines{"Connected to office"});
  c.dlg.Press(app::id::kMakeOffice);
  EXPECT_EQ(c.Output(), Lines{"Connected to office"});
  // The namespace can be connected to by its path.
  platform::WbemLocator locator(m.Sources());
  std::shared_ptr<platform::WbemServices> office;
  EXPECT_EQ(locator.ConnectServer("\\\\.\\root\\cimv2\\SAMPLE_Office", &office), 0);
}

TEST_F(ConsoleTest, MakeOfficeWithoutTheRightToWriteTheStoreShowsTheStatus) {
  platform::MachineSources sources = m.Sources();
  testing_support::WriteFile(m.Path("file"), {});
  sources.stateDir = m.Path("file") + "/state";  // a folder that cannot be made
  Console c(sources);
  c.Connect();
  c.dlg.Press(app::id::kMakeOffice);
  EXPECT_EQ(c.Output(), Lines{"Failed to connect to office(0x80041003)"});
}

TEST_F(ConsoleTest, DiskInfoListsTheNonSystemPropertiesWithTheirTypes) {
  Console c(m.Sources());
  c.Connect();
  c.Select("Win32_LogicalDisk.DeviceID=\"D:\"");
  c.dlg.Enable(app::id::kDiskInfo, true);
  testing::internal::CaptureStderr();
  c.dlg.Press(app::id::kDiskInfo);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "SAFEARRAY from 0 to 8\n");
  EXPECT_EQ(c.Output(), (Lines{"Caption (string)", "Description (string)", "DeviceID (string)",
                               "DriveType (uint32)", "FileSystem (string)", "FreeSpace (uint64)",
                               "Name (string)", "Size (uint64)", "VolumeName (string)"}));
  EXPECT_FALSE(c.dlg.control(app::id::kDiskInfo).enabled);
}

TEST_F(ConsoleTest, DiskInfoWithNothingToDescribeKeepsTheLines) {
  Console c(m.Sources());
  c.Connect();
  c.Select("Win32_LogicalDisk.DeviceID=\"Q:\"");  // names no object
  c.dlg.Press(app::id::kDiskInfo);
  EXPECT_EQ(c.Output(), (Lines{"something else", "Win32_LogicalDisk.DeviceID=\"Q:\""}));
  c.dlg.outputList().selected = -1;  // no line selected
  c.dlg.Press(app::id::kDiskInfo);
  EXPECT_EQ(c.Output().size(), 2u);
  EXPECT_TRUE(c.shell.boxes.empty());
}

TEST_F(ConsoleTest, WithoutAConnectionTheCommandsDoNoHarm) {
  Console c(m.Sources());
  c.Select("Win32_LogicalDisk.DeviceID=\"D:\"");
  c.dlg.Press(app::id::kDiskInfo);
  EXPECT_EQ(c.Output().size(), 2u);
  c.dlg.Press(app::id::kEnumDisks);
  c.dlg.Press(app::id::kMakeOffice);
  EXPECT_EQ(c.Output(), Lines{"Failed to connect to office(0x80041001)"});
}

// The Mirror watch ends the process; these run it in a child process.
using MirrorDeathTest = ConsoleTest;

TEST_F(MirrorDeathTest, WithoutAWindowsFolderTheProcessEndsWithTheErrorCode) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  Console c{platform::MachineSources{}};  // the machine itself: no /WINDOWS there
  EXPECT_EXIT(
      {
        c.dlg.Press(app::id::kMirror);
        // The watch runs on a thread of its own: the window goes on.
        EXPECT_TRUE(inventory::MirrorRunning());
        for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
      },
      testing::ExitedWithCode(ENOENT), "");
}

TEST_F(MirrorDeathTest, ChangesAreTakenInAndALostFolderEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::string windows = m.Path("root/WINDOWS"), root = m.Path("root");
  std::filesystem::create_directories(windows);
  std::filesystem::create_directories(root + "/Users");
  // Changes in both watched places: the watch goes on through them (the
  // process ends only with the code the test gives it).
  EXPECT_EXIT(
      {
        std::thread([&] {
          std::this_thread::sleep_for(std::chrono::milliseconds(100));
          for (int i = 0; i < 20; ++i) {
            const std::string n = std::to_string(i);
            testing_support::WriteFile(windows + "/f" + n, {});
            std::filesystem::create_directories(root + "/Users/d" + n + "/e");
            std::filesystem::remove(windows + "/f" + n);
          }
          std::this_thread::sleep_for(std::chrono::milliseconds(100));
          ::_exit(77);
        }).detach();
        inventory::WatchFolders(windows, root);
      },
      testing::ExitedWithCode(77), "");
  // The watched folder deleted: the watch cannot be armed again.
  EXPECT_EXIT(
      {
        std::thread([&] {
          std::this_thread::sleep_for(std::chrono::milliseconds(100));
          std::filesystem::remove(windows);
        }).detach();
        inventory::WatchFolders(windows, root);
      },
      testing::ExitedWithCode(ENOENT), "");
}

}  // namespace

namespace {

TEST(ChangeWatch, ASubtreeWatchTakesInFoldersMadeAfterItStarted) {
  testing_support::TempDir dir;
  const std::string windows = dir / "WINDOWS";
  std::filesystem::create_directories(windows);
  std::filesystem::create_directories(dir / "a/b");
  int error = 0;
  auto first = platform::ChangeWatch::Start(windows, false, platform::kChangeFileName, &error);
  auto second = platform::ChangeWatch::Start(dir.path(), true, platform::kChangeDirName, &error);
  ASSERT_TRUE(first && second) << error;

  std::filesystem::create_directories(dir / "a/b/c");  // in a folder there at the start
  ASSERT_EQ(platform::ChangeWatch::WaitForEither(*first, *second, &error), 1);
  ASSERT_TRUE(second->Rearm(&error));
  std::filesystem::create_directories(dir / "a/b/c/d");  // in the folder just made
  ASSERT_EQ(platform::ChangeWatch::WaitForEither(*first, *second, &error), 1);
  ASSERT_TRUE(second->Rearm(&error));
  testing_support::WriteFile(windows + "/new.txt", {});
  EXPECT_EQ(platform::ChangeWatch::WaitForEither(*first, *second, &error), 0);
  EXPECT_TRUE(first->Rearm(&error));

  // A folder that does not exist cannot be watched: its error is told.
  EXPECT_EQ(platform::ChangeWatch::Start(dir / "none", false, 1, &error), nullptr);
  EXPECT_EQ(error, ENOENT);
}

}  // namespace

namespace {

// The console over a fixture machine's disk drives.
TEST(ConsoleDisks, ConnectEnumDisksAndDiskInfoOnADiskDrive) {
  testing_support::FixtureWindow f;
  f.dlg.OnInitDialog();
  f.dlg.Press(app::id::kConnect);
  ASSERT_EQ(f.dlg.outputList().rows, (std::vector<std::vector<std::string>>{{"Connected to namespace"}}));
  EXPECT_TRUE(f.dlg.control(app::id::kEnumDisks).enabled);
  f.dlg.Press(app::id::kEnumDisks);
  ASSERT_GE(f.dlg.outputList().rows.size(), 3u);
  EXPECT_EQ(f.dlg.outputList().rows[1][0], "Win32_DiskDrive.DeviceID=\"\\\\\\\\.\\\\PHYSICALDRIVE1\"");
  EXPECT_EQ(f.dlg.outputList().selected, 0);
  f.dlg.outputList().selected = 1;
  testing::internal::CaptureStderr();
  f.dlg.Press(app::id::kDiskInfo);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "SAFEARRAY from 0 to 10\n");
  Lines lines;
  for (const auto& row : f.dlg.outputList().rows) lines.push_back(row[0]);
  EXPECT_EQ(lines, (Lines{"BytesPerSector (uint32)", "Caption (string)", "DeviceID (string)",
                          "Index (uint32)", "InterfaceType (string)", "MediaType (string)",
                          "Model (string)", "Name (string)", "PNPDeviceID (string)",
                          "Size (uint64)", "TotalSectors (uint64)"}));
  // The list now holds property lines: a Disk Info1 has no drive to rebuild from.
  f.dlg.Press(app::id::kDiskInfo1);
  EXPECT_TRUE(f.dlg.driveList().rows.empty());
}

TEST(ConsoleDisks, ABadNamespaceLeavesMakeOfficeWithoutAConnection) {
  testing_support::FixtureWindow f;
  f.dlg.OnInitDialog();
  f.dlg.SetText(app::id::kNamespace, "\\\\.\\root\\nothing");
  f.dlg.Press(app::id::kConnect);
  EXPECT_EQ(f.shell.Lines(), Lines{"Lumisave: Bad namespace"});
  f.dlg.Press(app::id::kMakeOffice);
  EXPECT_EQ(f.dlg.outputList().rows.back()[0], "Failed to connect to office(0x80041001)");
}

}  // namespace
