// The window's run strip, its rights line and its drive columns, on the real
// window under a virtual X server (driven by its script option).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "platform/drives.h"
#include "window/progress_strip.h"
#include "platform/mounts.h"
#include "tests/support/fixtures.h"
#include "tests/support/loop_device.h"
#include "tests/support/run.h"

namespace {

using namespace testing_support;
namespace fs = std::filesystem;

bool CanRunWindow() {
#ifndef LUMISAVE_GUI_BINARY
  return false;
#else
  return fs::exists(LUMISAVE_GUI_BINARY) && fs::exists("/usr/bin/Xvfb");
#endif
}

// Runs the window on `image` with `script` under Xvfb; `prefix` goes before
// the program (another user, more environment). Returns the exit status.
int RunWindow(const TempDir& dir, const std::string& image, const std::string& script,
              std::string* output, const std::string& prefix = "") {
  std::ofstream(dir / "script") << script;
  fs::create_directories(dir / "home");
  const std::string command =
      "cd " + Quote(dir.path()) + " && HOME=" + Quote(dir / "home") + " LSAN_OPTIONS=suppressions=" +
      Quote(std::string(LUMISAVE_SOURCE_DIR) + "/tests/toolkit-leaks.supp") + " " +
      Quote(std::string(LUMISAVE_SOURCE_DIR) + "/scripts/with-xvfb.sh") + " " + prefix +
      " timeout 120 " + Quote(LUMISAVE_BINARY) + " --image " + Quote(image) +
      " --script script 2>&1";
  return RunCommand(command, output);
}

std::string Printed(const std::string& output, int id) {
  const std::string key = std::to_string(id) + "=";
  const size_t at = output.find("\n" + key);
  if (at == std::string::npos) return "(not printed)";
  const size_t end = output.find('\n', at + 1);
  return output.substr(at + 1 + key.size(), end - at - 1 - key.size());
}

std::string PickFolderAndCard(const TempDir& dir) {
  return "pick " + (dir / "out") + "\npress 1055\nselect " + (dir / "card.img") + "\nanswer yes\n";
}

TEST(WindowStrip, FactsLineSaysPercentRateTimeLeftAndFiles) {
  struct Case {
    base::Progress p;
    uint64_t unit;
    std::optional<uint64_t> files;
    const char* text;
  };
  const Case cases[] = {
      {{0, 1000, 0, 0}, 512, 0, "0 % · 0 files found"},  // no rate yet: no time left
      {{250, 1000, 0, 50}, 512, 1, "25 % · 25.6 kB/s · 15 s left · 1 file found"},
      {{999, 1000, 0, 1}, 1, std::nullopt, "99 % · 1 B/s · 1 s left"},  // 100 % only at the end
      {{1000, 1000, 0, 1e6}, 1, std::nullopt, "100 % · 1.0 MB/s · 0 s left"},
      {{5, 0, 0, 0}, 1, std::nullopt, "0 %"},  // nothing to do: no division by zero
      {{2000, 1000, 0, 0}, 1, std::nullopt, "100 %"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(app::RunFactsText(c.p, c.unit, c.files), c.text) << c.text;
  }
  const std::pair<double, const char*> times[] = {
      {0, "0 s"}, {59.2, "1 min"}, {61, "2 min"}, {3600, "1 h 0 min"}, {3 * 3600 + 90, "3 h 2 min"}};
  for (const auto& [seconds, text] : times) EXPECT_EQ(app::TimeLeftText(seconds), text);
}

TEST(WindowStrip, TheBarReachesTheEndAndTheFoundCountIsTheFilesWritten) {
  if (!CanRunWindow()) GTEST_SKIP() << "no window program or no Xvfb";
  TempDir dir;
  const Bytes jpeg = FakeJpeg(0xE0, 3000, {2000});
  const Bytes exif = FakeJpeg(0xE1, 5000, {4000});
  ImageBuilder(8192).PutSector(100, jpeg).PutSector(1500, jpeg).PutSector(4000, exif).WriteTo(
      dir / "card.img");
  std::string output;
  ASSERT_EQ(RunWindow(dir, "card.img",
                      PickFolderAndCard(dir) + "press 1080\nprint 1120\nprint 1121\nprint 1123\n",
                      &output),
            0)
      << output;
  const size_t onDisk = FilesIn(dir / "out/JPEG0").size() + FilesIn(dir / "out/JPEG").size();
  ASSERT_EQ(onDisk, 3u) << output;
  EXPECT_EQ(Printed(output, 1120), "100") << output;
  const std::string facts = Printed(output, 1121);
  EXPECT_EQ(facts.rfind("100 %", 0), 0u) << facts;
  EXPECT_NE(facts.find(" · " + std::to_string(onDisk) + " files found"), std::string::npos)
      << facts;
  EXPECT_EQ(Printed(output, 1123), "Found 1 in JPEG, 2 in JPEG0; 0 sectors could not be read.")
      << output;
  // The Progress field keeps its own text: the byte position.
  EXPECT_NE(output.find("BOX the end: hit the end of the drive !"), std::string::npos) << output;
}

TEST(WindowStrip, StopEndsAScanOfALargeSparseImage) {
  if (!CanRunWindow()) GTEST_SKIP() << "no window program or no Xvfb";
  TempDir dir;
  const Bytes jpeg = FakeJpeg(0xE0, 3000, {2000});
  // 8 GiB with a picture at the start and one at the end; only a scan that
  // was not stopped reaches the second.
  const uint64_t sectors = 16ull * 1024 * 1024;
  ImageBuilder(32).PutSector(16, jpeg).WriteTo(dir / "card.img");
  fs::resize_file(dir / "card.img", sectors * 512);
  {
    std::fstream f(dir / "card.img", std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>((sectors - 16) * 512));
    f.write(reinterpret_cast<const char*>(jpeg.data()), static_cast<std::streamsize>(jpeg.size()));
  }
  std::string output;
  ASSERT_EQ(RunWindow(dir, "card.img",
                      PickFolderAndCard(dir) + "stop-on-progress\npress 1080\nprint 1120\nprint 1123\n",
                      &output),
            0)
      << output;
  EXPECT_EQ(FilesIn(dir / "out/JPEG0"), (std::vector<std::string>{"16.jpg"})) << output;
  EXPECT_EQ(Printed(output, 1123).rfind("Stopped. Found 1 in JPEG0", 0), 0u) << output;
  EXPECT_NE(Printed(output, 1120), "100") << output;
}

// A stub program on PATH that records its arguments, user and environment.
void WriteRecorder(const TempDir& dir, const std::string& name) {
  fs::create_directories(dir / "bin");
  std::ofstream(dir / ("bin/" + name))
      << "#!/bin/sh\n"
         "{ echo \"args: $*\"; echo \"uid: $(id -u)\"; echo \"gid: $(id -g)\"; env; } > "
      << Quote(dir / (name + ".tmp")) << "\n"
      << "mv " << Quote(dir / (name + ".tmp")) << " " << Quote(dir / (name + ".record")) << "\n";
  fs::permissions(dir / ("bin/" + name), fs::perms::all);
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(WindowStrip, ADriveWithoutRightsIsSaidAndGetRightsRestartsThroughPkexec) {
  if (!CanRunWindow()) GTEST_SKIP() << "no window program or no Xvfb";
  if (!IsRoot()) GTEST_SKIP() << "needs root to run the window as another user";
  TempDir dir;
  fs::permissions(dir.path(), fs::perms::all);
  ImageBuilder(64).WriteTo(dir / "card.img");
  fs::permissions(dir / "card.img", fs::perms::none);  // the user may not read it
  fs::create_directories(dir / "home");
  fs::permissions(dir / "home", fs::perms::all);
  WriteRecorder(dir, "pkexec");
  std::string output;
  const int status =
      RunWindow(dir, "card.img",
                "select " + (dir / "card.img") + "\nanswer yes\npress 1080\nprint 1123\n"
                "press 1124\nwait " + (dir / "pkexec.record") + "\n",
                &output,
                "env PATH=" + Quote(dir / "bin") + ":/usr/bin:/bin setpriv --reuid=65534 "
                "--regid=65534 --clear-groups");
  ASSERT_EQ(status, 0) << output;
  EXPECT_NE(output.find("BOX Lumisave: open source disk error"), std::string::npos) << output;
  EXPECT_EQ(Printed(output, 1123),
            "Reading " + (dir / "card.img") + " needs administrator rights: press Get rights.")
      << output;
  const std::string record = ReadText(dir / "pkexec.record");
#ifdef LUMISAVE_GUI_BINARY
  const std::string gui = fs::path(LUMISAVE_GUI_BINARY).string();
#else
  const std::string gui;
#endif
  EXPECT_NE(record.find("args: " + gui + "\n"), std::string::npos) << record;
  EXPECT_NE(record.find("uid: 65534\n"), std::string::npos) << record;
  EXPECT_NE(record.find("\nDISPLAY=:"), std::string::npos) << record;
}

TEST(WindowStrip, TheDriveListTellsModelSizeRemovableAndTheSystemDisk) {
  if (!CanRunWindow()) GTEST_SKIP() << "no window program or no Xvfb";
  TempDir dir;
  ImageBuilder(2048).WriteTo(dir / "holiday.img");
  ImageBuilder(4096).WriteTo(dir / "card.img");
  std::unique_ptr<LoopDevice> loop;
  if (IsRoot()) loop = std::make_unique<LoopDevice>(dir / "holiday.img");
  std::string output;
  ASSERT_EQ(RunWindow(dir, "card.img", "print 1003\n", &output), 0) << output;
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("1003[", 0) != 0) continue;
    std::vector<std::string> cells;
    std::istringstream fields(line.substr(line.find('=') + 1));
    for (std::string cell; std::getline(fields, cell, '\t');) cells.push_back(cell);
    cells.resize(17);
    rows.push_back(cells);
  }
  ASSERT_FALSE(rows.empty()) << output;
  // The image: its file name and size; a file is neither removable nor fixed.
  EXPECT_EQ((std::vector<std::string>{rows.back()[13], rows.back()[14], rows.back()[15],
                                      rows.back()[16]}),
            (std::vector<std::string>{"card.img", "2.1 MB", "", ""}));
  if (loop && !loop->node().empty()) {
    bool seen = false;
    for (const auto& row : rows) {
      if (row[13] != "holiday.img") continue;
      seen = true;
      EXPECT_EQ(row[0].rfind("physicaldrive", 0), 0u);
      EXPECT_EQ((std::vector<std::string>{row[14], row[15], row[16]}),
                (std::vector<std::string>{"1.0 MB", "no", ""}));
    }
    EXPECT_TRUE(seen) << output;
  }
  // The system disk: marked once, where / lies on a disk of the list.
  size_t marked = 0;
  bool rootOnADisk = false;
  for (const platform::WholeDisk& d : platform::ListWholeDisks("/sys")) {
    rootOnADisk = rootOnADisk || platform::HoldsRootFileSystem(d.name);
  }
  for (const auto& row : rows) marked += row[16] == "yes";
  EXPECT_EQ(marked, rootOnADisk ? 1u : 0u) << output;
}

}  // namespace
