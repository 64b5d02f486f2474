// The scan engine driven through its settings and reporter alone, with no
// window: what it reports is what it did.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <map>
#include <set>

#include "scan/file_types.h"
#include "scan/scan_engine.h"
#include "tests/carver_cases.h"
#include "tests/support/fault_device.h"

namespace {

using namespace carver_cases;
using testing_support::FilesIn;
using testing_support::ImageBuilder;
using testing_support::ReadFile;
using testing_support::TempDir;

class RecordingReporter : public base::Reporter {
 public:
  void OnProgress(const base::Progress& p) override { progress.push_back(p); }
  void OnFile(const base::FileRecord& f) override { files.push_back(f); }
  void OnNotice(base::Notice n, const std::string& d) override { notices.push_back({n, d}); }
  void OnUnreadable(uint64_t first, uint64_t sectors) override {
    unreadable.push_back({first, sectors});
  }
  void OnEnd(const base::RunEnd& e) override {
    ends.push_back(e);
  }
  std::vector<base::Progress> progress;
  std::vector<base::FileRecord> files;
  std::vector<std::pair<base::Notice, std::string>> notices;
  std::vector<base::RunEnd> ends;
  std::vector<std::pair<uint64_t, uint64_t>> unreadable;
};

const carvers::FileType* TypeNamed(const char* name) {
  return scan::FileTypes()[static_cast<size_t>(scan::FindType(name))].type;
}

// Every file on disk below `root`, by path.
std::map<std::string, uint64_t> FilesOnDisk(const std::string& root) {
  std::map<std::string, uint64_t> files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
    if (e.is_regular_file()) files[e.path().string()] = e.file_size();
  }
  return files;
}

TEST(ScanEngine, TheFilesReportedAreExactlyTheFilesWrittenWithTheirRuns) {
  TempDir dir;
  const std::string out = dir / "out";
  for (const char* f : {"/jpeg", "/bmp", "/dbx", "/pdf"}) std::filesystem::create_directories(out + f);
  // Two chunks and a bit: files in the first chunk, on a chunk's last sector
  // and in the short last chunk; a mail folder renamed after its stored name.
  ImageBuilder image(1100);
  image.PutSector(8, SampleFile("jpeg"));
  // An EXIF picture ends at the first end marker of a later pass than its
  // thumbnail's.
  image.Put((8 + 512) * 512 + 100, {0xFF, 0xD9});
  image.PutSector(511, SampleFile("bmp"));
  image.PutSector(600, SampleFile("dbx"));
  image.Put(600 * 512 + 9665, {'M', 'a', 'i', 'l', 0});
  image.PutSector(1090, SampleFile("pdf"));
  image.WriteTo(dir / "card.img");
  auto device = platform::OpenPath(dir / "card.img", platform::Access::kRead);
  ASSERT_TRUE(device);

  scan::ScanSettings settings;
  settings.source = device.get();
  settings.start = 0;
  settings.end = 1100;
  settings.types = {{TypeNamed("jpeg"), out + "/jpeg"}, {TypeNamed("bmp"), out + "/bmp"},
                    {TypeNamed("dbx"), out + "/dbx"}, {TypeNamed("pdf"), out + "/pdf"}};
  RecordingReporter reporter;
  base::RunEnd end = scan::RunScan(settings, reporter);

  EXPECT_EQ(end.outcome, base::RunOutcome::kEndOfDrive);
  ASSERT_EQ(reporter.ends.size(), 1u);
  EXPECT_EQ(reporter.notices.size(), 1u);  // the end of the drive, nothing failed
  std::map<std::string, uint64_t> reported;
  const Bytes& bytes = image.bytes();
  for (const base::FileRecord& f : reporter.files) {
    SCOPED_TRACE(f.path);
    reported[f.path] = f.length;
    // The runs rebuild the file from the drive byte for byte.
    Bytes rebuilt;
    for (const base::ByteRun& r : f.runs) {
      EXPECT_EQ(r.fileOffset, rebuilt.size());
      ASSERT_FALSE(r.hole);
      rebuilt.insert(rebuilt.end(), bytes.begin() + static_cast<long>(r.driveOffset),
                     bytes.begin() + static_cast<long>(r.driveOffset + r.length));
    }
    EXPECT_EQ(rebuilt, ReadFile(f.path));
    EXPECT_EQ(f.runs.front().driveOffset, f.firstSector * 512);
  }
  EXPECT_EQ(reported, FilesOnDisk(out));
  EXPECT_EQ(reported.count(out + "/dbx/Mail.dbx"), 1u);
  std::vector<std::string> types;
  for (const base::FileRecord& f : reporter.files) types.push_back(f.type);
  EXPECT_EQ(types, (std::vector<std::string>{"jpeg", "bmp", "dbx", "pdf"}));

  // Progress: one report per chunk, ending at the whole range.
  ASSERT_EQ(reporter.progress.size(), 3u);
  EXPECT_EQ(reporter.progress[0].at, 0u);
  EXPECT_EQ(reporter.progress[2].at, 1024u);
  EXPECT_EQ(reporter.progress.back().done, reporter.progress.back().total);
  EXPECT_EQ(reporter.progress.back().total, 1100u);
}

TEST(ScanEngine, ACreateFailureIsANoticeAndNoFile) {
  TempDir dir;
  ImageBuilder image(64);
  image.PutSector(8, SampleFile("jpeg"));
  image.WriteTo(dir / "card.img");
  auto device = platform::OpenPath(dir / "card.img", platform::Access::kRead);
  scan::ScanSettings settings;
  settings.source = device.get();
  settings.end = 64;
  settings.loopEnd = scan::LoopEnd::kAtEnd;
  settings.types = {{TypeNamed("jpeg"), dir / "missing"}};
  RecordingReporter reporter;
  scan::RunScan(settings, reporter);
  EXPECT_TRUE(reporter.files.empty());
  ASSERT_EQ(reporter.notices.size(), 1u);
  EXPECT_EQ(reporter.notices[0].first, base::Notice::kCreateFailed);
  EXPECT_EQ(reporter.notices[0].second, dir / "missing/8.jpg");
}

TEST(ScanEngine, AStopRequestEndsTheRunAfterTheChunkInHandWithWhereToGoOn) {
  TempDir dir;
  ImageBuilder image(2048);
  image.WriteTo(dir / "card.img");
  auto device = platform::OpenPath(dir / "card.img", platform::Access::kRead);
  std::atomic<bool> stop{true};
  scan::ScanSettings settings;
  settings.source = device.get();
  settings.end = 2048;
  settings.stop = &stop;
  RecordingReporter reporter;
  base::RunEnd end = scan::RunScan(settings, reporter);
  EXPECT_EQ(end.outcome, base::RunOutcome::kStopped);
  EXPECT_EQ(end.resumeSector, 512u);
  EXPECT_EQ(reporter.progress.size(), 1u);
}

// A photo with an unreadable sector inside: the file keeps its length, the
// sector is a hole of zeros in its runs, and the scan reports the sector.
TEST(ScanEngine, AnUnreadableSectorInAFileIsAHoleInItsRuns) {
  TempDir dir;
  const std::string out = dir / "out";
  std::filesystem::create_directories(out);
  const Bytes photo = testing_support::FakeJpeg(0xE0, 300000, {299998});
  ImageBuilder image(2048);
  image.PutSector(8, photo);
  image.WriteTo(dir / "card.img");
  auto device = platform::FaultyDevice::Open(dir / "card.img", {8 + 520});
  ASSERT_TRUE(device);
  scan::ScanSettings settings;
  settings.source = device.get();
  settings.end = 2048;
  settings.types = {{TypeNamed("jpeg0"), out}};
  RecordingReporter reporter;
  const base::RunEnd end = scan::RunScan(settings, reporter);
  EXPECT_EQ(end.outcome, base::RunOutcome::kEndOfDrive);
  EXPECT_EQ(end.unreadableSectors, 1u);
  EXPECT_EQ(reporter.unreadable, (std::vector<std::pair<uint64_t, uint64_t>>{{528, 1}}));
  ASSERT_EQ(reporter.files.size(), 1u);
  const base::FileRecord& f = reporter.files[0];
  EXPECT_EQ(f.length, photo.size());
  const std::vector<base::ByteRun> runs = {{0, 8 * 512, 520 * 512, false},
                                           {520 * 512, 0, 512, true},
                                           {521 * 512, 529 * 512, photo.size() - 521 * 512, false}};
  ASSERT_EQ(f.runs.size(), runs.size());
  for (size_t i = 0; i < runs.size(); ++i) {
    EXPECT_EQ(f.runs[i].fileOffset, runs[i].fileOffset) << i;
    EXPECT_EQ(f.runs[i].driveOffset, runs[i].driveOffset) << i;
    EXPECT_EQ(f.runs[i].length, runs[i].length) << i;
    EXPECT_EQ(f.runs[i].hole, runs[i].hole) << i;
  }
  Bytes want = photo;
  std::fill(want.begin() + 520 * 512, want.begin() + 521 * 512, 0);
  EXPECT_EQ(ReadFile(f.path), want);
}

// A drive that answers ENXIO (pulled from its reader) ends the scan at the
// chunk in hand: no further read, and the end says where.
TEST(ScanEngine, ADriveThatIsGoneEndsTheScanAtOnce) {
  class Pulled : public platform::DeviceWrapper {
   public:
    using DeviceWrapper::DeviceWrapper;
    bool Read(void* buffer, uint32_t count, uint32_t* got) override {
      if (Position() + count <= 1024 * 512) return inner_->Read(buffer, count, got);
      ++failed;
      errno = ENXIO;
      return false;
    }
    int failed = 0;
  };
  TempDir dir;
  ImageBuilder(8192).WriteTo(dir / "card.img");
  Pulled device(platform::OpenPath(dir / "card.img", platform::Access::kRead));
  scan::ScanSettings settings;
  settings.source = &device;
  settings.end = 8192;
  settings.types = {{TypeNamed("jpeg0"), dir.path()}};
  RecordingReporter reporter;
  const base::RunEnd end = scan::RunScan(settings, reporter);
  EXPECT_EQ(end.outcome, base::RunOutcome::kFailed);
  EXPECT_EQ(end.error, ENXIO);
  EXPECT_EQ(end.why, "the drive could not be read from sector 1024 on: was it removed?");
  EXPECT_EQ(end.resumeSector, 1024u);
  EXPECT_EQ(reporter.progress.size(), 2u);
  EXPECT_LE(device.failed, 3) << "reads went on after the drive was gone";
}

// Bitmaps longer than the read cache on a card whose sectors start with no
// other signature: the copies wait for the scan and share its reads.
class LongCopies : public ::testing::Test {
 protected:
  static constexpr uint64_t kSectors = 48 * 1024;  // 24 MiB
  void SetUp() override {
    Bytes& b = image.bytes();
    for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i % 251);
    PutBitmap(8, 12u << 20);             // longer than the cache
    PutBitmap(4096, 6u << 20);           // starts within the first
    PutBitmap(kSectors - 2048, 3u << 20);  // runs past the drive's end
    image.WriteTo(dir / "card.img");
    device = platform::FaultyDevice::Open(dir / "card.img", {});
    ASSERT_TRUE(device);
    std::filesystem::create_directories(out);
    settings.source = device.get();
    settings.end = kSectors;
    settings.types = {{TypeNamed("bmp"), out}};
  }
  void PutBitmap(uint64_t sector, uint32_t size) {
    Bytes header = {'B', 'M', static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8),
                    static_cast<uint8_t>(size >> 16), static_cast<uint8_t>(size >> 24)};
    image.PutSector(sector, header);
    sizes[sector] = size;
  }
  // The bytes a file from `sector` holds: its size, cut at the drive's end.
  Bytes Expected(uint64_t sector) const {
    const Bytes& b = const_cast<ImageBuilder&>(image).bytes();
    const size_t from = sector * 512;
    const size_t to = std::min<size_t>(from + sizes.at(sector), b.size());
    return Bytes(b.begin() + static_cast<std::ptrdiff_t>(from),
                 b.begin() + static_cast<std::ptrdiff_t>(to));
  }

  TempDir dir;
  const std::string out = dir / "out";
  ImageBuilder image{kSectors};
  std::map<uint64_t, uint32_t> sizes;
  std::unique_ptr<platform::FaultyDevice> device;
  scan::ScanSettings settings;
  RecordingReporter reporter;
};

TEST_F(LongCopies, EveryFileIsWholeAndTheDriveIsReadOnce) {
  const base::RunEnd end = scan::RunScan(settings, reporter);
  EXPECT_EQ(end.outcome, base::RunOutcome::kEndOfDrive);
  ASSERT_EQ(reporter.files.size(), 3u);
  for (const base::FileRecord& f : reporter.files) {
    EXPECT_EQ(ReadFile(f.path), Expected(f.firstSector)) << f.path;
    EXPECT_EQ(f.length, Expected(f.firstSector).size()) << f.path;
    ASSERT_EQ(f.runs.size(), 1u);
    EXPECT_EQ(f.runs[0].driveOffset, f.firstSector * 512);
  }
  EXPECT_EQ(device->ReadBytes(), kSectors * 512);
}

// A scan of a range ends at its end, but the files it found are copied whole.
TEST_F(LongCopies, AFileFoundInTheRangeIsCopiedPastItsEnd) {
  settings.end = 1024;
  const base::RunEnd end = scan::RunScan(settings, reporter);
  ASSERT_EQ(reporter.files.size(), 1u);
  EXPECT_EQ(ReadFile(reporter.files[0].path), Expected(8));
  EXPECT_EQ(end.resumeSector, 2048u);  // the chunk past the range's end is scanned too
}

// A stop while copies wait removes their files: the run goes on from the
// first of them.
TEST_F(LongCopies, AStopRemovesTheWaitingFilesAndGoesOnFromTheFirst) {
  std::atomic<bool> stop{false};
  settings.stop = &stop;
  class StopLater : public RecordingReporter {
   public:
    explicit StopLater(std::atomic<bool>& stop) : stop_(stop) {}
    void OnProgress(const base::Progress& p) override {
      if (p.at >= 8192) stop_ = true;
    }
    std::atomic<bool>& stop_;
  } stopper(stop);
  const base::RunEnd end = scan::RunScan(settings, stopper);
  EXPECT_EQ(end.outcome, base::RunOutcome::kStopped);
  EXPECT_EQ(end.resumeSector, 8u);
  EXPECT_TRUE(stopper.files.empty());
  EXPECT_TRUE(FilesIn(out).empty());
}

// A dead area of 24 MiB with a bitmap running into it: once 16 MiB of it
// failed, neither the scan nor the copy reads it sector by sector any more;
// the file keeps its length with the dead part as zeros.
TEST(ScanEngine, ALongDeadAreaIsNotRetriedSectorBySectorBeyond16MiB) {
  constexpr uint64_t kSectors = 80 * 1024;  // 40 MiB
  constexpr uint64_t kDeadFrom = 16 * 1024, kDeadTo = 64 * 1024;  // 8 MiB to 32 MiB
  constexpr uint32_t kBitmap = 30u << 20;
  TempDir dir;
  ImageBuilder image(kSectors);
  Bytes& b = image.bytes();
  for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i % 251);
  image.PutSector(8, {'B', 'M', 0, 0, static_cast<uint8_t>(kBitmap >> 16),
                      static_cast<uint8_t>(kBitmap >> 24)});
  image.WriteTo(dir / "card.img");
  std::set<uint64_t> dead;
  for (uint64_t s = kDeadFrom; s < kDeadTo; ++s) dead.insert(s);
  auto device = platform::FaultyDevice::Open(dir / "card.img", dead);
  ASSERT_TRUE(device);
  scan::ScanSettings settings;
  settings.source = device.get();
  settings.end = kSectors;
  settings.types = {{TypeNamed("bmp"), dir.path()}};
  RecordingReporter reporter;
  const base::RunEnd end = scan::RunScan(settings, reporter);
  EXPECT_EQ(end.outcome, base::RunOutcome::kEndOfDrive);
  EXPECT_EQ(end.unreadableSectors, kDeadTo - kDeadFrom);
  // 16 MiB of single-sector reads, and the copy's 2 MiB lead: not all 24 MiB.
  EXPECT_LT(device->ReadCalls(), (18u << 20) / 512 + 1000);
  ASSERT_EQ(reporter.files.size(), 1u);
  Bytes want(b.begin() + 8 * 512, b.begin() + 8 * 512 + kBitmap);
  std::fill(want.begin() + (kDeadFrom - 8) * 512, want.end(), 0);  // it ends in the dead area
  EXPECT_EQ(ReadFile(reporter.files[0].path), want);
}

}  // namespace
