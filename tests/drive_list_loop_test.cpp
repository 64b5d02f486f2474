// A real loop device over an image file: listed as a physical drive, found
// from its device node, and scanned (root only).
#include <gtest/gtest.h>

#include <sstream>

#include "tests/support/fixtures.h"
#include "tests/support/loop_device.h"
#include "tests/support/run.h"

namespace {

using testing_support::Quote;
using testing_support::TempDir;

using testing_support::LoopDevice;

int Lumisave(const TempDir& dir, const std::string& args, std::string* out) {
  return testing_support::RunCommand("cd " + Quote(dir.path()) + " && HOME=" + Quote(dir.path()) +
                                         " " + Quote(LUMISAVE_BINARY) + " " + args + " 2>&1",
                                     out);
}

TEST(DriveListLoopTest, ListedFoundByItsNodeAndScanned) {
  if (!testing_support::IsRoot()) GTEST_SKIP() << "needs root for loop devices";
  TempDir dir;
  const std::string image = dir / "card.img";
  testing_support::ImageBuilder(8192)
      .PutSector(300, testing_support::FakeJpeg(0xE0, 1500, {1000}))
      .WriteTo(image);
  LoopDevice loop(image);
  if (loop.node().empty()) GTEST_SKIP() << "no free loop device";

  std::string out;
  ASSERT_EQ(Lumisave(dir, "drives", &out), 0) << out;
  std::string drive;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    // The loop device's friendly name is its backing file.
    if (line.find("\t" + image + "\t") == std::string::npos) continue;
    drive = line.substr(0, line.find('\t'));
    EXPECT_NE(line.find("\t4194304\t8192\t1\t1\t512\t"), std::string::npos) << line;
  }
  ASSERT_EQ(drive.rfind("physicaldrive", 0), 0u) << out;

  // The node finds the drive's row (other loop devices may come and go
  // meanwhile, so its number is not compared).
  ASSERT_EQ(Lumisave(dir, "press --source " + loop.node() + " --show 1005 --show 1021 --show 1061",
                     &out),
            0)
      << out;
  EXPECT_NE(out.find("1005=physicaldrive"), std::string::npos) << out;
  EXPECT_NE(out.find("1021=" + image + "\n"), std::string::npos) << out;
  EXPECT_NE(out.find("1061=8192\n"), std::string::npos) << out;

  ASSERT_EQ(Lumisave(dir, "recover --source " + loop.node() + " --out out --yes", &out), 0) << out;
  EXPECT_EQ(testing_support::FilesIn(dir / "out/JPEG0"), (std::vector<std::string>{"300.jpg"}));
}

}  // namespace
