// The clone engine working through a resume plan: which sectors each step
// reads, what the map shows afterwards, and what reaches the target.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "diskutil/clone_engine.h"
#include "diskutil/rescue_map.h"
#include "tests/support/fault_device.h"
#include "tests/support/fixtures.h"

namespace {

using diskutil::AreaStatus;
using diskutil::CloneMode;
using diskutil::MapArea;
using testing_support::Bytes;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

constexpr uint64_t kSectors = 4096;  // 8 chunks

Bytes Pattern(uint64_t sectors) {
  Bytes b(sectors * 512);
  for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i * 5 + i / 512 + 1);
  return b;
}

// The sectors of [first, end) in bytes, as map areas take them.
void Mark(diskutil::RescueMap& map, uint64_t first, uint64_t end, AreaStatus status) {
  map.Set(first * 512, (end - first) * 512, status);
}

struct Outcome {
  diskutil::RescueMap map{kSectors * 512};
  Bytes target;
  diskutil::CloneEnd end = diskutil::CloneEnd::kRan;
};

// Runs the plan of `map` (with `retries`) in `mode` from a source whose
// `bad` sectors fail onto a target of 0xEE bytes.
Outcome Resume(diskutil::RescueMap map, CloneMode mode, const std::set<uint64_t>& bad,
               unsigned retries) {
  TempDir dir;
  WriteFile(dir / "src.img", Pattern(kSectors));
  WriteFile(dir / "dst.img", Bytes(kSectors * 512, 0xEE));
  auto source = platform::FaultyDevice::Open(dir / "src.img", bad);
  auto target = platform::FaultyDevice::Open(dir / "dst.img", {});
  const std::vector<diskutil::WorkItem> plan = diskutil::PlanResume(map, retries);
  diskutil::CloneSettings s;
  s.source = source.get();
  s.target = target.get();
  s.targetLength = kSectors * 512;
  s.byteCount = kSectors * 512;
  s.mode = mode;
  s.copyLayout = true;  // a resumed run never copies it: sector 0 stays the target's
  s.logBadSectors = false;
  s.map = &map;
  s.plan = &plan;
  base::Reporter reporter;
  Outcome out;
  out.end = diskutil::RunClone(s, reporter);
  target.reset();
  out.map = map;
  out.target = ReadFile(dir / "dst.img");
  return out;
}

// Whether the target holds the source in [first, end), or 0xEE everywhere there.
bool Copied(const Bytes& target, uint64_t first, uint64_t end) {
  const Bytes source = Pattern(kSectors);
  return std::equal(source.begin() + first * 512, source.begin() + end * 512,
                    target.begin() + first * 512);
}
bool Untouched(const Bytes& target, uint64_t first, uint64_t end) {
  return std::all_of(target.begin() + first * 512, target.begin() + end * 512,
                     [](uint8_t b) { return b == 0xEE; });
}

// A map with every kind of area: copied [0, 100), not tried [100, 700) and
// [2000, 2100), skipped [1024, 1536), unreadable 1700 and 1701, copied the rest.
diskutil::RescueMap MixedMap() {
  diskutil::RescueMap map(kSectors * 512);
  Mark(map, 0, kSectors, AreaStatus::kCopied);
  Mark(map, 100, 700, AreaStatus::kNotTried);
  Mark(map, 2000, 2100, AreaStatus::kNotTried);
  Mark(map, 1024, 1536, AreaStatus::kSkipped);
  Mark(map, 1700, 1702, AreaStatus::kBad);
  return map;
}

TEST(ClonePlan, ReadsOnlyTheStepsAreasAndMarksWhatItFinds) {
  struct Case {
    const char* name;
    CloneMode mode;
    std::set<uint64_t> bad;
    unsigned retries;
    std::set<uint64_t> expectBad;      // sectors the map shows unreadable after
    std::set<uint64_t> expectSkipped;  // sectors still skipped
  } cases[] = {
      // A failing unit of a not-tried area is read again sector by sector.
      {"clone", CloneMode::kClone, {650, 1200, 1700}, 0, {650, 1200, 1700, 1701}, {}},
      // 512secjmp skips the failing unit it meets (cut at the area's end), and
      // reads the skipped area sector by sector as any mode.
      {"512secjmp", CloneMode::k512SecJmp, {650, 1200}, 0, {1200, 1700, 1701}, {}},
      // Retries read the unreadable sectors again: one still fails.
      {"clone, retries", CloneMode::kClone, {1701}, 2, {1701}, {}},
      {"onesector", CloneMode::kOneSector, {101, 2099}, 0, {101, 1700, 1701, 2099}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome out = Resume(MixedMap(), c.mode, c.bad, c.retries);
    EXPECT_EQ(out.end, diskutil::CloneEnd::kRan);
    std::set<uint64_t> bad, skipped;
    for (const MapArea& a : out.map.Areas(AreaStatus::kBad)) {
      for (uint64_t s = a.pos / 512; s < a.end() / 512; ++s) bad.insert(s);
    }
    for (const MapArea& a : out.map.Areas(AreaStatus::kSkipped)) {
      for (uint64_t s = a.pos / 512; s < a.end() / 512; ++s) skipped.insert(s);
    }
    std::set<uint64_t> expectSkipped = c.expectSkipped;
    if (c.mode == CloneMode::k512SecJmp) {
      // The unit [612, 700) holding 650 was skipped: the next resume reads it.
      for (uint64_t s = 612; s < 700; ++s) expectSkipped.insert(s);
    }
    EXPECT_EQ(bad, c.expectBad);
    EXPECT_EQ(skipped, expectSkipped);
    EXPECT_EQ(out.map.Total(AreaStatus::kNotTried), 0u);
    // Areas already copied are never read or written again.
    EXPECT_TRUE(Untouched(out.target, 0, 100));
    EXPECT_TRUE(Untouched(out.target, 700, 1024));
    EXPECT_TRUE(Untouched(out.target, 1536, 1700));
    EXPECT_TRUE(Untouched(out.target, 1702, 2000));
    EXPECT_TRUE(Untouched(out.target, 2100, kSectors));
    // Every sector of the plan's areas that the map now shows copied holds
    // the source's bytes.
    for (auto [first, end] : {std::pair<uint64_t, uint64_t>{100, 700}, {1024, 1536}, {1700, 1702},
                              {2000, 2100}}) {
      for (uint64_t s = first; s < end; ++s) {
        if (out.map.StatusAt(s * 512) == AreaStatus::kCopied) {
          EXPECT_TRUE(Copied(out.target, s, s + 1)) << "sector " << s;
        }
      }
    }
    for (uint64_t s : bad) EXPECT_TRUE(Untouched(out.target, s, s + 1)) << s;
  }
}

TEST(ClonePlan, AStopEndsTheRunAfterTheUnitInHandAndTheMapSaysWhere) {
  TempDir dir;
  WriteFile(dir / "src.img", Pattern(kSectors));
  WriteFile(dir / "dst.img", Bytes(kSectors * 512, 0xEE));
  auto source = platform::FaultyDevice::Open(dir / "src.img", {});
  auto target = platform::FaultyDevice::Open(dir / "dst.img", {});
  diskutil::RescueMap map(kSectors * 512);
  const std::vector<diskutil::WorkItem> plan = diskutil::PlanResume(map, 0);
  std::atomic<bool> stop{false};
  // Stops the run when the first unit was reported.
  struct StopAtFirst : base::Reporter {
    std::atomic<bool>* stop;
    void OnProgress(const base::Progress&) override { *stop = true; }
  } reporter;
  reporter.stop = &stop;
  diskutil::CloneSettings s;
  s.source = source.get();
  s.target = target.get();
  s.targetLength = kSectors * 512;
  s.byteCount = kSectors * 512;
  s.interrupt = &stop;
  s.map = &map;
  s.plan = &plan;
  int saves = 0;
  s.saveMap = [&saves] { ++saves; };
  EXPECT_EQ(diskutil::RunClone(s, reporter), diskutil::CloneEnd::kRan);
  EXPECT_EQ(saves, 1);  // as the run leaves
  EXPECT_EQ(map.Areas(AreaStatus::kCopied),
            (std::vector<MapArea>{{0, 512 * 512, AreaStatus::kCopied}}));
  EXPECT_EQ(map.position(), 512u * 512);
  EXPECT_EQ(map.phase(), diskutil::MapPhase::kCopying);
}

}  // namespace
