// The clone, survey and volume copy engines driven through their settings
// and reporter alone, on small images over fault-injecting devices.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <utility>
#include <vector>

#include "base/run_report.h"
#include "diskutil/clone_engine.h"
#include "diskutil/volume_copy_engine.h"
#include "inventory/survey_engine.h"
#include "tests/support/fault_device.h"
#include "tests/support/fixtures.h"

namespace {

using testing_support::Bytes;
using Area = std::pair<uint64_t, uint64_t>;  // first sector, sectors

constexpr uint64_t kSectors = 2048;  // four chunks
constexpr uint64_t kChunk = 512;     // sectors

// Keeps every event an engine reports.
struct Recorder : base::Reporter {
  void OnProgress(const base::Progress& p) override { progress.push_back(p); }
  void OnUnreadable(uint64_t first, uint64_t sectors) override {
    unreadable.emplace_back(first, sectors);
  }
  void OnEnd(const base::RunEnd& e) override {
    ++ends;
    end = e;
  }
  std::vector<base::Progress> progress;
  std::vector<Area> unreadable;
  base::RunEnd end;
  int ends = 0;
};

// Sector s carries its own number, so a sector copied to the wrong place shows.
Bytes Numbered(uint64_t sectors) {
  Bytes b(sectors * 512);
  for (uint64_t s = 0; s < sectors; ++s) {
    for (uint64_t i = 0; i < 512; ++i) b[s * 512 + i] = static_cast<uint8_t>(s * 13 + i + 1);
    std::memcpy(&b[s * 512], &s, sizeof s);
  }
  return b;
}

bool InAreas(const std::vector<Area>& areas, uint64_t sector) {
  for (const auto& [first, n] : areas) {
    if (sector >= first && sector < first + n) return true;
  }
  return false;
}

// A source image over a device whose `bad` sectors cannot be read, and a
// target image of 0xEE bytes.
struct Drives {
  explicit Drives(std::set<uint64_t> bad, uint64_t sectors = kSectors)
      : source(Numbered(sectors)), oldTarget(sectors * 512, 0xEE) {
    testing_support::WriteFile(dir / "src.img", source);
    testing_support::WriteFile(dir / "tgt.img", oldTarget);
    src = platform::FaultyDevice::Open(dir / "src.img", std::move(bad));
    tgt = platform::FaultyDevice::Open(dir / "tgt.img", {});
  }
  Bytes Target() {
    tgt.reset();
    return testing_support::ReadFile(dir / "tgt.img");
  }

  testing_support::TempDir dir;
  Bytes source;
  Bytes oldTarget;
  std::unique_ptr<platform::FaultyDevice> src;
  std::unique_ptr<platform::FaultyDevice> tgt;
};

diskutil::CloneSettings CloneOver(Drives& d, diskutil::CloneMode mode, uint64_t start = 0) {
  diskutil::CloneSettings s;
  s.source = d.src.get();
  s.target = d.tgt.get();
  s.targetLength = d.oldTarget.size();
  s.byteCount = d.source.size();
  s.start = start;
  s.mode = mode;
  s.logBadSectors = false;
  return s;
}

TEST(CloneEngine, ReportsExactlyTheAreasEachModeMeets) {
  using diskutil::CloneMode;
  using base::RunOutcome;
  struct Case {
    const char* name;
    CloneMode mode;
    uint64_t start;
    std::vector<Area> unreadable;
    RunOutcome outcome;
    uint64_t resume;
  };
  const std::set<uint64_t> bad = {5, 700, 701, 1023, 1500};
  const Case cases[] = {
      {"clone", CloneMode::kClone, 0, {{5, 1}, {700, 1}, {701, 1}, {1023, 1}, {1500, 1}},
       RunOutcome::kEndOfDrive, kSectors},
      {"onesector", CloneMode::kOneSector, 0, {{5, 1}, {700, 1}, {701, 1}, {1023, 1}, {1500, 1}},
       RunOutcome::kEndOfDrive, kSectors},
      {"512secjmp", CloneMode::k512SecJmp, 0, {{0, kChunk}, {512, kChunk}, {1024, kChunk}},
       RunOutcome::kEndOfDrive, kSectors},
      {"errbreak", CloneMode::kErrBreak, 0, {{0, kChunk}}, RunOutcome::kFailed, 0},
      {"errbreak later", CloneMode::kErrBreak, 1024 + 256, {{1024 + 256, kChunk}},
       RunOutcome::kFailed, 1024 + 256},
      {"errpause", CloneMode::kErrPause, 600, {{700, 1}}, RunOutcome::kFailed, 701},
      {"clone from a start", CloneMode::kClone, 1024, {{1500, 1}}, RunOutcome::kEndOfDrive,
       kSectors},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Drives d(bad);
    Recorder r;
    const diskutil::CloneSettings settings = CloneOver(d, c.mode, c.start);
    EXPECT_EQ(diskutil::RunClone(settings, r), diskutil::CloneEnd::kRan);
    EXPECT_EQ(r.unreadable, c.unreadable);
    EXPECT_EQ(r.ends, 1);
    EXPECT_EQ(r.end.outcome, c.outcome);
    EXPECT_EQ(r.end.resumeSector, c.resume);
    uint64_t sectors = 0;
    for (const Area& a : c.unreadable) sectors += a.second;
    EXPECT_EQ(r.end.unreadableSectors, sectors);
    // Progress: bytes of the range done, `at` the next sector to copy.
    const uint64_t total = d.source.size() - c.start * 512;
    for (const base::Progress& p : r.progress) {
      EXPECT_EQ(p.total, total);
      EXPECT_EQ(p.at, c.start + p.done / 512);
    }
    if (c.outcome != RunOutcome::kEndOfDrive) continue;
    // Whatever was read sits in its place; every sector reported keeps the
    // target's old bytes, and so does everything before the start.
    std::vector<Area> kept = c.unreadable;
    kept.emplace_back(0, c.start);
    const Bytes target = d.Target();
    for (uint64_t s = 0; s < kSectors; ++s) {
      const Bytes& want = InAreas(kept, s) ? d.oldTarget : d.source;
      ASSERT_EQ(0, std::memcmp(&target[s * 512], &want[s * 512], 512)) << "sector " << s;
    }
    ASSERT_FALSE(r.progress.empty());
    EXPECT_EQ(r.progress.back().done, total - (c.mode == CloneMode::kOneSector ? 512 : 512 * 512));
  }
}

TEST(CloneEngine, StopsFailuresAndRefusals) {
  {
    SCOPED_TRACE("a stop request ends the run after the chunk in hand");
    Drives d({});
    std::atomic<bool> stop{true};
    diskutil::CloneSettings s = CloneOver(d, diskutil::CloneMode::kClone);
    s.stop = &stop;
    Recorder r;
    EXPECT_EQ(diskutil::RunClone(s, r), diskutil::CloneEnd::kRan);
    EXPECT_EQ(r.end.outcome, base::RunOutcome::kStopped);
    EXPECT_EQ(r.end.resumeSector, kChunk);
    ASSERT_EQ(r.progress.size(), 1u);
  }
  {
    SCOPED_TRACE("a write the target refuses");
    Drives d({});
    d.tgt->FailWritesFrom(600 * 512);
    Recorder r;
    EXPECT_EQ(diskutil::RunClone(CloneOver(d, diskutil::CloneMode::kOneSector), r),
              diskutil::CloneEnd::kWriteFailed);
    EXPECT_EQ(r.end.outcome, base::RunOutcome::kFailed);
    EXPECT_EQ(r.end.resumeSector, 600u);
  }
  {
    SCOPED_TRACE("a start at the byte count reads nothing");
    Drives d({});
    Recorder r;
    EXPECT_EQ(diskutil::RunClone(CloneOver(d, diskutil::CloneMode::kClone, kSectors), r),
              diskutil::CloneEnd::kStartBeyondDisk);
    EXPECT_EQ(r.end.outcome, base::RunOutcome::kNotStarted);
    EXPECT_EQ(d.src->ReadCalls(), 0u);
  }
}

TEST(CloneEngine, KeepsTheMapOfTheSource) {
  using diskutil::AreaStatus;
  using diskutil::CloneMode;
  using diskutil::MapArea;
  constexpr uint64_t kBytes = kSectors * 512;
  constexpr uint64_t kChunkBytes = kChunk * 512;
  struct Case {
    const char* name;
    CloneMode mode;
    uint64_t failWritesFrom;  // byte offset on the target, or none
    std::vector<MapArea> areas;
  };
  const Case cases[] = {
      {"clone: bad sectors unreadable, the rest copied",
       CloneMode::kClone,
       UINT64_MAX,
       {{0, 700 * 512, AreaStatus::kCopied},
        {700 * 512, 2 * 512, AreaStatus::kBad},
        {702 * 512, kBytes - 702 * 512, AreaStatus::kCopied}}},
      {"512secjmp: the chunk skipped",
       CloneMode::k512SecJmp,
       UINT64_MAX,
       {{0, kChunkBytes, AreaStatus::kCopied},
        {kChunkBytes, kChunkBytes, AreaStatus::kSkipped},
        {2 * kChunkBytes, 2 * kChunkBytes, AreaStatus::kCopied}}},
      {"errbreak: the chunk it stops at stays not tried",
       CloneMode::kErrBreak,
       UINT64_MAX,
       {{0, kChunkBytes, AreaStatus::kCopied}, {kChunkBytes, 3 * kChunkBytes, AreaStatus::kNotTried}}},
      {"a refused write: nothing past the last flush is copied",
       CloneMode::kOneSector,
       600 * 512,
       {{0, 600 * 512, AreaStatus::kCopied}, {600 * 512, kBytes - 600 * 512, AreaStatus::kNotTried}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Drives d({700, 701});
    if (c.failWritesFrom != UINT64_MAX) d.tgt->FailWritesFrom(c.failWritesFrom);
    diskutil::RescueMap map(kBytes);
    int saves = 0;
    diskutil::CloneSettings s = CloneOver(d, c.mode);
    s.map = &map;
    s.saveMap = [&saves] { ++saves; };
    Recorder r;
    diskutil::RunClone(s, r);
    EXPECT_EQ(map.Areas(), c.areas);
    EXPECT_EQ(saves, 1);  // at the end: the run is shorter than 10 seconds
    EXPECT_EQ(map.position(), std::min(r.end.resumeSector * 512, kBytes));
  }
}

Bytes BootLike(const char* at3, const char* at82) {
  Bytes s(512, 0);
  std::memcpy(&s[3], at3, std::strlen(at3));
  if (at82 != nullptr) std::memcpy(&s[82], at82, std::strlen(at82));
  s[510] = 0x55;
  s[511] = 0xAA;
  return s;
}

TEST(SurveyEngine, ReportsEachFindInDriveOrderWithProgressAndUnreadableSectors) {
  using inventory::SurveyFind;
  using Find = std::pair<SurveyFind, uint64_t>;
  testing_support::TempDir dir;
  testing_support::ImageBuilder image(kSectors);
  image.PutSector(3, BootLike("NTFS    ", nullptr));
  image.PutSector(600, BootLike("MSDOS5.0", "FAT32   "));
  image.PutSector(632, {0xF8, 0xFF, 0xFF, 0x0F});
  image.PutSector(1200, BootLike("NTFS    ", nullptr));  // made unreadable below
  image.PutSector(1600, {0xF8, 0xFF, 0xFF, 0x0F});
  image.WriteTo(dir / "disk.img");

  struct Case {
    const char* name;
    uint64_t byteCount;
    std::vector<Find> finds;
    uint64_t sectors;  // examined
  };
  const std::vector<Find> all = {{SurveyFind::kNtfsBoot, 3},
                                 {SurveyFind::kFat32Boot, 600},
                                 {SurveyFind::kFat32Table, 632},
                                 {SurveyFind::kFat32Table, 1600}};
  const Case cases[] = {
      {"no count: the whole drive", 0, all, kSectors},
      {"two chunks", 2 * 512 * 512, {all[0], all[1], all[2]}, 1024},
      {"a count of whole chunks and a part", 3 * 512 * 512 + 100, {all[0], all[1], all[2]}, 1536},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto device = platform::FaultyDevice::Open(dir / "disk.img", {1200});
    inventory::SurveySettings s;
    s.source = device.get();
    s.byteCount = c.byteCount;
    std::vector<Find> finds;
    Recorder r;
    const base::RunEnd end = inventory::RunSurvey(
        s, [&finds](SurveyFind f, uint64_t sector) { finds.emplace_back(f, sector); }, r);
    EXPECT_EQ(finds, c.finds);
    EXPECT_EQ(end.resumeSector, c.sectors);
    EXPECT_EQ(r.end.resumeSector, c.sectors);
    const std::vector<Area> unreadable = {{1200, 1}};
    EXPECT_EQ(r.unreadable, c.sectors > 1200 ? unreadable : std::vector<Area>());
    ASSERT_EQ(r.progress.size(), c.sectors / kChunk);
    for (size_t i = 0; i < r.progress.size(); ++i) {
      EXPECT_EQ(r.progress[i].done, (i + 1) * kChunk * 512);
      EXPECT_EQ(r.progress[i].at, i * kChunk);
      EXPECT_EQ(r.progress[i].total, c.sectors * 512);
    }
  }
}

TEST(VolumeCopyEngine, CopiesOrEndsAtUnreadableChunksAndReportsProgress) {
  struct Case {
    const char* name;
    bool retrySectors;
    bool toTarget;
    diskutil::VolumeCopyEnd result;
    std::vector<Area> unreadable;
    size_t chunksDone;
  };
  const Case cases[] = {
      {"copy, retried sectors", true, true, diskutil::VolumeCopyEnd::kDone, {{700, 1}, {701, 1}},
       4},
      {"copy, ends at the bad chunk", false, true, diskutil::VolumeCopyEnd::kUnreadable,
       {{512, kChunk}}, 1},
      {"read pass", true, false, diskutil::VolumeCopyEnd::kDone, {{700, 1}, {701, 1}}, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Drives d({700, 701});
    diskutil::VolumeCopySettings s;
    s.source = d.src.get();
    s.target = c.toTarget ? d.tgt.get() : nullptr;
    s.retrySectors = c.retrySectors;
    Recorder r;
    EXPECT_EQ(diskutil::RunVolumeCopy(s, r), c.result);
    EXPECT_EQ(r.unreadable, c.unreadable);
    EXPECT_EQ(r.ends, 1);
    EXPECT_EQ(r.end.outcome, c.result == diskutil::VolumeCopyEnd::kDone
                                 ? base::RunOutcome::kEndOfDrive
                                 : base::RunOutcome::kFailed);
    ASSERT_EQ(r.progress.size(), c.chunksDone);
    for (size_t i = 0; i < r.progress.size(); ++i) {
      EXPECT_EQ(r.progress[i].done, (i + 1) * kChunk * 512);
      EXPECT_EQ(r.progress[i].total, kSectors * 512);
    }
    // The copied chunks reach the target, unreadable sectors as zeros; the
    // rest keeps its old bytes.
    const Bytes target = d.Target();
    for (uint64_t sector = 0; sector < kSectors; ++sector) {
      const uint8_t* got = &target[sector * 512];
      Bytes want(512, 0xEE);
      if (c.toTarget && sector < c.chunksDone * kChunk) {
        want = InAreas(c.unreadable, sector)
                   ? Bytes(512, 0)
                   : Bytes(d.source.begin() + static_cast<long>(sector * 512),
                           d.source.begin() + static_cast<long>(sector * 512 + 512));
      }
      ASSERT_EQ(0, std::memcmp(got, want.data(), 512)) << "sector " << sector;
    }
  }
}

}  // namespace
