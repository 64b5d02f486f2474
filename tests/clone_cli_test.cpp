// The clone command of the lumisave binary, on image files and, as root, on
// loop devices.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "tests/support/faulty_mount.h"
#include "tests/support/fixtures.h"
#include "tests/support/loop_device.h"
#include "tests/support/run.h"

namespace {

using testing_support::Bytes;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

using Result = testing_support::ShellResult;
using testing_support::ShellIn;

std::string Lumisave() { return std::string("'") + LUMISAVE_BINARY + "' clone"; }

Bytes Pattern(size_t bytes, uint8_t seed) {
  Bytes b(bytes);
  for (size_t i = 0; i < bytes; ++i) b[i] = static_cast<uint8_t>(i * 13 + seed + i / 512);
  return b;
}

TEST(CloneCommand, ClonesAnImageOntoAnImage) {
  TempDir dir;
  const Bytes source = Pattern(4 << 20, 1);
  WriteFile(dir / "src.img", source);
  WriteFile(dir / "dst.img", Bytes(4 << 20, 0xEE));
  Result r = ShellIn(dir.path(), Lumisave() + " --source src.img --target dst.img --yes --log");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(ReadFile(dir / "dst.img"), source);
  // The drive list names an image by its full path.
  EXPECT_NE(r.output.find("Lumisave: The data on " + (dir / "dst.img") +
                          " will lost !!! Proceed (Yes/No) ? [yes]"),
            std::string::npos)
      << r.output;
  EXPECT_EQ(ReadFile(dir / "123.txt"), Bytes());
}

TEST(CloneCommand, StepwiseModesTellWhereToGoOn) {
  TempDir dir;
  WriteFile(dir / "src.img", Pattern(64 * 512, 2));
  WriteFile(dir / "dst.img", Bytes(64 * 512, 0xEE));
  Result r = ShellIn(dir.path(), Lumisave() + " --source src.img --target dst.img --mode errpause "
                                          "--start 10 --add 3");
  EXPECT_EQ(r.status, 0) << r.output;
  // No bad sector: the range is copied and the start sector moves by --add.
  EXPECT_NE(r.output.find("next start sector: 13"), std::string::npos) << r.output;
  Bytes dst = ReadFile(dir / "dst.img");
  Bytes src = ReadFile(dir / "src.img");
  EXPECT_TRUE(std::equal(dst.begin() + 10 * 512, dst.end(), src.begin() + 10 * 512));
  EXPECT_EQ(dst[0], 0xEE);
}

TEST(CloneCommand, KeepsAMapThatAnotherRescueToolReads) {
  TempDir dir;
  const Bytes source = Pattern(4 << 20, 4);
  WriteFile(dir / "src.img", source);
  WriteFile(dir / "dst.img", Bytes(4 << 20, 0xEE));
  Result r = ShellIn(dir.path(), Lumisave() + " --source src.img --target dst.img --yes "
                                          "--mapfile card.map");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(ReadFile(dir / "dst.img"), source);
  const Bytes written = ReadFile(dir / "card.map");
  const std::string map(written.begin(), written.end());
  // The whole source copied: one area, and the run finished at its end.
  EXPECT_NE(map.find("\n0x00400000     +"), std::string::npos) << map;
  EXPECT_NE(map.find("\n0x00000000  0x00400000  +\n"), std::string::npos) << map;
  if (!ShellIn(dir.path(), "command -v ddrescuelog").output.empty()) {
    Result t = ShellIn(dir.path(), "ddrescuelog -t card.map");
    EXPECT_EQ(t.status, 0) << t.output;
    EXPECT_NE(t.output.find("rescued"), std::string::npos) << t.output;
  }
  // Given again, the map is gone on from: it shows everything copied, so
  // nothing is read or written.
  WriteFile(dir / "dst.img", Bytes(4 << 20, 0xEE));
  r = ShellIn(dir.path(), Lumisave() + " --source src.img --target dst.img --yes --mapfile card.map");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("shows nothing left to read"), std::string::npos) << r.output;
  EXPECT_EQ(ReadFile(dir / "card.map"), written);
  EXPECT_EQ(ReadFile(dir / "dst.img"), Bytes(4 << 20, 0xEE));
}

TEST(CloneCommand, RefusalsAndBadUsage) {
  TempDir dir;
  WriteFile(dir / "src.img", Pattern(1 << 20, 3));
  WriteFile(dir / "dst.img", Bytes(1 << 20, 0xEE));
  const std::string refused =
      "Lumisave: The data on " + (dir / "dst.img") + " will lost !!! Proceed (Yes/No) ? [no]";
  struct Case {
    const char* arguments;
    int status;
    std::string says;
  } cases[] = {
      {"--source src.img --target dst.img --no", 0, refused},
      {"--source src.img --target dst.img", 0, "[no]"},  // no terminal: No
      {"--source src.img --target ./src.img --yes", 1, "Lumisave: open destine disk error"},
      {"--source src.img --target nofolder/missing.img --yes", 1, "nofolder/ does not exist"},
      {"--source missing.img --target dst.img --yes", 2, "missing.img does not exist"},
      {"--source src.img --target dst.img --mode fast", 2, "--mode"},
      {"--source src.img --target dst.img --start 1e3", 2, "--start"},
      {"--source src.img --yes", 2, "--target"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    Result r = ShellIn(dir.path(), Lumisave() + " " + c.arguments);
    EXPECT_EQ(r.status, c.status) << r.output;
    EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
    EXPECT_EQ(ReadFile(dir / "dst.img"), Bytes(1 << 20, 0xEE));
  }
  EXPECT_EQ(ReadFile(dir / "src.img"), Pattern(1 << 20, 3));
}

// Ctrl-C and SIGTERM end the run after the unit in hand, with the map
// written as it stops.
TEST(CloneCommand, StopSignalsEndTheRunAfterTheChunkInHand) {
  struct Case {
    int signal;
    int status;
    const char* says;  // null: the command says nothing of its own
    bool press;        // the window's One Sector Clone button pressed, without a map
  } cases[] = {
      {SIGINT, 130, "lumisave: stopped by Ctrl-C", false},
      {SIGTERM, 143, "lumisave: stopped by SIGTERM", false},
      {SIGTERM, 143, nullptr, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.says);
    TempDir dir;
    // Sparse images: a long run, sector by sector with a flush after each.
    WriteFile(dir / "src.img", {});
    WriteFile(dir / "dst.img", {});
    ASSERT_EQ(::truncate((dir / "src.img").c_str(), 256 << 20), 0);
    ASSERT_EQ(::truncate((dir / "dst.img").c_str(), 256 << 20), 0);
    const std::string out = dir / "out.txt";
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      if (::chdir(dir.path().c_str()) != 0) ::_exit(99);
      if (!std::freopen(out.c_str(), "w", stderr) || !std::freopen("/dev/null", "w", stdout)) {
        ::_exit(99);
      }
      if (c.press) {
        ::execl(LUMISAVE_BINARY, LUMISAVE_BINARY, "press", "--source", "src.img", "--target",
                "dst.img", "--yes", "1044", static_cast<char*>(nullptr));
      }
      ::execl(LUMISAVE_BINARY, LUMISAVE_BINARY, "clone", "--source", "src.img", "--target",
              "dst.img", "--mode", "onesector", "--yes", "--mapfile", "card.map",
              static_cast<char*>(nullptr));
      ::_exit(98);
    }
    // Wait until the clone writes, then send the signal.
    struct stat st {};
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
      if (::stat((dir / "dst.img").c_str(), &st) == 0 && st.st_blocks > 0) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_GT(st.st_blocks, 0);
    ::kill(pid, c.signal);
    int raw = 0;
    auto sent = std::chrono::steady_clock::now();
    ::waitpid(pid, &raw, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::seconds(5));
    ASSERT_TRUE(WIFEXITED(raw));
    EXPECT_EQ(WEXITSTATUS(raw), c.status);
    Bytes log = ReadFile(out);
    if (c.says != nullptr) {
      EXPECT_NE(std::string(log.begin(), log.end()).find(c.says), std::string::npos);
    }
    // The run stopped early: most of the target was never written, and the
    // map says what is left.
    ASSERT_EQ(::stat((dir / "dst.img").c_str(), &st), 0);
    EXPECT_LT(st.st_blocks * 512, 128 << 20);
    if (c.press) continue;
    const Bytes bytes = ReadFile(dir / "card.map");
    const std::string map(bytes.begin(), bytes.end());
    const size_t copied = map.find("\n0x00000000  0x");
    ASSERT_NE(copied, std::string::npos) << map;
    EXPECT_EQ(map.substr(map.find('\n', copied + 1) - 3, 3), "  +") << map;
    EXPECT_NE(map.find("  ?\n"), std::string::npos) << map;
  }
}

// ---------------------------------------------------------------------------
// Real block devices (root only): loop devices over image files.

std::string Capture(const std::string& line) {
  Result r = ShellIn("/", line);
  while (!r.output.empty() && (r.output.back() == '\n' || r.output.back() == ' ')) r.output.pop_back();
  return r.status == 0 ? r.output : "";
}

using Loop = testing_support::LoopDevice;

TEST(CloneBlockDevices, ClonesOneLoopDeviceOntoAnother) {
  if (!testing_support::IsRoot()) GTEST_SKIP() << "loop devices need root";
  TempDir dir;
  Bytes source = Pattern(4 << 20, 4);
  // A partition table, so the layout transfer has something to carry.
  const uint8_t entry[16] = {0, 0, 0, 0, 0x0C, 0, 0, 0, 0x00, 0x08, 0, 0, 0x00, 0x10, 0, 0};
  std::copy(entry, entry + 16, source.begin() + 446);
  source[510] = 0x55;
  source[511] = 0xAA;
  WriteFile(dir / "src.img", source);
  WriteFile(dir / "dst.img", Bytes(4 << 20, 0xEE));
  Loop src(dir / "src.img");
  Loop dst(dir / "dst.img");
  ASSERT_FALSE(src.node().empty());
  ASSERT_FALSE(dst.node().empty());
  Result r = ShellIn(dir.path(), Lumisave() + " --source " + src.node() + " --target " + dst.node() +
                                 " --yes --log");
  EXPECT_EQ(r.status, 0) << r.output;
  ShellIn("/", "sync");
  EXPECT_EQ(ReadFile(dir / "dst.img"), source);
  EXPECT_EQ(ReadFile(dir / "123.txt"), Bytes());
}

TEST(CloneBlockDevices, AMountedTargetIsRefused) {
  if (!testing_support::IsRoot()) GTEST_SKIP() << "loop devices need root";
  if (Capture("command -v mkfs.ext4").empty()) GTEST_SKIP() << "mkfs.ext4 is missing";
  TempDir dir;
  WriteFile(dir / "src.img", Pattern(8 << 20, 5));
  WriteFile(dir / "dst.img", Bytes(8 << 20, 0));
  ASSERT_EQ(ShellIn(dir.path(), "mkfs.ext4 -q dst.img").status, 0);
  const Bytes before = ReadFile(dir / "dst.img");
  Loop src(dir / "src.img");
  Loop dst(dir / "dst.img");
  ASSERT_FALSE(dst.node().empty());
  ::mkdir((dir / "mnt").c_str(), 0755);
  if (ShellIn("/", "mount " + dst.node() + " '" + (dir / "mnt") + "'").status != 0) {
    GTEST_SKIP() << "cannot mount here";
  }
  Result r = ShellIn(dir.path(), Lumisave() + " --source " + src.node() + " --target " + dst.node() +
                                 " --yes");
  ShellIn("/", "umount '" + (dir / "mnt") + "'");
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("Lumisave: open destine disk error"), std::string::npos) << r.output;
  // Why, in words: the partition and where it is mounted; and which drives
  // these were, before anything started.
  EXPECT_NE(r.output.find(" is in use: " + dst.node() + " is mounted at " + (dir / "mnt") + "."),
            std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("source: physicaldrive"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find(" (src.img, 8.4 MB)\n"), std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find(" (dst.img, 8.4 MB)\n"), std::string::npos) << r.output;
  // Mounting wrote to the file system; its boot area, which a clone would
  // have overwritten first, is as it was.
  const Bytes after = ReadFile(dir / "dst.img");
  EXPECT_TRUE(std::equal(after.begin(), after.begin() + 1024, before.begin()));
}

#ifdef LUMISAVE_FAULTY_FS
class FaultyMount : public testing_support::FaultyMount {
 public:
  FaultyMount(const std::string& image, const std::string& bad, const std::string& mountPoint)
      : testing_support::FaultyMount(LUMISAVE_FAULTY_FS, image, bad, mountPoint) {}
};

TEST(CloneBlockDevices, RealReadErrorsFromALoopDeviceOverAFailingFile) {
  if (!testing_support::IsRoot()) GTEST_SKIP() << "loop devices and FUSE need root";
  if (::access("/dev/fuse", R_OK | W_OK) != 0) GTEST_SKIP() << "/dev/fuse is missing";
  const Bytes source = Pattern(4 << 20, 6);  // 8 chunks
  const Bytes old(4 << 20, 0xEE);
  auto sectors = [&](Bytes target, std::vector<std::pair<size_t, size_t>> copied, bool marked) {
    if (marked) {
      std::fill(target.begin() + 440, target.begin() + 444, 0);
      target[510] = 0x55;
      target[511] = 0xAA;
    }
    for (auto [first, end] : copied) {
      std::copy(source.begin() + first * 512, source.begin() + end * 512,
                target.begin() + first * 512);
    }
    return target;
  };
  struct Case {
    const char* mode;
    std::string log;
    Bytes target;
    const char* says;
  } cases[] = {
      {"clone", "Clone= \r\nClone= 512\r\nClone= 512\r\nClone= 1536\r\n",
       sectors(old, {{0, 3}, {4, 600}, {602, 2000}, {2001, 8192}}, false),
       "unreadable sectors: 4"},
      {"512secjmp", "512SecJmp = \r\n512SecJmp = 512\r\n512SecJmp = 1536\r\n",
       sectors(old, {{1024, 1536}, {2048, 8192}}, true), "last unreadable chunk at sector: 1536"},
      {"errbreak --add 2", "ErrBreakClone = \r\nErrPauseOneSec = 3\r\n",
       sectors(old, {{0, 3}}, false), "next start sector: 6"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    TempDir dir;
    WriteFile(dir / "src.img", source);
    WriteFile(dir / "dst.img", old);
    FaultyMount mount(dir / "src.img", "3,600,601,2000", dir / "mnt");
    if (!mount.ready()) GTEST_SKIP() << "cannot mount a FUSE file system here";
    {
      Loop src(mount.file());
      Loop dst(dir / "dst.img");
      ASSERT_FALSE(src.node().empty());
      ASSERT_FALSE(dst.node().empty());
      Result r = ShellIn(dir.path(), Lumisave() + " --source " + src.node() + " --target " +
                                       dst.node() + " --yes --log --mode " + c.mode);
      EXPECT_EQ(r.status, 0) << r.output;
      EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
    }
    Bytes log = ReadFile(dir / "123.txt");
    EXPECT_EQ(std::string(log.begin(), log.end()), c.log);
    EXPECT_TRUE(ReadFile(dir / "dst.img") == c.target);
  }
}
#endif

}  // namespace
