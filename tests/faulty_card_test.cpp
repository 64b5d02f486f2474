// recover on a failing card: a loop device over a FUSE file whose chosen
// sectors fail with EIO, or whose server dies mid-scan (root only).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <thread>

#include "tests/support/faulty_mount.h"
#include "tests/support/fixtures.h"
#include "tests/support/loop_device.h"
#include "tests/support/run.h"

namespace {

using namespace testing_support;

#ifdef LUMISAVE_FAULTY_FS
// An image served through the FUSE file system with failing sectors, every
// read it serves logged in `log`; with `dieAt`, the server ends itself at the
// first read of that byte, as a card pulled from its reader.
std::unique_ptr<FaultyMount> ServeFailingCard(const std::string& image, const std::string& bad,
                                              const std::string& mountPoint, const std::string& log,
                                              uint64_t dieAt) {
  std::vector<std::pair<std::string, std::string>> env = {{"LUMISAVE_FAULTY_LOG", log}};
  if (dieAt != 0) env.emplace_back("LUMISAVE_FAULTY_DIE_AT", std::to_string(dieAt));
  return std::make_unique<FaultyMount>(LUMISAVE_FAULTY_FS, image, bad, mountPoint, "", env);
}

// Reads the server served of exactly one sector, `sector`.
int SectorReads(const std::string& log, uint64_t sector) {
  std::ifstream in(log);
  long long offset = 0;
  size_t size = 0;
  int n = 0;
  while (in >> offset >> size) n += static_cast<uint64_t>(offset) == sector * 512 && size == 512;
  return n;
}

bool AllZero(const Bytes& b, size_t from, size_t to) {
  for (size_t i = from; i < to; ++i) {
    if (b[i] != 0) return false;
  }
  return true;
}

TEST(FailingCard, RecoverUsesEveryReadableSectorAndSaysWhatItCouldNotRead) {
  if (!IsRoot()) GTEST_SKIP() << "loop devices and FUSE need root";
  if (::access("/dev/fuse", R_OK | W_OK) != 0) GTEST_SKIP() << "/dev/fuse is missing";
  // A photo whose chunk holds a bad sector before it, and one its copy's
  // second pass meets past its end; a photo with a bad sector inside it.
  const Bytes clear = FakeJpeg(0xE1, 300000, {1000, 299998});    // sectors 1100-1686
  const Bytes holed = FakeJpeg(0xE1, 400000, {1000, 399998});    // sectors 3000-3782
  const Bytes early = FakeJpeg(0xE1, 320000, {1000, 319998});    // sectors 5000-5625
  struct Case {
    const char* what;
    uint64_t sectors;
    std::string bad;
    uint64_t dieAt;
    int status;
    std::string says;
    std::vector<std::pair<std::string, Bytes>> files;  // name and bytes; empty: no file
  } cases[] = {
      {"bad sectors beside photos", 8 * 2048, "1050,1700", 0, 0, "unreadable sectors: 2 (first 1050, last 1700)",
       {{"1100.jpg", clear}, {"3000.jpg", holed}, {"5000.jpg", early}}},
      {"a bad sector inside a photo", 8 * 2048, "3300", 0, 0, "unreadable sectors: 1 (first 3300, last 3300)",
       {{"1100.jpg", clear}, {"3000.jpg", {}}, {"5000.jpg", early}}},
      // Small: every unreadable sector is tried once on its own.
      {"every sector bad", 2048, "0-2047", 0, 1,
       "the drive could not be read from sector 0 on: was it removed?", {}},
      // Pulled once the photos are behind the scan, with more than 16 MiB to go.
      {"the card pulled mid-scan", 40 * 2048, "", 16 << 20, 1,
       "the drive could not be read from sector 32768 on: was it removed?",
       {{"1100.jpg", clear}, {"3000.jpg", holed}, {"5000.jpg", early}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    ImageBuilder img(c.sectors);
    if (c.sectors > 8192) img.PutSector(1100, clear).PutSector(3000, holed).PutSector(5000, early);
    img.WriteTo(dir / "card.img");
    const auto card = ServeFailingCard(dir / "card.img", c.bad, dir / "mnt", dir / "reads.log", c.dieAt);
    if (!card->ready()) GTEST_SKIP() << "cannot mount a FUSE file system here";
    std::filesystem::create_directories(dir / "home");
    RunResult r;
    {
      LoopDevice loop(card->file());
      ASSERT_FALSE(loop.node().empty());
      r = RunLumisave({"recover", "--source", loop.node(), "--out", dir / "out", "--yes"},
                      dir / "home");
    }
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    const std::vector<std::string> found = FilesIn(dir / "out/JPEG");
    EXPECT_EQ(found.size(), c.files.size()) << r.err;
    for (const auto& [name, bytes] : c.files) {
      SCOPED_TRACE(name);
      const Bytes got = ReadFile(dir / "out/JPEG" + "/" + name);
      if (!bytes.empty()) {
        EXPECT_TRUE(got == bytes);
        continue;
      }
      // The photo with the bad sector: its true length, 512 zero bytes in
      // place of the sector, every other byte as on the card; the sector was
      // asked of the card alone once, by the scan, and not again by the copy.
      ASSERT_EQ(got.size(), holed.size());
      const size_t at = (3300 - 3000) * 512;
      EXPECT_TRUE(AllZero(got, at, at + 512));
      EXPECT_TRUE(std::equal(got.begin(), got.begin() + at, holed.begin()));
      EXPECT_TRUE(std::equal(got.begin() + at + 512, got.end(), holed.begin() + at + 512));
      EXPECT_EQ(SectorReads(dir / "reads.log", 3300), 1);
    }
  }
}
#endif

}  // namespace
