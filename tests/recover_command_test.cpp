// The recover command end to end: the binary on image files, compared byte
// for byte, with its messages and exit status.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/fixtures.h"
#include "tests/support/run.h"

namespace {

using namespace testing_support;

class RecoverCommandTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::string home = dir / "home";
  void SetUp() override { std::filesystem::create_directories(home); }
};

TEST_F(RecoverCommandTest, RecoversPicturesFromAnImage) {
  ImageBuilder img(4096);
  Bytes exif = FakeJpeg(0xE1, 700000, {3000, 699998});
  Bytes jfif = FakeJpeg(0xE0, 150000, {149998});
  img.PutSector(64, exif);
  img.PutSector(2500, jfif);
  img.WriteTo(dir / "card.img");
  RunResult r = RunLumisave({"recover", "--source", dir / "card.img", "--out", dir / "out", "--yes"},
                            home);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "Save Picture in this folder ?: " + (dir / "out") +
                       " [yes]\nthe end: hit the end of the drive !\n");
  EXPECT_EQ(ReadFile(dir / "out/JPEG/64.jpg"), exif);
  EXPECT_EQ(ReadFile(dir / "out/JPEG0/2500.jpg"), jfif);
}

TEST_F(RecoverCommandTest, TheRangeOptionsLimitTheScan) {
  ImageBuilder img(4096);
  img.PutSector(100, FakeJpeg(0xE0, 3000, {2998}));
  img.PutSector(3000, FakeJpeg(0xE0, 3000, {2998}));
  img.WriteTo(dir / "card.img");
  RunResult r = RunLumisave({"recover", "--source", dir / "card.img", "--out", dir / "out",
                             "--start", "2048", "--end", "2100", "--yes"},
                            home);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(FilesIn(dir / "out/JPEG0"), std::vector<std::string>{"3000.jpg"});
}

TEST_F(RecoverCommandTest, FailuresAreSaidPlainlyAndEndWithStatusOne) {
  RunResult missing = RunLumisave(
      {"recover", "--source", dir / "nothing.img", "--out", dir / "out", "--yes"}, home);
  EXPECT_EQ(missing.status, 2) << "a missing source is a usage error";
  EXPECT_NE(missing.err.find(dir / "nothing.img" + " does not exist"), std::string::npos)
      << missing.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "out"));

  WriteFile(dir / "empty.img", {});
  RunResult empty =
      RunLumisave({"recover", "--source", dir / "empty.img", "--out", dir / "out", "--yes"}, home);
  EXPECT_EQ(empty.status, 1);
  EXPECT_NE(empty.err.find("error: start sector number > dirve size !"), std::string::npos);

  ImageBuilder img(600);
  img.PutSector(5, FakeJpeg(0xE0, 3000, {2998}));
  img.WriteTo(dir / "card.img");
  WriteFile(dir / "file", {1});
  RunResult unwritable = RunLumisave(
      {"recover", "--source", dir / "card.img", "--out", dir / "file/out", "--yes"}, home);
  EXPECT_EQ(unwritable.status, 1);
  EXPECT_NE(unwritable.err.find("Create File failed !: " + (dir / "file/out/JPEG0/5.jpg")),
            std::string::npos)
      << unwritable.err;
}

TEST_F(RecoverCommandTest, NoAnswerWritesNothing) {
  ImageBuilder(600).WriteTo(dir / "card.img");
  // Without --yes and without a terminal the question is answered No.
  RunResult r = RunLumisave({"recover", "--source", dir / "card.img", "--out", dir / "out"}, home);
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("[no]"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir / "out"));
}

TEST_F(RecoverCommandTest, BadUsageExitsWithTwo) {
  for (std::vector<std::string> args : {std::vector<std::string>{"recover"},
                                        {"recover", "--source", "x"},
                                        {"recover", "--source", "x", "--out", "y", "--yes", "--no"},
                                        {"nosuchcommand"}}) {
    EXPECT_EQ(RunLumisave(args, home).status, 2) << args.back();
  }
  RunResult help = RunLumisave({"recover", "--help"}, home);
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--source"), std::string::npos);
}

}  // namespace
