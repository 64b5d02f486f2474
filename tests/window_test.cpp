// The main window as a model: start-up, initialisation, data exchange, and
// the source and folder commands.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/main_app.h"
#include "tests/support/fixture_window.h"

namespace {

using testing_support::FixtureWindow;
using app::Answer;
namespace fs = std::filesystem;

TEST(WindowTest, InitDialogSetsDefaultsAndCreatesTheOutputFolder) {
  FixtureWindow w;
  w.dlg.SetChecked(app::id::kCheckPdf, true);
  ASSERT_TRUE(w.dlg.OnInitDialog());
  const std::string folder = w.home() + "/Lumisave";
  EXPECT_EQ(w.dlg.Text(app::id::kOutputFolder), folder);
  EXPECT_TRUE(fs::is_directory(folder));
  EXPECT_EQ(w.dlg.Text(app::id::kSectorsPerCluster), "8");
  EXPECT_EQ(w.dlg.m_sectorsPerCluster, 8u);
  EXPECT_EQ(w.dlg.Text(app::id::kNamespace), "\\\\.\\root\\cimv2");
  for (const app::CheckBinding& b : app::kCheckBindings) EXPECT_FALSE(w.dlg.IsChecked(b.id)) << b.id;
  EXPECT_TRUE(w.dlg.driveList().fullRowSelect);
  EXPECT_TRUE(w.dlg.volumeList().fullRowSelect);
  EXPECT_EQ(w.dlg.driveList().background, 0xD0D7E3);
}

TEST(WindowTest, SecondStartLeavesTheFolderUntouched) {
  FixtureWindow w;
  w.dlg.OnInitDialog();
  const std::string folder = w.dlg.Text(app::id::kOutputFolder);
  testing_support::WriteFile(folder + "/kept.jpg", {1, 2, 3});
  app::CMainDlg second(w.shell, w.opener);
  second.SetManagement(&w.layer);
  second.OnInitDialog();
  EXPECT_EQ(second.Text(app::id::kOutputFolder), folder);
  EXPECT_EQ(testing_support::FilesIn(folder), (std::vector<std::string>{"kept.jpg"}));
}

TEST(WindowTest, ExchangeRefusesANonNumberAndStopsThere) {
  FixtureWindow w;
  w.dlg.OnInitDialog();
  w.dlg.SetText(app::id::kSourceName, "card");
  w.dlg.SetChecked(app::id::kCheckBmp, true);
  for (const char* bad : {"x8", "-1", "", "4294967296"}) {
    w.shell.boxes.clear();
    w.dlg.SetText(app::id::kSectorsPerCluster, bad);
    EXPECT_FALSE(w.dlg.UpdateData(true)) << bad;
    EXPECT_EQ(w.shell.Lines(), (std::vector<std::string>{"Lumisave: Please enter a positive integer."}));
    EXPECT_EQ(w.dlg.m_sourceName, "card");  // text fields come first
    EXPECT_EQ(w.dlg.m_recoverBmp, 0);       // the check boxes are not reached
  }
  w.dlg.SetText(app::id::kSectorsPerCluster, " 16 ");
  EXPECT_TRUE(w.dlg.UpdateData(true));
  EXPECT_EQ(w.dlg.m_sectorsPerCluster, 16u);
  EXPECT_EQ(w.dlg.m_recoverBmp, 1);
}

TEST(WindowTest, TemplateHasEveryControlInItsState) {
  FixtureWindow w;
  std::vector<int> shown;
  for (const app::Control& c : w.dlg.controls()) {
    if (c.visible) shown.push_back(c.id);
  }
  // The template's controls, then the run strip.
  EXPECT_EQ(shown, (std::vector<int>{-1, 1003, -1, 1005, 1021, 1010, -1, 1032, 1055, 1080, 1011, 1100,
                                     1120, 1122, 1121, 1123, 1124}));
  // Get rights is offered only once a drive could not be opened for want of rights.
  for (int disabled : {3, 4, 5, 1004, 1009, 1008, 1020, 1006, 1124}) {
    EXPECT_FALSE(w.dlg.control(disabled).enabled) << disabled;
  }
  EXPECT_TRUE(w.dlg.control(1000).defaultButton);
  EXPECT_EQ(w.dlg.control(2).caption, "E&xit");
  EXPECT_EQ(w.dlg.control(1039).text, "Bad Sector");
  EXPECT_FALSE(app::CMainDlg::HasCommand(1024));
}

TEST(WindowTest, DriveListClickSetsTheSourceFields) {
  struct Case {
    std::string capacity;
    uint64_t sourceCapacity;
    std::string endSector;
  };
  const Case cases[] = {
      {"512", 512, "1"},
      {"1023", 1023, "1"},
      {"1024", 1024, "2"},
      {"100", 100, ""},  // no whole sector: FormatDecimal gives the empty text for 0
      {"1x24", 1024, "2"},
      {"", 0, ""},
  };
  FixtureWindow w;
  w.dlg.OnInitDialog();
  for (const Case& c : cases) {
    w.dlg.driveList().rows[1][7] = c.capacity;
    w.dlg.SelectDriveRow(1);
    EXPECT_EQ(w.dlg.m_sourceDrive, "physicaldrive1") << c.capacity;
    EXPECT_EQ(w.dlg.Text(app::id::kSourceDrive), "physicaldrive1");
    EXPECT_EQ(w.dlg.Text(app::id::kSourceName), "WDC PC SN730 SDBQNTY-256G");
    EXPECT_EQ(w.dlg.m_sourceCapacity, c.sourceCapacity) << c.capacity;
    EXPECT_EQ(w.dlg.Text(app::id::kEndSector), c.endSector) << c.capacity;
    EXPECT_EQ(w.dlg.Text(app::id::kStartSector), "0");
  }
}

TEST(WindowTest, ClickOnNoRowEmptiesTheSourceSoTheScanAsksForOne) {
  FixtureWindow w;
  w.dlg.OnInitDialog();
  w.dlg.SelectDriveRow(3);
  w.dlg.SelectDriveRow(-1);
  EXPECT_EQ(w.dlg.m_sourceDrive, "");
  EXPECT_EQ(w.dlg.Text(app::id::kSourceName), "");
  EXPECT_EQ(w.dlg.m_sourceCapacity, 0u);
  w.shell.answers = {Answer::kYes};
  w.dlg.Press(app::id::kStartRe);
  EXPECT_EQ(w.shell.Lines().back(), "error: please select a SD card to recover.");
}

TEST(WindowTest, DriveThatVanishedGivesOpenSourceDiskError) {
  FixtureWindow w;
  w.dlg.OnInitDialog();
  w.dlg.SelectDriveRow(3);
  fs::remove(w.machine.DevFile("sdb"));
  w.shell.answers = {Answer::kYes};
  w.dlg.Press(app::id::kStartRe);
  EXPECT_EQ(w.shell.Lines().back(), "Lumisave: open source disk error");
}

TEST(WindowTest, SelectFolderAndViewPhotos) {
  FixtureWindow w;
  w.dlg.OnInitDialog();
  const std::string start = w.dlg.Text(app::id::kOutputFolder);
  w.dlg.Press(app::id::kSelectDir);  // cancelled: the field keeps its folder
  EXPECT_EQ(w.dlg.Text(app::id::kOutputFolder), start);
  w.shell.pickedFolder = "/media/ann/";
  w.dlg.Press(app::id::kSelectDir);
  EXPECT_EQ(w.dlg.Text(app::id::kOutputFolder), "/media/ann/");
  EXPECT_FALSE(fs::exists("/media/ann/JPEG"));
  w.dlg.Press(app::id::kViewPhoto);
  EXPECT_EQ(w.shell.opened, (std::vector<std::string>{"/media/ann/"}));
  EXPECT_TRUE(w.shell.boxes.empty());
}

// A management layer whose start-up fails at a chosen step.
class FailingLayer : public platform::ManagementLayer {
 public:
  FailingLayer(bool init, platform::HRESULT security) : init_(init), security_(security) {}
  bool Initialize() override { return init_; }
  platform::HRESULT InitializeSecurity() override { return security_; }

 private:
  bool init_;
  platform::HRESULT security_;
};

TEST(WindowTest, AppStartUpFailuresNeverShowTheWindow) {
  struct Case {
    bool init;
    platform::HRESULT security;
    std::vector<std::string> lines;
    bool shown;
  };
  const Case cases[] = {
      {false, 0, {"Lumisave: Failed to initialize OLE"}, false},
      {true, platform::wbem::kAccessDenied, {"Lumisave: Failed to fix security"}, false},
      {true, 1, {}, true},  // a success status other than 0 is no failure
  };
  for (const Case& c : cases) {
    FixtureWindow w;
    FailingLayer layer(c.init, c.security);
    app::CMainApp application(layer, w.shell, w.opener);
    bool ran = false;
    EXPECT_FALSE(application.InitInstance([&](app::CMainDlg& dlg) {
      ran = true;
      EXPECT_EQ(&dlg.management(), &layer);
    }));
    EXPECT_EQ(ran, c.shown);
    EXPECT_EQ(application.windowShown(), c.shown);
    EXPECT_EQ(w.shell.Lines(), c.lines);
  }
}

}  // namespace
