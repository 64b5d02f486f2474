// The command line's drive list, press and source selection, run as a user
// runs them.
#include <gtest/gtest.h>

#include <set>

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <set>
#include <sstream>

#include "platform/stoppable.h"
#include "tests/support/fixtures.h"
#include "tests/support/run.h"

namespace {

using testing_support::Quote;
using testing_support::TempDir;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> Cells(const std::string& line) {
  std::vector<std::string> cells;
  size_t start = 0;
  for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1) {
    cells.push_back(line.substr(start, tab - start));
  }
  cells.push_back(line.substr(start));
  return cells;
}

// card.img: 64 sectors with a JFIF picture at `sector`.
void CardWithPictureAt(const TempDir& dir, uint64_t sector) {
  testing_support::ImageBuilder(64)
      .PutSector(sector, testing_support::FakeJpeg(0xE0, 1500, {1000}))
      .WriteTo(dir / "card.img");
}

int Lumisave(const TempDir& dir, const std::string& args, std::string* out) {
  std::filesystem::create_directories(dir / "home");
  return testing_support::RunCommand("cd " + Quote(dir.path()) + " && HOME=" + Quote(dir / "home") +
                                         " " + Quote(LUMISAVE_BINARY) + " " + args + " 2>&1",
                                     out);
}

TEST(CliWindowTest, DrivesListsTheMachineAndTheImagesTabSeparated) {
  TempDir dir;
  testing_support::ImageBuilder(64).WriteTo(dir / "Card.img");
  std::string out;
  ASSERT_EQ(Lumisave(dir, "drives --image Card.img", &out), 0) << out;
  const auto lines = Lines(out);
  ASSERT_GE(lines.size(), 2u) << out;
  EXPECT_EQ(lines[0],
            "PhysicalDrive\tPNPDriveID\tName\tFatherID\tGrandFatherID\tFatherName\tGrandFatherName\t"
            "Capacity (Byte)\tCylinders\tTracks\tSectors\tBytes\tLogicalDriveLetter\t"
            "Model\tSize\tRemovable\tSystem");
  const auto image = Cells(lines.back());
  ASSERT_EQ(image.size(), 17u) << lines.back();
  EXPECT_EQ(image[0], dir / "Card.img");
  EXPECT_EQ(image[2], "Image Card.img");
  EXPECT_EQ(image[7], "32768");
  EXPECT_EQ(image[8], "64");
  EXPECT_EQ(image[13], "Card.img");
  EXPECT_EQ(image[14], "32.8 kB");
  EXPECT_EQ(image[15], "");  // a file is no drive to pull out
  EXPECT_EQ(image[16], "");
  // Each machine drive its own number, the one that opens it.
  std::set<std::string> names;
  for (size_t i = 1; i + 1 < lines.size(); ++i) {
    const std::string name = Cells(lines[i])[0];
    EXPECT_EQ(name.rfind("physicaldrive", 0), 0u) << lines[i];
    EXPECT_TRUE(names.insert(name).second) << lines[i];
  }
}

TEST(CliWindowTest, PressClicksTheSourceThenSetsChecksPressesAndShows) {
  TempDir dir;
  CardWithPictureAt(dir, 10);
  std::string out;
  ASSERT_EQ(Lumisave(dir,
                     "press --source card.img --set 1041=5 --set 1032=" + Quote(dir / "out") +
                         " --check 1058 --show 1005 --show 1021 --show 1041 --show 1061 "
                         "--show 1058 --show 1001 1080 --yes",
                     &out),
            0)
      << out;
  const auto lines = Lines(out);
  auto has = [&](const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  };
  EXPECT_TRUE(has("1005=" + (dir / "card.img"))) << out;
  EXPECT_TRUE(has("1021=Image card.img")) << out;
  EXPECT_TRUE(has("1041=5")) << out;  // --set after the click keeps its start sector
  EXPECT_TRUE(has("1061=64")) << out;
  EXPECT_TRUE(has("1058=1")) << out;
  EXPECT_NE(out.find("1001[0]=Win32_DiskDrive.DeviceID="), std::string::npos) << out;
  EXPECT_EQ(testing_support::FilesIn(dir / "out/JPEG0"), (std::vector<std::string>{"10.jpg"}));
}

TEST(CliWindowTest, BadUsageIsRefusedWithAReason) {
  TempDir dir;
  const std::pair<const char*, int> cases[] = {
      {"press 4242", 2},
      {"press --show 99999", 2},
      {"press --check 1080", 2},
      {"press --set 1041", 2},
      {"press --set x=1", 2},
      {"drives --image missing.img", 2},
      {"press 1024", 0},  // CreatePartition has no command: said, and nothing done
  };
  for (const auto& [args, status] : cases) {
    std::string out;
    EXPECT_EQ(Lumisave(dir, args, &out), status) << args << "\n" << out;
    EXPECT_FALSE(out.empty()) << args;  // says what is wrong
  }
}

TEST(CliWindowTest, RecoverSelectsItsSourceThroughTheDriveList) {
  TempDir dir;
  CardWithPictureAt(dir, 20);
  std::string out;
  ASSERT_EQ(Lumisave(dir, "recover --source card.img --out out --yes", &out), 0) << out;
  EXPECT_EQ(testing_support::FilesIn(dir / "out/JPEG0"), (std::vector<std::string>{"20.jpg"}));
  // A drive that is not on this machine is said so plainly, before anything
  // is asked or created.
  ASSERT_EQ(Lumisave(dir, "recover --source physicaldrive99 --out out2 --yes", &out), 2) << out;
  EXPECT_NE(out.find("there is no drive physicaldrive99"), std::string::npos) << out;
  EXPECT_FALSE(std::filesystem::exists(dir / "out2"));
}

TEST(CliWindowTest, WindowProgramIsStartedWithoutACommand) {
  TempDir dir;
  std::string out;
  // The window's own usage comes from the window program, started by exec.
  const int status = Lumisave(dir, "--image x.img --help", &out);
#ifdef LUMISAVE_GUI_BINARY
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("Usage: lumisave [--image FILE]..."), std::string::npos) << out;
#else
  EXPECT_EQ(status, 1) << out;  // a build without the window says so
  EXPECT_NE(out.find("cannot open the window"), std::string::npos) << out;
#endif
}

TEST(StoppableDeviceTest, ReadsEndOnceStoppedAndEverythingElsePassesOn) {
  TempDir dir;
  testing_support::ImageBuilder(8).Put(0, {1, 2, 3}).WriteTo(dir / "d.img");
  platform::StopSwitch stop;
  platform::StoppableOpener opener(stop);
  platform::DeviceHandle device = opener.Open(dir / "d.img", platform::Access::kRead);
  ASSERT_NE(device, nullptr);
  uint8_t buffer[512];
  uint32_t got = 0;
  ASSERT_TRUE(device->Read(buffer, 512, &got));
  EXPECT_EQ(got, 512u);
  EXPECT_EQ(buffer[2], 3);
  stop.Request();
  ASSERT_TRUE(device->Read(buffer, 512, &got));
  EXPECT_EQ(got, 0u);
  EXPECT_TRUE(device->Seek(1024));
  EXPECT_EQ(device->Position(), 1024u);
  uint64_t length = 0;
  EXPECT_TRUE(device->Length(&length));
  EXPECT_EQ(length, 4096u);
  stop.Reset();
  ASSERT_TRUE(device->Read(buffer, 512, &got));
  EXPECT_EQ(got, 512u);
  EXPECT_EQ(opener.Open(dir / "missing.img", platform::Access::kRead), nullptr);
}

}  // namespace

TEST(CliWindowTest, PressMirrorHoldsTheProgramUntilItsWatchEndsIt) {
  if (std::filesystem::exists("/WINDOWS")) GTEST_SKIP() << "this machine has a /WINDOWS folder";
  TempDir dir;
  std::string out;
  // C: is the volume mounted at /; its WINDOWS folder is missing, so the
  // watch cannot be set and ends the process with that error's code.
  EXPECT_EQ(Lumisave(dir, "press 1022", &out), ENOENT) << out;
}

TEST(CliWindowTest, WithoutADisplayTheWindowIsNotTriedAndTheCommandLineIsPointedTo) {
  std::string out;
  const int status = testing_support::RunCommand(
      "env -u DISPLAY -u WAYLAND_DISPLAY " + testing_support::Quote(LUMISAVE_BINARY) + " 2>&1",
      &out);
  EXPECT_EQ(status, 1) << out;
  EXPECT_NE(out.find("there is no display to open the window on"), std::string::npos) << out;
  EXPECT_NE(out.find("lumisave --help"), std::string::npos) << out;
}
