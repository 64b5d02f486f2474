// The command line's file types: recover --type, pst-recovery,
// office-recovery, the help and the summary.
#include <sys/wait.h>

#include <cstdio>

#include "tests/carver_cases.h"

namespace {

using namespace carver_cases;
using testing_support::FilesIn;
using testing_support::TempDir;

struct Output {
  int status;
  std::string output;  // stdout and stderr
};

Output Lumisave(const std::string& args) {
  Output run{-1, ""};
  FILE* p = ::popen((std::string(LUMISAVE_BINARY) + " " + args + " 2>&1 < /dev/null").c_str(), "r");
  if (p == nullptr) return run;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) run.output.append(buf, n);
  int status = ::pclose(p);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

// An image with one file of several types.
std::string SampleImage(const TempDir& dir) {
  testing_support::ImageBuilder image(1200);
  image.PutSector(8, SampleFile("jpeg"));
  image.PutSector(16, SampleFile("bmp"));
  image.PutSector(24, SampleFile("pdf"));
  image.PutSector(32, SampleFile("pst"));
  image.PutSector(40, SampleFile("office"));
  image.WriteTo(dir / "card.img");
  return dir / "card.img";
}

TEST(CliTypes, RecoverTicksEachTypeAfterTheOutputFolder) {
  TempDir dir;
  const std::string image = SampleImage(dir);
  Output run = Lumisave("recover --source " + image + " --out " + dir / "L" +
                        " --type bmp --type pdf --type pdf --type wav --yes");
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(FilesIn(dir / "L/JPEG"), std::vector<std::string>{"8.jpg"});
  EXPECT_EQ(FilesIn(dir / "Lbmp"), std::vector<std::string>{"16.bmp"});
  EXPECT_EQ(FilesIn(dir / "LPDF"), std::vector<std::string>{"24.pdf"});
  EXPECT_FALSE(std::filesystem::exists(dir / "LPST"));  // not asked for

  run = Lumisave("recover --source " + image + " --out " + dir / "L" + " --type tga");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.output.find("tga"), std::string::npos);
}

TEST(CliTypes, SingleTypeScansWriteBesideTheOutputFolder) {
  TempDir dir;
  const std::string image = SampleImage(dir);
  Output run = Lumisave("pst-recovery --source " + image + " --out " + dir / "L");
  EXPECT_EQ(run.status, 0) << run.output;
  // The type folder holds the files and the run's report.
  EXPECT_EQ(FilesIn(dir / "Lpst"), (std::vector<std::string>{"32.pst", "report.xml"}));
  run = Lumisave("office-recovery --source " + image + " --out " + dir / "L" + " --end 100");
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(FilesIn(dir / "LOffice"), (std::vector<std::string>{"40.dat", "report.xml"}));
  EXPECT_FALSE(std::filesystem::exists(dir / "L"));  // no picture folders

  run = Lumisave("pst-recovery --source " + dir / "missing.img" + " --out " + dir / "L");
  EXPECT_EQ(run.status, 2) << "a missing source is a usage error";
  EXPECT_NE(run.output.find("missing.img does not exist"), std::string::npos) << run.output;
}

TEST(CliTypes, HelpListsEveryTypeWithWhatItRecovers) {
  Output run = Lumisave("recover --help");
  EXPECT_EQ(run.status, 0);
  for (const char* line :
       {"jpeg      JPEG photos", "qbb       QBB", "pst       personal folder",
        "dbx       mail folder", "office    database", "wav       nothing", "bmp       bitmap",
        "jpeg0     JPEG photos", "access    ACCESS", "mp3       nothing", "coredraw  CoreDraw",
        "avi       AVI", "doc       word-processor", "excel     spreadsheet", "pdf       PDF",
        "mcd       MCD", "progress  Progress"}) {
    EXPECT_NE(run.output.find(line), std::string::npos) << line;
  }
  run = Lumisave("--help");
  EXPECT_NE(run.output.find("pst-recovery"), std::string::npos);
  EXPECT_NE(run.output.find("office-recovery"), std::string::npos);
}

TEST(CliTypes, ASummaryLinePerTypeFolderWithOrWithoutATerminal) {
  if (!HaveTool("script")) GTEST_SKIP() << "script (util-linux) is missing";
  TempDir dir;
  const std::string image = SampleImage(dir);
  // Without a terminal too (a script keeps a record of what was found).
  Output plain =
      Lumisave("recover --source " + image + " --out " + dir / "P" + " --type bmp --yes");
  EXPECT_NE(plain.output.find(dir / "P/JPEG: 1 file, "), std::string::npos) << plain.output;
  EXPECT_NE(plain.output.find(dir / "Pbmp: 1 file, 2.0 kB"), std::string::npos) << plain.output;
  // On a terminal: one line per folder of the scan.
  Output run{-1, ""};
  const std::string command = "script -qec \"" + std::string(LUMISAVE_BINARY) +
                              " recover --source " + image + " --out " + dir / "L" +
                              " --type bmp --type mp3 --yes\" /dev/null";
  FILE* p = ::popen(command.c_str(), "r");
  ASSERT_NE(p, nullptr);
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) run.output.append(buf, n);
  ::pclose(p);
  EXPECT_NE(run.output.find(dir / "L/JPEG: 1 file, "), std::string::npos) << run.output;
  EXPECT_NE(run.output.find(dir / "L/JPEG0: 0 files, 0 B"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find(dir / "Lbmp: 1 file, 2.0 kB"), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find(dir / "LMP3:"), std::string::npos) << run.output;  // no carver
}

}  // namespace
