// The drive that holds the running system: reading it is asked about first,
// writing to it refused, in words that name it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/support/fixture_window.h"
#include "commands/drive_checks.h"

namespace {

using namespace testing_support;
namespace fs = std::filesystem;

// The usual fixture machine with / mounted on its SATA disk (physicaldrive2).
struct SystemOnSata : FixtureWindow {
  SystemOnSata() {
    const fs::path sys = machine.sysRoot();
    std::ofstream(sys / "block/sda/dev") << "240:0\n";
    fs::create_directories(sys / "class/block");
    fs::create_directory_symlink(fs::canonical(sys / "block/sda"), sys / "class/block/sda");
    std::ofstream(layer.sources().mountInfo) << "22 1 240:0 / / rw,relatime - ext4 /dev/sda rw\n";
    dlg.OnInitDialog();
    shell.boxes.clear();
  }
};

TEST(SystemDrive, AScanOfItAsksFirstNamingModelAndSize) {
  SystemOnSata w;
  const int row = w.dlg.FindDriveRow("physicaldrive2");
  ASSERT_GE(row, 0);
  EXPECT_EQ(w.dlg.driveList().rows[static_cast<size_t>(row)][16], "yes");
  w.dlg.SelectDriveRow(row);
  w.shell.answers = {app::Answer::kYes, app::Answer::kNo};
  w.dlg.SetText(app::id::kOutputFolder, w.machine.dir() / "out");
  w.dlg.Press(app::id::kStartRe);
  ASSERT_EQ(w.shell.boxes.size(), 2u) << w.shell.Lines().back();
  EXPECT_EQ(w.shell.Lines()[1],
            "Lumisave: physicaldrive2 (Samsung SSD 860, 2.1 MB) holds the running system. Lost "
            "photos are rarely there, and reading it takes long. Read it all the same?");
  EXPECT_EQ(w.shell.boxes[1].buttons, app::Buttons::kYesNo);
  // No: nothing was read (no progress, no end of the drive).
  EXPECT_EQ(w.dlg.Text(app::id::kRunBar), "0");
  // Another drive is read without the question.
  w.shell.boxes.clear();
  w.dlg.SelectDriveRow(w.dlg.FindDriveRow("physicaldrive3"));
  w.shell.answers = {app::Answer::kYes};
  w.dlg.Press(app::id::kStartRe);
  for (const std::string& line : w.shell.Lines()) {
    EXPECT_EQ(line.find("running system"), std::string::npos) << line;
  }
}

// The boot-sector survey reads the whole drive too: the same question, and
// No reads nothing.
TEST(SystemDrive, ASurveyOfItAsksFirst) {
  SystemOnSata w;
  w.dlg.SelectDriveRow(w.dlg.FindDriveRow("physicaldrive2"));
  w.shell.answers = {app::Answer::kNo};
  w.dlg.Press(app::id::kSearchForSuspects);
  ASSERT_EQ(w.shell.boxes.size(), 1u);
  EXPECT_NE(w.shell.Lines()[0].find("physicaldrive2 (Samsung SSD 860, 2.1 MB) holds the running "
                                    "system"),
            std::string::npos)
      << w.shell.Lines()[0];
  EXPECT_EQ(w.dlg.Text(app::id::kRunBar), "0");
}

TEST(SystemDrive, WritingToItIsRefusedInWords) {
  SystemOnSata w;
  EXPECT_TRUE(app::RefuseWriteTarget(w.dlg, "physicaldrive2"));
  EXPECT_EQ(w.shell.Lines(),
            (std::vector<std::string>{"Lumisave: physicaldrive2 (Samsung SSD 860, 2.1 MB) holds "
                                      "the running system: Lumisave never writes to it."}));
  w.shell.boxes.clear();
  EXPECT_FALSE(app::RefuseWriteTarget(w.dlg, "physicaldrive3"));
  EXPECT_TRUE(w.shell.boxes.empty());
}

}  // namespace
