// The boot-sector survey over small images: an MBR with a real FAT32 volume
// made by mkfs.fat, an NTFS-like boot sector, and near misses.
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "app/main_dlg.h"
#include "inventory/survey.h"
#include "inventory/survey_engine.h"
#include "tests/support/fault_device.h"
#include "tests/support/fixtures.h"
#include "tests/support/run.h"
#include "tests/support/scripted_shell.h"
#include "tests/support/test_window.h"
#include "tests/volume_fixture.h"

namespace {

using testing_support::Bytes;
using testing_support::ScriptedShell;
using testing_support::TempDir;
using volume_fixture::FaultOpener;
using Rows = std::vector<std::vector<std::string>>;

constexpr uint64_t kImageSectors = 81920;  // 40 MiB
constexpr uint64_t kVolumeStart = 63;

Bytes BootSector(const std::string& at3, const std::string& at82, uint8_t b510, uint8_t b511) {
  Bytes s(512, 0);
  s[0] = 0xEB;
  s[1] = 0x52;
  s[2] = 0x90;
  std::copy(at3.begin(), at3.end(), s.begin() + 3);
  std::copy(at82.begin(), at82.end(), s.begin() + 82);
  s[510] = b510;
  s[511] = b511;
  return s;
}

// An MBR whose one partition (type 0x0C) starts at sector 63 and holds a
// FAT32 volume; an NTFS boot sector at 80000; at 80001 a sector with "FAT32"
// and 0x55 but not 0xAA; at 80002 a sector with "NTFS" but no signature.
void PutSector(const std::string& path, uint64_t sector, const Bytes& data) {
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(static_cast<std::streamoff>(sector * 512));
  f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

std::string MakeSurveyImage(const TempDir& dir) {
  const std::string path = dir / "disk.img";
  testing_support::WriteFile(path, {});
  std::filesystem::resize_file(path, kImageSectors * 512);
  const std::string cmd =
      "mkfs.fat -F 32 -s 1 --offset=63 '" + path + "' 36000 >/dev/null 2>&1";
  EXPECT_EQ(std::system(cmd.c_str()), 0);
  Bytes mbr(512, 0);
  const uint8_t entry[16] = {0x00, 0, 0, 0, 0x0C, 0, 0, 0, 63, 0, 0, 0, 0x40, 0x19, 0x01, 0};
  std::copy(entry, entry + 16, mbr.begin() + 446);
  mbr[510] = 0x55;
  mbr[511] = 0xAA;
  PutSector(path, 0, mbr);
  PutSector(path, 80000, BootSector("NTFS    ", "", 0x55, 0xAA));
  PutSector(path, 80001, BootSector("MSDOS5.0", "FAT32   ", 0x55, 0x00));
  PutSector(path, 80002, BootSector("NTFS    ", "", 0x00, 0x00));
  return path;
}

// Where mkfs.fat put the two allocation tables.
std::pair<uint64_t, uint64_t> FatSectors(const std::string& image) {
  Bytes b(512);
  std::ifstream(image, std::ios::binary)
      .seekg(kVolumeStart * 512)
      .read(reinterpret_cast<char*>(b.data()), 512);
  const uint8_t* boot = b.data();
  const uint64_t reserved = boot[14] | boot[15] << 8;
  const uint64_t fatSize = boot[36] | boot[37] << 8 | boot[38] << 16 | uint64_t{boot[39]} << 24;
  const uint64_t first = kVolumeStart + reserved;
  return {first, first + fatSize};
}

struct Survey {
  explicit Survey(platform::DeviceOpener& opener) : dlg(shell, opener) {
    dlg.InitBootListColumns();
    dlg.InitFatListColumns();
  }
  void Select(const std::string& source) {
    dlg.SelectDriveRow(testing_support::AddDriveRow(dlg, source));
  }
  void Run(const std::string& count) {
    dlg.SetText(app::id::kProgress, count);
    shell.changes.clear();
    ASSERT_TRUE(dlg.Press(app::id::kSearchForSuspects));
  }
  std::vector<std::string> Progress() const {
    std::vector<std::string> out;
    for (const auto& [id, text] : shell.changes) {
      if (id == app::id::kProgress) out.push_back(text);
    }
    return out;
  }

  ScriptedShell shell;
  app::CMainDlg dlg;
};

class SurveyTest : public ::testing::Test {
 protected:
  void SetUp() override { image = MakeSurveyImage(dir); }

  TempDir dir;
  std::string image;
  platform::DeviceOpener opener;
};

TEST_F(SurveyTest, FindsBootSectorsAndAllocationTablesWithTheirSectorNumbers) {
  Survey s(opener);
  s.Select(image);
  s.Run("");
  const auto [fat1, fat2] = FatSectors(image);
  // The FAT32 boot sector, its backup copy six sectors on, and the NTFS one;
  // neither near miss.
  EXPECT_EQ(s.dlg.bootList().rows, (Rows{{"FAT32", "63"}, {"FAT32", "69"}, {"NTFS", "80000"}}));
  EXPECT_EQ(s.dlg.fatList().rows,
            (Rows{{"FAT32", std::to_string(fat1)}, {"FAT32", std::to_string(fat2)}}));
  EXPECT_EQ(s.dlg.Text(app::id::kProgress), "0");
  EXPECT_EQ(inventory::g_surveySector, kImageSectors);
  EXPECT_TRUE(s.shell.boxes.empty());
  EXPECT_EQ(s.dlg.bootList().columns[0].header, "BootType");
  EXPECT_EQ(s.dlg.fatList().columns[0].header, "FatType");
  EXPECT_EQ(s.dlg.fatList().columns[1].header, "SecNum");

  // A second survey adds the same rows again.
  s.Run("");
  EXPECT_EQ(s.dlg.bootList().rows.size(), 6u);
  EXPECT_EQ(s.dlg.fatList().rows.size(), 4u);
}

TEST_F(SurveyTest, TheByteCountComesFromTheProgressFieldAndWrapsBelowOneChunk) {
  struct Case {
    const char* count;
    uint64_t sectors;
    std::vector<std::string> progress;
  } cases[] = {
      {"524288", 1024, {"262144", "0"}},
      {"786431", 1024, {"524287", "0"}},  // three chunks less one byte: two
      {"262144", 512, {"0"}},
      {"1000", kImageSectors, {}},  // wraps: only the end of the drive stops it
  };
  for (const Case& c : cases) {
    Survey s(opener);
    s.Select(image);
    s.Run(c.count);
    EXPECT_EQ(inventory::g_surveySector, c.sectors) << c.count;
    if (!c.progress.empty()) {
      EXPECT_EQ(s.Progress(), c.progress) << c.count;
    } else {
      ASSERT_EQ(s.Progress().size(), kImageSectors / 512 + 1) << c.count;
      EXPECT_EQ(s.Progress()[0], std::to_string(1000 - 262144ull + UINT64_MAX + 1));
      EXPECT_EQ(s.Progress().back(), "0");
    }
  }
}

TEST_F(SurveyTest, ABootSectorAtSectorZeroHasAnEmptySectorNumber) {
  const std::string path = dir / "whole.img";
  testing_support::ImageBuilder(1024).PutSector(0, BootSector("NTFS    ", "", 0x55, 0xAA))
      .WriteTo(path);
  Survey s(opener);
  s.Select(path);
  s.Run("");
  EXPECT_EQ(s.dlg.bootList().rows, (Rows{{"NTFS", ""}}));
}

TEST_F(SurveyTest, AnUnreadableSectorIsSkippedAndTheRestOfItsChunkStillSurveyed) {
  FaultOpener faulty;
  const auto [fat1, fat2] = FatSectors(image);
  faulty.Add(image, {{64, fat1}, UINT64_MAX, false});
  Survey s(faulty);
  s.Select(image);
  s.Run("");
  EXPECT_EQ(s.dlg.bootList().rows, (Rows{{"FAT32", "63"}, {"FAT32", "69"}, {"NTFS", "80000"}}));
  // The first table's sector was unreadable; the second is found at its own
  // number, though a sector before it was skipped.
  EXPECT_EQ(s.dlg.fatList().rows, (Rows{{"FAT32", std::to_string(fat2)}}));
  EXPECT_EQ(inventory::g_surveySector, kImageSectors);
}

TEST_F(SurveyTest, ADriveThatAnswersReadsPastItsEndWithErrorsStillEndsTheSurvey) {
  const std::string path = dir / "short.img";
  testing_support::ImageBuilder(1000).PutSector(999, BootSector("NTFS    ", "", 0x55, 0xAA))
      .WriteTo(path);
  FaultOpener faulty;
  faulty.Add(path, {{}, UINT64_MAX, true});
  Survey s(faulty);
  s.Select(path);
  s.Run("");  // a wrapped count: nothing but the drive bounds the survey
  EXPECT_EQ(s.dlg.bootList().rows, (Rows{{"NTFS", "999"}}));
  EXPECT_EQ(inventory::g_surveySector, 1024u);
  EXPECT_EQ(s.dlg.Text(app::id::kProgress), "0");

  // Also when the window knows no capacity: the device's length bounds it.
  s.dlg.m_sourceCapacity = 0;
  s.Run("");
  EXPECT_EQ(inventory::g_surveySector, 1024u);
}

// A survey that could read no sector ends as a failure that says so, not as
// a drive surveyed and found empty; one unreadable sector is only counted.
TEST(SurveyEngine, ADriveOfWhichNoSectorCanBeReadEndsAsAFailure) {
  TempDir dir;
  testing_support::ImageBuilder(2048).WriteTo(dir / "card.img");
  std::set<uint64_t> all;
  for (uint64_t s = 0; s < 2048; ++s) all.insert(s);
  struct Case {
    std::set<uint64_t> bad;
    base::RunOutcome outcome;
    std::string why;
  } cases[] = {
      {all, base::RunOutcome::kFailed,
       "the drive could not be read from sector 0 on: was it removed?"},
      {{700}, base::RunOutcome::kEndOfDrive, ""},
  };
  for (const Case& c : cases) {
    auto device = platform::FaultyDevice::Open(dir / "card.img", c.bad);
    ASSERT_TRUE(device);
    inventory::SurveySettings settings;
    settings.source = device.get();
    settings.byteCount = UINT64_MAX;
    base::Reporter reporter;
    const base::RunEnd end = inventory::RunSurvey(settings, [](inventory::SurveyFind, uint64_t) {},
                                                  reporter);
    EXPECT_EQ(end.outcome, c.outcome);
    EXPECT_EQ(end.why, c.why);
    EXPECT_EQ(end.unreadableSectors, c.bad.size());
  }
}

TEST_F(SurveyTest, WithNoDriveSelectedNothingIsReadAndTheFieldKeepsItsText) {
  Survey s(opener);
  s.Run("524288");
  EXPECT_EQ(s.shell.Lines(), (std::vector<std::string>{"Lumisave: open source disk error"}));
  EXPECT_EQ(s.dlg.Text(app::id::kProgress), "524288");
  EXPECT_TRUE(s.dlg.bootList().rows.empty());
}

}  // namespace

namespace {

std::string RunBinary(const std::vector<std::string>& args, int* status) {
  const testing_support::RunResult r = testing_support::RunLumisave(args);
  *status = r.status;
  return r.out;
}

TEST(SurveyCommand, PrintsBothListsOneRowALine) {
  TempDir dir;
  const std::string path = dir / "card.img";
  const uint8_t fat[4] = {0xF8, 0xFF, 0xFF, 0x0F};
  testing_support::ImageBuilder(2048)
      .PutSector(0, BootSector("NTFS    ", "", 0x55, 0xAA))
      .PutSector(100, BootSector("MSWIN4.1", "FAT32   ", 0x55, 0xAA))
      .Put(132 * 512, Bytes(fat, fat + 4))
      .Put(1500 * 512, Bytes(fat, fat + 4))
      .WriteTo(path);
  int status = 0;
  EXPECT_EQ(RunBinary({"survey", "--source", path}, &status),
            "BootType\tSecNum\nNTFS\t\nFAT32\t100\nFatType\tSecNum\nFAT32\t132\nFAT32\t1500\n");
  EXPECT_EQ(status, 0);
  // One chunk only: the table at 1500 lies beyond it.
  EXPECT_EQ(RunBinary({"survey", "--source", path, "--bytes", "262144"}, &status),
            "BootType\tSecNum\nNTFS\t\nFAT32\t100\nFatType\tSecNum\nFAT32\t132\n");
  RunBinary({"survey", "--source", dir / "missing.img"}, &status);
  EXPECT_EQ(status, 2);
  RunBinary({"survey", "--source", path, "--bytes", "lots"}, &status);
  EXPECT_EQ(status, 2);
}

TEST(VolumesCommand, PrintsTheVolumeListAndTheDrivesLetters) {
  int status = 0;
  const std::string out = RunBinary({"volumes"}, &status);
  EXPECT_EQ(out.rfind("LogicalDrive\tDrive Type\tFreeForCaller\tTotalCapacity\tFreeSpace\t"
                      "FileSystem\tVolumeName\n",
                      0),
            0u)
      << out;
  // Then each physical drive with its letters.
  EXPECT_NE(out.find("\n\nPhysicalDrive\tLogicalDriveLetter\n"), std::string::npos) << out;
  EXPECT_EQ(status, 0);
}

}  // namespace
