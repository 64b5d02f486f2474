// Cloning into a new image file, and a clone going on from its map: on image
// files, and, as root, end to end from a loop device over a FUSE file with
// failing sectors, stopped by signals at points the test chooses.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "diskutil/rescue_map.h"
#include "tests/support/faulty_mount.h"
#include "tests/support/fixtures.h"
#include "tests/support/loop_device.h"
#include "tests/support/run.h"

namespace {

using diskutil::AreaStatus;
using diskutil::MapArea;
using testing_support::Bytes;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

using Result = testing_support::ShellResult;
using testing_support::ShellIn;

std::string Clone() { return std::string("'") + LUMISAVE_BINARY + "' clone"; }

Bytes Pattern(size_t bytes, uint8_t seed) {
  Bytes b(bytes);
  for (size_t i = 0; i < bytes; ++i) b[i] = static_cast<uint8_t>(i * 7 + seed + i / 512);
  return b;
}

std::string Text(const Bytes& b) { return std::string(b.begin(), b.end()); }

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

// The map in a file, read back for a source of `size` bytes.
diskutil::RescueMap MapOf(const std::string& path, uint64_t size) {
  diskutil::MapParseResult parsed = diskutil::ParseRescueMap(Text(ReadFile(path)), size);
  EXPECT_TRUE(parsed.map.has_value()) << parsed.error;
  return parsed.map ? *parsed.map : diskutil::RescueMap(size);
}

// The sectors of a map's areas of one status.
std::set<uint64_t> SectorsOf(const diskutil::RescueMap& map, AreaStatus status) {
  std::set<uint64_t> sectors;
  for (const MapArea& a : map.Areas(status)) {
    for (uint64_t s = a.pos / 512; s < a.end() / 512; ++s) sectors.insert(s);
  }
  return sectors;
}

// Whether `target` holds the bytes of `source` in sectors [first, end).
bool SameSectors(const Bytes& target, const Bytes& source, uint64_t first, uint64_t end) {
  return std::equal(source.begin() + first * 512, source.begin() + end * 512,
                    target.begin() + first * 512);
}

TEST(CloneIntoImage, MakesTheImageAndNamesItInTheQuestion) {
  TempDir dir;
  const Bytes source = Pattern(3 << 20, 1);
  WriteFile(dir / "src.img", source);
  // Answered No: nothing is left behind.
  Result r = ShellIn(dir.path(), Clone() + " --source src.img --target card.img --no");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("Lumisave: The data on " + (dir / "card.img") +
                          " will lost !!! Proceed (Yes/No) ? [no]"),
            std::string::npos)
      << r.output;
  EXPECT_FALSE(Exists(dir / "card.img"));

  r = ShellIn(dir.path(), Clone() + " --source src.img --target card.img --yes");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("Lumisave: The data on " + (dir / "card.img") +
                          " will lost !!! Proceed (Yes/No) ? [yes]"),
            std::string::npos)
      << r.output;
  EXPECT_EQ(ReadFile(dir / "card.img"), source);
}

TEST(CloneIntoImage, ASmallerExistingTargetIsAskedAboutAndNeverExtended) {
  TempDir dir;
  const Bytes source = Pattern(2 << 20, 2);
  WriteFile(dir / "src.img", source);
  WriteFile(dir / "small.img", Bytes(1 << 20, 0xEE));
  Result r = ShellIn(dir.path(), Clone() + " --source src.img --target small.img --yes");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("TargetDisk > SourceDisk ! Proceed(Yes/No) ?"), std::string::npos)
      << r.output;
  EXPECT_EQ(ReadFile(dir / "small.img"), Bytes(source.begin(), source.begin() + (1 << 20)));
}

// Each refusal says why and creates nothing. The source is a loop device for
// the case of a folder on the source; the no-room case has a small tmpfs.
TEST(CloneIntoImage, RefusalsCreateNothing) {
  TempDir dir;
  WriteFile(dir / "src.img", Pattern(2 << 20, 3));
  struct Case {
    std::string target;
    std::string says;
  };
  std::vector<Case> cases = {
      {dir / "missing/card.img", "the folder " + (dir / "missing/") + " does not exist"},
      {"/dev/lumisave-no-such-device", "images are not made in /dev"},
  };
  const bool root = testing_support::IsRoot();
  if (root) {
    ::mkdir((dir / "tiny").c_str(), 0755);
    if (::mount("tmpfs", (dir / "tiny").c_str(), "tmpfs", 0, "size=1m") == 0) {
      cases.push_back({dir / "tiny/card.img", "has only"});
    }
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    Result r = ShellIn(dir.path(), Clone() + " --source src.img --target " + c.target + " --yes");
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("is not created: "), std::string::npos) << r.output;
    EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
    EXPECT_FALSE(Exists(c.target));
  }
  if (root) ::umount2((dir / "tiny").c_str(), 0);

  if (!root) GTEST_SKIP() << "a folder on the source needs a loop device (root)";
  if (ShellIn("/", "command -v mkfs.ext4").status != 0) GTEST_SKIP() << "mkfs.ext4 is missing";
  WriteFile(dir / "fs.img", Bytes(16 << 20, 0));
  ASSERT_EQ(ShellIn(dir.path(), "mkfs.ext4 -q fs.img").status, 0);
  testing_support::LoopDevice loop(dir / "fs.img");
  ASSERT_FALSE(loop.node().empty());
  ::mkdir((dir / "mnt").c_str(), 0755);
  if (::mount(loop.node().c_str(), (dir / "mnt").c_str(), "ext4", 0, nullptr) != 0) {
    GTEST_SKIP() << "cannot mount here";
  }
  Result r = ShellIn(dir.path(), Clone() + " --source " + loop.node() + " --target mnt/card.img --yes");
  const bool made = Exists(dir / "mnt/card.img");
  ::umount2((dir / "mnt").c_str(), 0);
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("lies on the source drive"), std::string::npos) << r.output;
  EXPECT_FALSE(made);
}

// A map written by hand: areas copied, not tried, skipped and unreadable.
// The resumed clone reads the areas not tried, then the skipped ones; the
// copied and unreadable areas keep the target's bytes, until --retry-bad.
TEST(CloneResume, GoesOnFromTheMap) {
  TempDir dir;
  const uint64_t size = 4 << 20;  // 8192 sectors
  const Bytes source = Pattern(size, 4);
  WriteFile(dir / "src.img", source);
  WriteFile(dir / "dst.img", Bytes(size, 0xEE));
  WriteFile(dir / "card.map", [] {
    const std::string text =
        "# written by hand\n"
        "0x00100000     ?  1\n"
        "0x00000000  0x00100000  +\n"  // sectors 0 .. 2047
        "0x00100000  0x00100200  ?\n"  // 2048 .. 4096
        "0x00200200  0x00000400  -\n"  // 4097, 4098
        "0x00200600  0x00080000  *\n"  // 4099 .. 5122
        "0x00280600  0x0017FA00  ?\n";  // 5123 .. 8191
    return Bytes(text.begin(), text.end());
  }());
  Result r = ShellIn(dir.path(), Clone() + " --source src.img --target dst.img --mapfile card.map");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("will lost !!! Proceed (Yes/No) ? [no]"), std::string::npos)
      << r.output;
  EXPECT_EQ(ReadFile(dir / "dst.img"), Bytes(size, 0xEE));

  r = ShellIn(dir.path(), Clone() + " --source src.img --target dst.img --mapfile card.map --yes");
  EXPECT_EQ(r.status, 0) << r.output;
  Bytes target = ReadFile(dir / "dst.img");
  EXPECT_EQ(target[0], 0xEE);
  EXPECT_EQ(target[2047 * 512 + 511], 0xEE);
  EXPECT_TRUE(SameSectors(target, source, 2048, 4097));
  EXPECT_EQ(target[4097 * 512], 0xEE);
  EXPECT_EQ(target[4098 * 512 + 511], 0xEE);
  EXPECT_TRUE(SameSectors(target, source, 4099, 8192));
  diskutil::RescueMap map = MapOf(dir / "card.map", size);
  EXPECT_EQ(SectorsOf(map, AreaStatus::kBad), (std::set<uint64_t>{4097, 4098}));
  EXPECT_EQ(map.Total(AreaStatus::kCopied), size - 1024);

  r = ShellIn(dir.path(),
            Clone() + " --source src.img --target dst.img --mapfile card.map --yes --retry-bad 2");
  EXPECT_EQ(r.status, 0) << r.output;
  target = ReadFile(dir / "dst.img");
  EXPECT_TRUE(SameSectors(target, source, 4097, 4099));
  EXPECT_EQ(target[0], 0xEE);
  map = MapOf(dir / "card.map", size);
  EXPECT_EQ(map.Total(AreaStatus::kCopied), size);
  EXPECT_EQ(map.phase(), diskutil::MapPhase::kFinished);
}

// A map that does not fit is refused with its line; nothing is written, the
// map stays as it was.
TEST(CloneResume, RefusesAMapThatDoesNotFit) {
  TempDir dir;
  WriteFile(dir / "src.img", Pattern(1 << 20, 5));  // 0x100000 bytes
  WriteFile(dir / "dst.img", Bytes(1 << 20, 0xEE));
  struct Case {
    const char* name;
    std::string map;
    std::string says;
  } cases[] = {
      {"overlapping areas",
       "0x0  ?  1\n0x0  0x80000  +\n0x7FE00  0x80200  ?\n",
       "mapfile line 3: the area overlaps the one above it or is out of order: "
       "0x7FE00  0x80200  ?"},
      {"unsorted areas",
       "0x0  ?  1\n0x80000  0x80000  ?\n0x0  0x80000  +\n",
       "mapfile line 2:"},
      {"position past the end",
       "# c\n0x100200  ?  1\n0x0  0x100000  ?\n",
       "mapfile line 2: the current position lies past the end"},
      {"unknown status character",
       "0x0  ?  1\n0x0  0x80000  +\n0x80000  0x80000  x\n",
       "mapfile line 3: unknown status character: 0x80000  0x80000  x"},
      {"truncated last line",
       "0x0  ?  1\n0x0  0x80000  +\n0x80000  0x80000  ?",
       "mapfile line 3: the last line is cut short"},
      {"another drive's size",
       "0x0  ?  1\n0x0  0x200000  ?\n",
       "mapfile line 2: the areas reach 2097152 bytes but the source has 1048576 bytes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(dir / "card.map", Bytes(c.map.begin(), c.map.end()));
    Result r = ShellIn(dir.path(), Clone() + " --source src.img --target dst.img --yes "
                                           "--mapfile card.map");
    EXPECT_EQ(r.status, 2) << r.output;
    EXPECT_NE(r.output.find("is refused, nothing is written: " + c.says), std::string::npos)
        << r.output;
    EXPECT_EQ(Text(ReadFile(dir / "card.map")), c.map);
    EXPECT_EQ(ReadFile(dir / "dst.img"), Bytes(1 << 20, 0xEE));
  }
  // A map of a target that is not there: nothing is created.
  Result r = ShellIn(dir.path(), Clone() + " --source src.img --target new.img --yes "
                                         "--mapfile card.map");
  EXPECT_EQ(r.status, 2) << r.output;
  EXPECT_NE(r.output.find("which does not exist"), std::string::npos) << r.output;
  EXPECT_FALSE(Exists(dir / "new.img"));
  // A map tells where to go on: a --start beside it is refused, not ignored.
  const std::string fits = "0x0  ?  1\n0x0  0x100000  ?\n";
  WriteFile(dir / "card.map", Bytes(fits.begin(), fits.end()));
  r = ShellIn(dir.path(), Clone() + " --source src.img --target dst.img --yes "
                                  "--mapfile card.map --start 8");
  EXPECT_EQ(r.status, 2) << r.output;
  EXPECT_NE(r.output.find("--start is not used with it"), std::string::npos) << r.output;
  EXPECT_EQ(ReadFile(dir / "dst.img"), Bytes(1 << 20, 0xEE));
}

#ifdef LUMISAVE_FAULTY_FS
// ---------------------------------------------------------------------------
// End to end (root): a loop device over the FUSE file with failing sectors.

constexpr uint64_t kSectors = 32 * 512;  // 32 chunks, 8 MiB
const std::set<uint64_t> kBad = {600, 601, 5000, 12000};

// A clone of the failing drive, its FUSE file system steered through a
// control folder: where reads are held, and the log of every read.
class FailingDrive : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing_support::IsRoot()) GTEST_SKIP() << "loop devices and FUSE need root";
    if (::access("/dev/fuse", R_OK | W_OK) != 0) GTEST_SKIP() << "/dev/fuse is missing";
    source_ = Pattern(kSectors * 512, 9);
    WriteFile(dir_ / "src.img", source_);
    ::mkdir(control().c_str(), 0755);
    mount_ = std::make_unique<testing_support::FaultyMount>(
        LUMISAVE_FAULTY_FS, dir_ / "src.img", "600,601,5000,12000", dir_ / "mnt", control());
    if (!mount_->ready()) GTEST_SKIP() << "cannot mount a FUSE file system here";
    loop_ = std::make_unique<testing_support::LoopDevice>(mount_->file());
    ASSERT_FALSE(loop_->node().empty());
    ShellIn("/", "udevadm settle 2>/dev/null");
    std::remove((control() + "/reads").c_str());
  }
  void TearDown() override {
    std::remove((control() + "/paused").c_str());
    loop_.reset();
    mount_.reset();
  }

  std::string control() const { return dir_ / "control"; }
  std::vector<std::string> Arguments() const {
    return {"clone", "--source", loop_->node(), "--target", "card.img", "--mapfile", "card.map",
            "--yes"};
  }

  // Starts a clone held at its first chunk read that touches `sector`;
  // returns its pid once the read is held.
  pid_t StartHeldAt(uint64_t sector) {
    {
      std::ofstream pause(control() + "/pause");
      pause << sector << " 512\n";
    }
    const std::string out = dir_ / "out.txt";
    const std::vector<std::string> args = Arguments();
    pid_t pid = ::fork();
    if (pid == 0) {
      if (::chdir(dir_.path().c_str()) != 0) ::_exit(99);
      if (!std::freopen(out.c_str(), "w", stderr) || !std::freopen("/dev/null", "w", stdout) ||
          !std::freopen("/dev/null", "r", stdin)) {
        ::_exit(99);
      }
      std::vector<char*> argv{const_cast<char*>(LUMISAVE_BINARY)};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(LUMISAVE_BINARY, argv.data());
      ::_exit(98);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!Exists(control() + "/paused") && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_TRUE(Exists(control() + "/paused"));
    return pid;
  }

  // Sends `signal` to the held clone, lets the held read go, and gives the
  // clone's exit status (-signal when a signal ended it).
  int SignalAndRelease(pid_t pid, int signal) {
    ::kill(pid, signal);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the signal is pending
    std::remove((control() + "/paused").c_str());
    int raw = 0;
    ::waitpid(pid, &raw, 0);
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -WTERMSIG(raw);
  }

  Result Resume() {
    std::string line = "'" + std::string(LUMISAVE_BINARY) + "'";
    for (const std::string& a : Arguments()) line += " " + a;
    return ShellIn(dir_.path(), line);
  }

  // How often the clone read each sector since the last call (failed reads
  // too). The drive list's probes of the loop device (one 4 KiB page each,
  // through the page cache) reach the file system as well; the clone reads
  // chunks and single sectors, never 8 sectors, so reads of 8 are left out.
  std::vector<int> TakeReads() {
    std::vector<int> counts(kSectors, 0);
    std::ifstream log(control() + "/reads");
    uint64_t first = 0, count = 0;
    std::string how;
    while (log >> first >> count >> how) {
      if (count == 8) continue;
      for (uint64_t s = first; s < first + count && s < kSectors; ++s) ++counts[s];
    }
    std::remove((control() + "/reads").c_str());
    return counts;
  }

  // Whether the image holds the source at every sector the map shows copied.
  void ExpectCopiedAreasHold(const diskutil::RescueMap& map) {
    const Bytes image = ReadFile(dir_ / "card.img");
    ASSERT_EQ(image.size(), source_.size());
    for (const MapArea& a : map.Areas(AreaStatus::kCopied)) {
      EXPECT_TRUE(SameSectors(image, source_, a.pos / 512, a.end() / 512))
          << "area at " << a.pos << " is marked copied but differs";
    }
  }

  // The end of every resumed clone: the image is the source at every readable
  // sector, the unreadable areas are exactly the failing sectors, and the
  // other rescue tool's reader agrees.
  void ExpectWholeClone() {
    const diskutil::RescueMap map = MapOf(dir_ / "card.map", kSectors * 512);
    EXPECT_EQ(SectorsOf(map, AreaStatus::kBad), kBad);
    EXPECT_EQ(map.Total(AreaStatus::kCopied), (kSectors - kBad.size()) * 512);
    const Bytes image = ReadFile(dir_ / "card.img");
    ASSERT_EQ(image.size(), source_.size());
    uint64_t first = 0;
    for (uint64_t bad : kBad) {
      EXPECT_TRUE(SameSectors(image, source_, first, bad)) << "before sector " << bad;
      EXPECT_EQ(Bytes(image.begin() + bad * 512, image.begin() + bad * 512 + 512), Bytes(512, 0));
      first = bad + 1;
    }
    EXPECT_TRUE(SameSectors(image, source_, first, kSectors));
    if (ShellIn("/", "command -v ddrescuelog").status != 0) return;
    const Result totals = ShellIn(dir_.path(), "ddrescuelog -t card.map");
    EXPECT_EQ(totals.status, 0) << totals.output;
    EXPECT_NE(totals.output.find("bad-sector:     2048 B,  in      3 area(s)"), std::string::npos)
        << totals.output;
    EXPECT_NE(totals.output.find("non-tried:        0 B,  in      0 area(s)"), std::string::npos)
        << totals.output;
    EXPECT_NE(totals.output.find("rescued:    8386 kB,  in      4 area(s)"), std::string::npos)
        << totals.output;
    const Result list = ShellIn(dir_.path(), "ddrescuelog -b512 -l- card.map");
    EXPECT_EQ(list.output, "600\n601\n5000\n12000\n");
  }

  TempDir dir_;
  Bytes source_;
  std::unique_ptr<testing_support::FaultyMount> mount_;
  std::unique_ptr<testing_support::LoopDevice> loop_;
};

// Stopped by Ctrl-C at the middle of the drive (a read held there), resumed
// with the same map: every readable sector was read once over both runs,
// except those of the chunks read again sector by sector after failing, and
// sector 0, which the layout copy reads too.
TEST_F(FailingDrive, StoppedByCtrlCAndResumedReadsEachSectorOnce) {
  pid_t pid = StartHeldAt(16 * 512);
  ASSERT_EQ(SignalAndRelease(pid, SIGINT), 130) << Text(ReadFile(dir_ / "out.txt"));
  EXPECT_NE(Text(ReadFile(dir_ / "out.txt")).find("stopped by Ctrl-C"), std::string::npos);
  const diskutil::RescueMap stopped = MapOf(dir_ / "card.map", kSectors * 512);
  // The held chunk was copied before the run stopped; the rest is not tried.
  EXPECT_EQ(stopped.Areas(AreaStatus::kNotTried),
            (std::vector<MapArea>{{17 * 512 * 512, 15 * 512 * 512, AreaStatus::kNotTried}}));
  EXPECT_EQ(SectorsOf(stopped, AreaStatus::kBad), (std::set<uint64_t>{600, 601, 5000}));
  ExpectCopiedAreasHold(stopped);
  std::vector<int> reads = TakeReads();

  const Result r = Resume();
  EXPECT_EQ(r.status, 0) << r.output;
  ExpectWholeClone();
  const std::vector<int> resumed = TakeReads();
  std::vector<std::string> wrong;  // "sector: first run + resumed run"
  for (uint64_t s = 1; s < kSectors; ++s) {
    const uint64_t chunk = s / 512;
    const bool retried = chunk == 1 || chunk == 9 || chunk == 23;
    if (reads[s] + resumed[s] != (retried ? 2 : 1) || (chunk < 17 && resumed[s] != 0)) {
      wrong.push_back(std::to_string(s) + ": " + std::to_string(reads[s]) + " + " +
                      std::to_string(resumed[s]));
    }
  }
  EXPECT_TRUE(wrong.empty()) << wrong.size() << " sectors, first " << wrong.front();
}

// A run killed between two writes of its map: the map on disk claims no
// sector the image does not hold, and the next run reads only what that map
// does not show copied.
TEST_F(FailingDrive, KilledRunLosesOnlyItsUnsavedWork) {
  pid_t pid = StartHeldAt(6 * 512);
  ASSERT_EQ(SignalAndRelease(pid, SIGTERM), 143) << Text(ReadFile(dir_ / "out.txt"));
  EXPECT_NE(Text(ReadFile(dir_ / "out.txt")).find("stopped by SIGTERM"), std::string::npos);
  const Bytes saved = ReadFile(dir_ / "card.map");
  TakeReads();

  pid = StartHeldAt(12 * 512 + 100);
  ASSERT_EQ(SignalAndRelease(pid, SIGKILL), -SIGKILL);
  const diskutil::RescueMap killed = MapOf(dir_ / "card.map", kSectors * 512);
  ExpectCopiedAreasHold(killed);
  if (ReadFile(dir_ / "card.map") == saved) {
    // No map written during the killed run: all of its work is to do again.
    EXPECT_EQ(killed.Total(AreaStatus::kNotTried), 25 * 512 * 512);
  }
  const std::set<uint64_t> copied = SectorsOf(killed, AreaStatus::kCopied);
  TakeReads();

  const Result r = Resume();
  EXPECT_EQ(r.status, 0) << r.output;
  ExpectWholeClone();
  const std::vector<int> reads = TakeReads();
  for (uint64_t s : copied) {
    if (s == 0) continue;
    EXPECT_EQ(reads[s], 0) << "sector " << s << " was marked copied yet read again";
  }
}
#endif

}  // namespace
