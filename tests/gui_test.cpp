// The real window under a virtual X server, driven by its script option.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/support/fixtures.h"
#include "tests/support/run.h"

namespace {

using testing_support::Bytes;
using testing_support::Quote;
using testing_support::TempDir;

bool CanRunWindow() {
#ifndef LUMISAVE_GUI_BINARY
  return false;
#else
  return std::filesystem::exists(LUMISAVE_GUI_BINARY) && std::filesystem::exists("/usr/bin/Xvfb");
#endif
}

// Runs `lumisave --image IMAGE --script ...` under Xvfb; returns its exit status.
int RunWindow(const TempDir& dir, const std::string& image, const std::string& script,
              std::string* output) {
  std::ofstream(dir / "script") << script;
  std::filesystem::create_directories(dir / "home");
  const std::string command = "cd " + Quote(dir.path()) + " && HOME=" + Quote(dir / "home") +
                              " LSAN_OPTIONS=suppressions=" +
                              Quote(std::string(LUMISAVE_SOURCE_DIR) + "/tests/toolkit-leaks.supp") +
                              " " + Quote(std::string(LUMISAVE_SOURCE_DIR) + "/scripts/with-xvfb.sh") + " timeout 120 " +
                              Quote(LUMISAVE_BINARY) + " --image " + Quote(image) +
                              " --script script 2>&1";
  return testing_support::RunCommand(command, output);
}

// The first steps of a scan: the output folder picked, the card's row
// clicked, the confirmation answered Yes.
std::string PickFolderAndCard(const TempDir& dir) {
  return "pick " + (dir / "out") + "\npress 1055\nselect " + (dir / "card.img") + "\nanswer yes\n";
}

// The file holds the beginning of `jpeg`, up to and with its end marker at least.
void ExpectRecovered(const std::string& file, const Bytes& jpeg, size_t markerAt) {
  const Bytes got = testing_support::ReadFile(file);
  ASSERT_GE(got.size(), markerAt + 2) << file;
  EXPECT_TRUE(std::equal(got.begin(), got.end(), jpeg.begin())) << file;
}

TEST(GuiTest, SelectImageRowAndRecoverItsPictures) {
  if (!CanRunWindow()) GTEST_SKIP() << "no window program or no Xvfb";
  TempDir dir;
  const Bytes jpeg = testing_support::FakeJpeg(0xE0, 3000, {2000});
  testing_support::ImageBuilder(2048).PutSector(100, jpeg).PutSector(1500, jpeg).WriteTo(dir / "card.img");
  std::string output;
  const int status = RunWindow(dir, "card.img",
                               PickFolderAndCard(dir) +
                                   "print 1005\n"
                                   "print 1061\n"
                                   "press 1080\n"
                                   "press 1011\n",
                               &output);
  ASSERT_EQ(status, 0) << output;
  EXPECT_NE(output.find("1005=" + (dir / "card.img") + "\n"), std::string::npos) << output;
  EXPECT_NE(output.find("1061=2048\n"), std::string::npos) << output;
  EXPECT_NE(output.find("BOX Save Picture in this folder ?: " + (dir / "out") + " -> yes"),
            std::string::npos)
      << output;
  EXPECT_NE(output.find("OPEN " + (dir / "out")), std::string::npos) << output;
  EXPECT_EQ(testing_support::FilesIn(dir / "out/JPEG0"),
            (std::vector<std::string>{"100.jpg", "1500.jpg"}));
  ExpectRecovered(dir / "out/JPEG0/100.jpg", jpeg, 2000);
  // The default output folder was made in the home folder at start.
  EXPECT_TRUE(std::filesystem::is_directory(dir / "home/Lumisave"));
}

TEST(GuiTest, MouseClicksOnTheListSelectTheSourceEachTime) {
  if (!CanRunWindow()) GTEST_SKIP() << "no window program or no Xvfb";
  TempDir dir;
  testing_support::ImageBuilder(1024).WriteTo(dir / "card.img");
  std::string output;
  const int status = RunWindow(dir, "card.img",
                               "mouse-click " + (dir / "card.img") + "\n"
                               "print 1005\n"
                               "print 1061\n"
                               "set 1005 changed\n"
                               "set 1061 1\n"
                               "mouse-click " + (dir / "card.img") + "\n"
                               "print 1005\n"
                               "print 1061\n",
                               &output);
  ASSERT_EQ(status, 0) << output;
  EXPECT_EQ(output.find("MOUSE"), std::string::npos) << output;
  // A click on the row that is selected already sets the same values again.
  const std::string fields = "1005=" + (dir / "card.img") + "\n1061=1024\n";
  const size_t first = output.find(fields);
  ASSERT_NE(first, std::string::npos) << output;
  EXPECT_NE(output.find(fields, first + 1), std::string::npos) << output;
}

TEST(GuiTest, ClosingDuringAScanEndsItWithItsFilesWhole) {
  if (!CanRunWindow()) GTEST_SKIP() << "no window program or no Xvfb";
  TempDir dir;
  const Bytes jpeg = testing_support::FakeJpeg(0xE0, 3000, {2000});
  // 64 MiB: the picture at sector 16 is found in the first chunk; the one at
  // the end would only be reached by a scan that was not ended.
  const uint64_t sectors = 64 * 2048;
  testing_support::ImageBuilder(32).PutSector(16, jpeg).WriteTo(dir / "card.img");
  std::filesystem::resize_file(dir / "card.img", sectors * 512);
  {
    std::fstream f(dir / "card.img", std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>((sectors - 16) * 512));
    f.write(reinterpret_cast<const char*>(jpeg.data()), static_cast<std::streamsize>(jpeg.size()));
  }
  std::string output;
  const int status = RunWindow(dir, "card.img",
                               PickFolderAndCard(dir) + "answer yes\nclose-on-progress\npress 1080\n",
                               &output);
  ASSERT_EQ(status, 0) << output;
  // Closing during the scan asks first; the answer Yes ends it.
  EXPECT_NE(output.find("A command is still running. Stop it and close the window? -> yes"),
            std::string::npos)
      << output;
  EXPECT_NE(output.find("BOX the end: hit the end of the drive ! -> closing"), std::string::npos)
      << output;
  EXPECT_EQ(testing_support::FilesIn(dir / "out/JPEG0"), (std::vector<std::string>{"16.jpg"}));
  ExpectRecovered(dir / "out/JPEG0/16.jpg", jpeg, 2000);
}

// The "File types..." button's dialog: ticks there are the types' own clicks,
// and the scan then looks for the types ticked.
TEST(GuiTest, FileTypesDialogTicksTypesForTheScan) {
  if (!CanRunWindow()) GTEST_SKIP() << "no window program or no Xvfb";
  TempDir dir;
  testing_support::ImageBuilder(64).WriteTo(dir / "card.img");
  std::string output;
  const int status = RunWindow(dir, "card.img",
                               "pick " + (dir / "out") + "\npress 1055\n"
                               "tick Photos and videos\ntick pdf\ntick jpeg0\n"
                               "press 1100\n"
                               "select " + (dir / "card.img") + "\nanswer yes\npress 1080\n",
                               &output);
  ASSERT_EQ(status, 0) << output;
  // jpeg0 was ticked by "Photos and videos" and unticked again, so that box
  // shows unticked.
  EXPECT_NE(output.find("CHOICES File types\n[ ] Photos and videos\n"), std::string::npos) << output;
  for (const char* line : {"[x] png: ", "[x] video: ", "[x] jpeg: ", "[x] pdf: ", "[ ] qbb: ",
                           "[ ] jpeg0: "}) {
    EXPECT_NE(output.find(std::string("\n") + line), std::string::npos) << line << "\n" << output;
  }
  // The PDF box's command made its folder at the tick; the scan made the
  // folders of the photo and video types.
  EXPECT_TRUE(std::filesystem::is_directory(dir / "outPDF"));
  for (const char* folder : {"PNG", "GIF", "TIFF", "RAW", "HEIC", "VIDEO", "JPEGX", "JPEG"}) {
    EXPECT_TRUE(std::filesystem::is_directory(dir / ("out/" + std::string(folder)))) << folder;
  }
}

}  // namespace
