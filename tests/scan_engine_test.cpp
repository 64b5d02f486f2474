// The scan engine driven through its settings and reporter alone, with no
// window: what it reports is what it did.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

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
  void OnEnd(const base::RunEnd& e) override {
    ends.push_back(e);
  }
  std::vector<base::Progress> progress;
  std::vector<base::FileRecord> files;
  std::vector<std::pair<base::Notice, std::string>> notices;
  std::vector<base::RunEnd> ends;
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

}  // namespace
