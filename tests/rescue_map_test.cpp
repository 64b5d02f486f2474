#include "diskutil/rescue_map.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "tests/support/fixtures.h"
#include "tests/support/run.h"

namespace {

using diskutil::AreaStatus;
using diskutil::MapArea;
using diskutil::MapHeader;
using diskutil::MapPhase;
using diskutil::ParseRescueMap;
using diskutil::PlanResume;
using diskutil::RescueMap;
using diskutil::WorkItem;
using diskutil::WorkKind;
using testing_support::TempDir;

constexpr AreaStatus Q = AreaStatus::kNotTried;
constexpr AreaStatus S = AreaStatus::kSkipped;
constexpr AreaStatus B = AreaStatus::kBad;
constexpr AreaStatus C = AreaStatus::kCopied;

std::string ReadText(const std::string& path) {
  const testing_support::Bytes bytes = testing_support::ReadFile(path);
  return std::string(bytes.begin(), bytes.end());
}

// The per-status totals and area counts must always agree with the areas.
void ExpectTotalsMatchAreas(const RescueMap& map) {
  std::map<AreaStatus, uint64_t> bytes;
  std::map<AreaStatus, size_t> counts;
  uint64_t next = 0;
  for (const MapArea& a : map.Areas()) {
    EXPECT_EQ(a.pos, next) << "areas must be contiguous";
    EXPECT_GT(a.size, 0u);
    bytes[a.status] += a.size;
    counts[a.status] += 1;
    next = a.end();
  }
  EXPECT_EQ(next, map.size());
  for (const AreaStatus s : {Q, S, B, C}) {
    EXPECT_EQ(map.Total(s), bytes[s]) << static_cast<char>(s);
    EXPECT_EQ(map.Count(s), counts[s]) << static_cast<char>(s);
  }
  const std::vector<MapArea> all = map.Areas();
  for (size_t i = 1; i < all.size(); ++i) {
    EXPECT_NE(all[i - 1].status, all[i].status) << "neighbours of one status are merged";
  }
}

struct SetOp {
  uint64_t pos, length;
  AreaStatus status;
};

struct SetCase {
  const char* name;
  uint64_t size;
  std::vector<SetOp> ops;
  std::vector<MapArea> expected;
};

TEST(RescueMap, SetSplitsAndMergesAreas) {
  const SetCase cases[] = {
      {"fresh map is one area not tried", 4096, {}, {{0, 4096, Q}}},
      {"a range in the middle splits the area in three",
       4096,
       {{1024, 512, B}},
       {{0, 1024, Q}, {1024, 512, B}, {1536, 2560, Q}}},
      {"a range at the start", 4096, {{0, 512, C}}, {{0, 512, C}, {512, 3584, Q}}},
      {"a range at the end", 4096, {{3584, 512, C}}, {{0, 3584, Q}, {3584, 512, C}}},
      {"consecutive copies merge",
       4096,
       {{0, 512, C}, {512, 512, C}},
       {{0, 1024, C}, {1024, 3072, Q}}},
      {"filling a hole merges both neighbours",
       4096,
       {{0, 1024, C}, {2048, 2048, C}, {1024, 1024, C}},
       {{0, 4096, C}}},
      {"a range over several areas replaces them",
       4096,
       {{512, 512, B}, {1536, 512, S}, {2560, 512, B}, {0, 3072, C}},
       {{0, 3072, C}, {3072, 1024, Q}}},
      {"a bad sector retried and read becomes copied inside a copied run",
       4096,
       {{0, 4096, C}, {2048, 512, B}, {2048, 512, C}},
       {{0, 4096, C}}},
      {"a range past the end is cut at the end",
       4096,
       {{3584, 100000, B}},
       {{0, 3584, Q}, {3584, 512, B}}},
      {"a range near 2^64 does not wrap",
       4096,
       {{1024, UINT64_MAX, S}},
       {{0, 1024, Q}, {1024, 3072, S}}},
      {"a range starting at the end, or empty, changes nothing",
       4096,
       {{4096, 512, C}, {1024, 0, C}},
       {{0, 4096, Q}}},
      {"setting an area to its own status leaves one area", 4096, {{512, 512, Q}}, {{0, 4096, Q}}},
      {"offsets past 4 GiB",
       1ull << 40,
       {{(1ull << 33) + 512, 512, B}},
       {{0, (1ull << 33) + 512, Q},
        {(1ull << 33) + 512, 512, B},
        {(1ull << 33) + 1024, (1ull << 40) - (1ull << 33) - 1024, Q}}},
  };
  for (const SetCase& c : cases) {
    SCOPED_TRACE(c.name);
    RescueMap map(c.size);
    for (const SetOp& op : c.ops) map.Set(op.pos, op.length, op.status);
    EXPECT_EQ(map.Areas(), c.expected);
    ExpectTotalsMatchAreas(map);
  }
}

TEST(RescueMap, AreasOfOneStatusAndStatusAt) {
  RescueMap map(8192);
  map.Set(0, 1024, C);
  map.Set(1024, 512, B);
  map.Set(2048, 512, B);
  map.Set(4096, 2048, S);
  EXPECT_EQ(map.Areas(B), (std::vector<MapArea>{{1024, 512, B}, {2048, 512, B}}));
  EXPECT_EQ(map.Areas(Q), (std::vector<MapArea>{{1536, 512, Q}, {2560, 1536, Q}, {6144, 2048, Q}}));
  EXPECT_EQ(map.StatusAt(0), C);
  EXPECT_EQ(map.StatusAt(1023), C);
  EXPECT_EQ(map.StatusAt(1024), B);
  EXPECT_EQ(map.StatusAt(1535), B);
  EXPECT_EQ(map.StatusAt(1536), Q);
  EXPECT_EQ(map.StatusAt(8191), Q);
}

// A written area counts as copied only once the target was flushed.
TEST(RescueMap, CopiesWaitForTheFlush) {
  RescueMap map(4096);
  map.NoteCopied(0, 1024);
  map.Set(1024, 512, B);  // an unreadable sector is known at once
  map.NoteCopied(1536, 512);
  map.NoteCopied(2048, 512);
  EXPECT_EQ(map.PendingBytes(), 2048u);
  EXPECT_EQ(map.Total(C), 0u);
  EXPECT_EQ(map.Serialize({}).find("  +\n"), std::string::npos);
  map.CommitCopied();
  EXPECT_EQ(map.PendingBytes(), 0u);
  EXPECT_EQ(map.Areas(),
            (std::vector<MapArea>{{0, 1024, C}, {1024, 512, B}, {1536, 1024, C}, {2560, 1536, Q}}));
  ExpectTotalsMatchAreas(map);
}

TEST(RescueMap, WritesTheMapfileLayout) {
  RescueMap map(0x120000 + 0x48000);
  map.Set(0, 0x117000, C);
  map.Set(0x117000, 0x200, B);
  map.Set(0x117200, 0x8E00, S);
  map.SetPosition(0x120000, MapPhase::kCopying, 1);
  const std::string text = map.Serialize({"lumisave clone --source sdb\x1b[2J --mapfile card.map",
                                          "2024-03-01 10:00:00", "2024-03-01 10:05:00"});
  EXPECT_EQ(text,
            "# Mapfile. Created by Lumisave\n"
            "# Command line: lumisave clone --source sdb?[2J --mapfile card.map\n"
            "# Start time:   2024-03-01 10:00:00\n"
            "# Current time: 2024-03-01 10:05:00\n"
            "# current_pos  current_status  current_pass\n"
            "0x00120000     ?               1\n"
            "#      pos        size  status\n"
            "0x00000000  0x00117000  +\n"
            "0x00117000  0x00000200  -\n"
            "0x00117200  0x00008E00  *\n"
            "0x00120000  0x00048000  ?\n");
}

TEST(RescueMap, RoundTrips) {
  std::vector<RescueMap> maps;
  maps.emplace_back(0);
  maps.emplace_back(512);
  RescueMap mixed(64 * 512);
  mixed.Set(0, 8 * 512, C);
  mixed.Set(8 * 512, 512, B);
  mixed.Set(16 * 512, 16 * 512, S);
  mixed.Set(40 * 512, 3 * 512, B);
  mixed.SetPosition(20 * 512, MapPhase::kSectorBySector, 1);
  maps.push_back(mixed);
  RescueMap big(3ull << 40);  // 3 TiB: positions wider than 32 bits
  big.Set((1ull << 40) + 7 * 512, 512, B);
  big.Set(0, 1ull << 40, C);
  big.SetPosition((2ull << 40) + 512, MapPhase::kRetrying, 3);
  maps.push_back(big);
  RescueMap done(4096);
  done.Set(0, 4096, C);
  done.SetPosition(4096, MapPhase::kFinished, 1);
  maps.push_back(done);

  for (const RescueMap& map : maps) {
    SCOPED_TRACE(map.size());
    const std::string text = map.Serialize({"lumisave clone", "2024-03-01 10:00:00", ""});
    const diskutil::MapParseResult parsed = ParseRescueMap(text, map.size());
    ASSERT_TRUE(parsed.map) << parsed.error;
    EXPECT_EQ(*parsed.map, map);
    EXPECT_EQ(parsed.map->Serialize({"lumisave clone", "2024-03-01 10:00:00", ""}), text);
  }
}

struct ParseCase {
  const char* name;
  std::string text;
  uint64_t size;
  size_t line;          // 0: read
  const char* message;  // a part of the refusal
};

const char kHead[] =
    "# Mapfile. Created by Lumisave\n# current_pos  current_status  current_pass\n";

TEST(RescueMap, ParseAcceptsOrRefusesEachLine) {
  const std::string h = kHead;  // lines 1 and 2
  const ParseCase cases[] = {
      {"written layout", h + "0x400 ? 1\n0x0 0x400 +\n0x400 0x200 -\n0x600 0xA00 ?\n", 4096, 0, ""},
      {"blank lines, trailing comments, CR LF",
       "\n0x400 ? 1   # where we are\r\n\n# pos size status\n0x0 0x400 + # copied\n0x400 0xC00 ?\n",
       4096, 0, ""},
      {"decimal and octal values", "0 ? 1\n0 1024 +\n02000 3072 ?\n", 4096, 0, ""},
      {"the current position at the very end", "4096 + 1\n0 4096 +\n", 4096, 0, ""},
      {"an empty source", "0 + 1\n", 0, 0, ""},
      {"empty text", "", 4096, 1, "the mapfile is empty"},
      {"only comments", h, 4096, 2, "no current-position line"},
      {"status line missing its pass", h + "0x0 ?\n0x0 0x1000 ?\n", 4096, 3, "a field is missing"},
      {"area missing its status", h + "0x0 ? 1\n0x0 0x1000\n", 4096, 4, "a field is missing"},
      {"area with a field too many", h + "0x0 ? 1\n0x0 0x1000 ? ?\n", 4096, 4, "a field too many"},
      {"unknown area status", h + "0x0 ? 1\n0x0 0x800 +\n0x800 0x800 x\n", 4096, 5,
       "unknown status character"},
      {"unknown phase", h + "0x0 F 1\n0x0 0x1000 ?\n", 4096, 3, "unknown status character"},
      {"status of two characters", h + "0x0 ? 1\n0x0 0x1000 ++\n", 4096, 4,
       "unknown status character"},
      {"pass zero", h + "0x0 ? 0\n0x0 0x1000 ?\n", 4096, 3,
       "the pass is not a positive decimal number"},
      {"position not a number", h + "0xZ ? 1\n0x0 0x1000 ?\n", 4096, 3,
       "the current position is not a number"},
      {"negative size", h + "0x0 ? 1\n0x0 -0x1000 ?\n", 4096, 4, "size is not a number"},
      {"a number wider than 64 bits", h + "0x0 ? 1\n0x0 0x10000000000000000 ?\n", 4096, 4,
       "size is not a number"},
      {"overlapping areas", h + "0x0 ? 1\n0x0 0x800 +\n0x600 0xA00 ?\n", 4096, 5,
       "overlaps the one above it or is out of order"},
      {"areas out of order show first as a gap", h + "0x0 ? 1\n0x800 0x800 ?\n0x0 0x800 +\n", 4096,
       4, "a gap between 0x00000000 and 0x00000800"},
      {"a repeated area", h + "0x0 ? 1\n0x0 0x800 +\n0x0 0x800 +\n0x800 0x800 ?\n", 4096, 5,
       "overlaps the one above it or is out of order"},
      {"a gap", h + "0x0 ? 1\n0x0 0x800 +\n0xA00 0x600 ?\n", 4096, 5,
       "a gap between 0x00000800 and 0x00000A00"},
      {"an empty area", h + "0x0 ? 1\n0x0 0x800 +\n0x800 0x0 -\n0x800 0x800 ?\n", 4096, 5,
       "an empty area"},
      {"position past the end", h + "0x1001 ? 1\n0x0 0x1000 ?\n", 4096, 3,
       "past the end (4096 bytes)"},
      {"last line without its newline", h + "0x0 ? 1\n0x0 0x800 +\n0x800 0x800 ?", 4096, 5,
       "the last line is cut short"},
      {"a cut last line", h + "0x0 ? 1\n0x0 0x800 +\n0x800 0x8", 4096, 5,
       "the last line is cut short"},
      {"a map of a smaller drive", h + "0x0 ? 1\n0x0 0x800 +\n0x800 0x400 ?\n", 4096, 5,
       "the areas end at 3072 bytes but the source has 4096 bytes"},
      {"a map of a larger drive", h + "0x0 ? 1\n0x0 0x800 +\n0x800 0x1000 ?\n", 4096, 5,
       "the areas reach 6144 bytes but the source has 4096 bytes"},
      {"no areas for a source that has bytes", h + "0x0 ? 1\n", 4096, 3,
       "the areas end at 0 bytes but the source has 4096 bytes"},
      {"an area whose end passes 2^64", h + "0x0 ? 1\n0x0 0x800 +\n0x800 0xFFFFFFFFFFFFFFFF ?\n",
       4096, 5, "ends past the largest size"},
  };
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(c.name);
    const diskutil::MapParseResult r = ParseRescueMap(c.text, c.size);
    if (c.line == 0) {
      ASSERT_TRUE(r.map) << r.error;
      EXPECT_EQ(r.line, 0u);
      EXPECT_EQ(r.map->size(), c.size);
      ExpectTotalsMatchAreas(*r.map);
      continue;
    }
    EXPECT_FALSE(r.map);
    EXPECT_EQ(r.line, c.line) << r.error;
    EXPECT_EQ(r.error.rfind("mapfile line " + std::to_string(c.line) + ": ", 0), 0u) << r.error;
    EXPECT_NE(r.error.find(c.message), std::string::npos) << r.error;
  }
}

TEST(RescueMap, ParseReadsValuesAndMergesNeighbours) {
  const diskutil::MapParseResult r = ParseRescueMap(
      "0x600 - 2\n0 0x200 +\n0x200 0x200 +\n0x400 0x200 /\n0x600 0x200 -\n0x800 0x800 ?\n", 4096);
  ASSERT_TRUE(r.map) << r.error;
  EXPECT_EQ(r.map->position(), 0x600u);
  EXPECT_EQ(r.map->phase(), MapPhase::kRetrying);
  EXPECT_EQ(r.map->pass(), 2u);
  // '/' from other rescue tools is an area not yet read sector by sector.
  EXPECT_EQ(r.map->Areas(),
            (std::vector<MapArea>{
                {0, 0x400, C}, {0x400, 0x200, S}, {0x600, 0x200, B}, {0x800, 0x800, Q}}));
}

TEST(RescueMap, RefusalQuotesTheLineWithoutControlCharacters) {
  const std::string line = "0x0 0x800 \x1b]0;owned\x07";
  const diskutil::MapParseResult r = ParseRescueMap("0x0 ? 1\n" + line + "\n0x800 0x800 ?\n", 4096);
  ASSERT_FALSE(r.map);
  EXPECT_EQ(r.line, 2u);
  EXPECT_EQ(r.error, "mapfile line 2: unknown status character: 0x0 0x800 ?]0;owned?");
}

TEST(RescueMap, ResumePlanOrdersTheWork) {
  RescueMap map(16 * 512);
  map.Set(0, 2 * 512, C);
  map.Set(2 * 512, 512, B);
  map.Set(3 * 512, 2 * 512, S);
  map.Set(5 * 512, 3 * 512, C);
  map.Set(8 * 512, 2 * 512, B);
  map.Set(10 * 512, 2 * 512, S);
  // 12..16 not tried
  const std::vector<WorkItem> first = {
      {WorkKind::kCopy, 12 * 512, 4 * 512, 0},
      {WorkKind::kSectorBySector, 3 * 512, 2 * 512, 0},
      {WorkKind::kSectorBySector, 10 * 512, 2 * 512, 0},
  };
  EXPECT_EQ(PlanResume(map, 0), first);

  std::vector<WorkItem> retried = first;
  for (unsigned attempt = 1; attempt <= 2; ++attempt) {
    retried.push_back({WorkKind::kRetryBad, 2 * 512, 512, attempt});
    retried.push_back({WorkKind::kRetryBad, 8 * 512, 2 * 512, attempt});
  }
  EXPECT_EQ(PlanResume(map, 2), retried);

  EXPECT_EQ(PlanResume(RescueMap(4096), 3), (std::vector<WorkItem>{{WorkKind::kCopy, 0, 4096, 0}}));
  RescueMap done(4096);
  done.Set(0, 4096, C);
  EXPECT_TRUE(PlanResume(done, 3).empty());
}

// The totals another rescue tool reads from a map the module wrote.
struct OtherToolTotals {
  std::map<std::string, uint64_t> bytes;
  std::map<std::string, uint64_t> areas;
};

bool ReadOtherToolTotals(const std::string& path, OtherToolTotals* totals, std::string* out) {
  if (testing_support::RunCommand("ddrescuelog -t " + testing_support::Quote(path), out) != 0) {
    return false;
  }
  std::istringstream lines(*out);
  std::string line;
  while (std::getline(lines, line)) {
    // "     non-tried:     2048 B,  in      1 area(s)  ( 50%)"
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string name = line.substr(0, colon);
    name.erase(0, name.find_first_not_of(' '));
    std::istringstream rest(line.substr(colon + 1));
    uint64_t bytes = 0, areas = 0;
    std::string unit, in;
    if (!(rest >> bytes >> unit) || unit != "B,") continue;
    totals->bytes[name] = bytes;
    if (rest >> in >> areas && in == "in") totals->areas[name] = areas;
  }
  return true;
}

TEST(RescueMap, AnotherRescueToolReadsTheWrittenMap) {
  if (!testing_support::Shell("command -v ddrescuelog > /dev/null 2>&1")) {
    GTEST_SKIP() << "ddrescuelog (gddrescue) is missing: run scripts/install-deps.sh";
  }
  TempDir dir;
  RescueMap map(64 * 512);
  map.Set(0, 20 * 512, C);
  map.Set(7 * 512, 1 * 512, B);
  map.Set(20 * 512, 8 * 512, S);
  map.Set(30 * 512, 2 * 512, B);
  map.Set(33 * 512, 1 * 512, B);
  map.Set(40 * 512, 10 * 512, C);
  map.SetPosition(40 * 512, MapPhase::kCopying, 1);
  const std::string path = dir / "card.map";
  ASSERT_EQ(platform::ReplaceFileAtomically(
                path, map.Serialize({"lumisave clone", diskutil::MapTime(0), ""})),
            0);

  OtherToolTotals totals;
  std::string out;
  ASSERT_TRUE(ReadOtherToolTotals(path, &totals, &out)) << out;
  SCOPED_TRACE(out);
  EXPECT_EQ(totals.bytes["mapfile extent"], map.size());
  EXPECT_EQ(totals.bytes["current pos"], 40u * 512);
  EXPECT_EQ(totals.bytes["non-tried"], map.Total(Q));
  EXPECT_EQ(totals.bytes["rescued"], map.Total(C));
  EXPECT_EQ(totals.bytes["non-trimmed"], map.Total(S));
  EXPECT_EQ(totals.bytes["bad-sector"], map.Total(B));
  EXPECT_EQ(totals.areas["non-tried"], map.Count(Q));
  EXPECT_EQ(totals.areas["rescued"], map.Count(C));
  EXPECT_EQ(totals.areas["non-trimmed"], map.Count(S));
  EXPECT_EQ(totals.areas["bad-sector"], map.Count(B));

  // Its list of unreadable sectors is the module's.
  ASSERT_EQ(
      testing_support::RunCommand("ddrescuelog -b512 -l- " + testing_support::Quote(path), &out),
      0);
  EXPECT_EQ(out, "7\n30\n31\n33\n");
}

// --- ReplaceFileAtomically --------------------------------------------------

TEST(ReplaceFileAtomically, ReplacesTheFileWhole) {
  TempDir dir;
  const std::string path = dir / "card.map";
  testing_support::WriteFile(path, {'o', 'l', 'd'});
  testing_support::WriteFile(
      path + ".new", {'s', 't', 'a', 'l', 'e', ' ', 'l', 'e', 'f', 't', 'o', 'v', 'e', 'r'});
  ASSERT_EQ(platform::ReplaceFileAtomically(path, "new map\n"), 0);
  EXPECT_EQ(ReadText(path), "new map\n");
  EXPECT_FALSE(std::filesystem::exists(path + ".new"));
  // A file of its own name in the working folder.
  const std::string cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  EXPECT_EQ(platform::ReplaceFileAtomically("plain.map", "x\n"), 0);
  std::filesystem::current_path(cwd);
  EXPECT_EQ(ReadText(dir / "plain.map"), "x\n");
}

TEST(ReplaceFileAtomically, NeverWritesThroughALink) {
  TempDir dir;
  const std::string path = dir / "card.map";
  const std::string victim = dir / "victim";
  testing_support::WriteFile(path, {'o', 'l', 'd'});
  testing_support::WriteFile(victim, {'k', 'e', 'e', 'p'});
  std::filesystem::create_symlink(victim, path + ".new");
  EXPECT_EQ(platform::ReplaceFileAtomically(path, "new map\n"), ELOOP);
  EXPECT_EQ(ReadText(path), "old");
  EXPECT_EQ(ReadText(victim), "keep");
}

TEST(ReplaceFileAtomically, AMissingFolderIsReported) {
  TempDir dir;
  EXPECT_EQ(platform::ReplaceFileAtomically(dir / "gone/card.map", "map\n"), ENOENT);
  EXPECT_EQ(platform::ReplaceFileAtomically("", "map\n"), ENOENT);
}

// A full file system: the write of the new copy fails half way, and the old
// copy stays whole.
TEST(ReplaceFileAtomically, AFullDiskLeavesTheOldFileWhole) {
  if (!testing_support::IsRoot()) GTEST_SKIP() << "mounting a small file system needs root";
  TempDir dir;
  const std::string mount = dir / "small";
  std::filesystem::create_directory(mount);
  if (!testing_support::Shell("mount -t tmpfs -o size=64k tmpfs " + testing_support::Quote(mount) +
                              " 2>/dev/null")) {
    GTEST_SKIP() << "cannot mount a tmpfs here";
  }
  struct Unmount {
    std::string path;
    ~Unmount() { testing_support::Shell("umount " + testing_support::Quote(path)); }
  } unmount{mount};
  const std::string path = mount + "/card.map";
  const std::string old(8192, 'o');
  EXPECT_EQ(platform::ReplaceFileAtomically(path, old), 0);
  EXPECT_EQ(platform::ReplaceFileAtomically(path, std::string(256 * 1024, 'n')), ENOSPC);
  EXPECT_EQ(ReadText(path), old);
  EXPECT_FALSE(std::filesystem::exists(path + ".new"));
}

}  // namespace
