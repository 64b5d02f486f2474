// Today's photo and video files recovered by a whole `recover --type photos`
// run: real files from real encoders, laid sector-aligned between random
// filler and zero gaps, come back byte for byte, each in its type's folder,
// with nothing else beside them.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <map>
#include <random>

#include "platform/device.h"
#include "scan/file_types.h"
#include "scan/scan_engine.h"
#include "tests/support/carve.h"
#include "tests/support/fault_device.h"
#include "tests/support/fixtures.h"
#include "tests/support/scripted_shell.h"
#include "tests/support/run.h"

namespace {

using testing_support::Bytes;
using testing_support::FilesIn;
using testing_support::ReadFile;
using testing_support::RunLumisave;
using testing_support::TempDir;

class PhotoVideoScan : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    samples_ = new TempDir();
    std::string output;
    ASSERT_TRUE(testing_support::Shell("bash " LUMISAVE_SOURCE_DIR "/tests/formats_samples.sh " +
                                           testing_support::Quote(samples_->path()) + " 2>&1",
                                       &output))
        << output;
  }
  static void TearDownTestSuite() {
    delete samples_;
    samples_ = nullptr;
  }
  static Bytes Sample(const std::string& name) { return ReadFile(*samples_ / name); }
  static TempDir* samples_;
};
TempDir* PhotoVideoScan::samples_ = nullptr;

// An image being laid out: random filler, zero gaps and files at sector starts.
class Card {
 public:
  void Filler(size_t sectors) {
    for (size_t i = 0; i < sectors * 512; ++i) bytes_.push_back(static_cast<uint8_t>(rng_()));
  }
  void Zeros(size_t sectors) { bytes_.resize(bytes_.size() + sectors * 512, 0); }
  // Lays `file` at the next sector start; returns that sector.
  uint64_t Lay(const Bytes& file, bool padRandom = true) {
    const uint64_t sector = bytes_.size() / 512;
    bytes_.insert(bytes_.end(), file.begin(), file.end());
    while (bytes_.size() % 512 != 0) {
      bytes_.push_back(padRandom ? static_cast<uint8_t>(rng_()) : 0);
    }
    return sector;
  }
  const Bytes& bytes() const { return bytes_; }

 private:
  Bytes bytes_;
  std::mt19937 rng_{7};
};

struct Expected {
  std::string path;  // below OUT
  Bytes bytes;
};

TEST_F(PhotoVideoScan, EveryFileComesBackWholeInItsFolderAndNothingElse) {
  struct Case {
    const char* sample;
    const char* folder;
    const char* extension;
  } cases[] = {
      {"picture.png", "PNG", "png"},    {"picture.gif", "GIF", "gif"},
      {"picture.tif", "TIFF", "tif"},   {"picture.heic", "HEIC", "heic"},
      {"picture.avif", "HEIC", "avif"}, {"movie.mp4", "VIDEO", "mp4"},
      {"movie.mp4", "VIDEO", "mp4"},  // the same movie again, right behind the first
      {"movie.mov", "VIDEO", "mov"},    {"movie.3gp", "VIDEO", "3gp"},
      {"sound.m4a", "VIDEO", "m4a"},    {"movie.mts", "VIDEO", "mts"},
      {"movie.m2ts", "VIDEO", "m2ts"},  {"movie.mkv", "VIDEO", "mkv"},
      {"movie.webm", "VIDEO", "webm"},  {"picture.webp", "WEBP", "webp"},
      {"exif.webp", "WEBP", "webp"},    {"lossless.webp", "WEBP", "webp"},
      {"picture.raf", "RAW", "raf"},
  };
  Card card;
  card.Filler(16);
  std::vector<Expected> expected;
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.sample);
    const bool backToBack = i > 0 && std::string(c.sample) == cases[i - 1].sample;
    if (!backToBack) (i % 2 == 0) ? card.Zeros(3) : card.Filler(3);
    const Bytes file = Sample(c.sample);
    ASSERT_FALSE(file.empty());
    // Back to back: the second movie starts where the first one's last sector ends.
    const uint64_t sector = card.Lay(file, !backToBack);
    expected.push_back({std::string(c.folder) + "/" + std::to_string(sector) + "." + c.extension, file});
  }
  card.Filler(16);
  // A PNG cut short by the end of the card: no file, or one that ends where the data ends.
  const Bytes whole = Sample("picture.png");
  const Bytes png(whole.begin(), whole.begin() + static_cast<long>(whole.size() / 2));
  const uint64_t cut = card.Lay(png, false);

  TempDir dir;
  testing_support::WriteFile(dir / "card.img", card.bytes());
  auto r = RunLumisave({"recover", "--source", dir / "card.img", "--out", dir / "out", "--type",
                        "photos", "--yes"});
  ASSERT_EQ(r.status, 0) << r.err;

  std::map<std::string, bool> found;
  for (const Expected& e : expected) {
    SCOPED_TRACE(e.path);
    EXPECT_EQ(ReadFile(dir / ("out/" + e.path)), e.bytes);
    found[e.path] = true;
  }
  for (const char* folder : {"PNG", "GIF", "TIFF", "HEIC", "VIDEO", "RAW", "JPEGX", "WEBP"}) {
    for (const std::string& name : FilesIn(dir / ("out/" + std::string(folder)))) {
      const std::string path = std::string(folder) + "/" + name;
      if (found.count(path) != 0) continue;
      // Only the cut PNG may be there besides the expected files: the card's
      // bytes from its sector on, never longer than the whole picture.
      EXPECT_EQ(path, "PNG/" + std::to_string(cut) + ".png");
      const Bytes got = ReadFile(dir / ("out/" + path));
      EXPECT_LE(got.size(), whole.size());
      EXPECT_EQ(got, Bytes(card.bytes().begin() + static_cast<long>(cut * 512),
                           card.bytes().begin() + static_cast<long>(cut * 512 + got.size())));
    }
  }
}

TEST_F(PhotoVideoScan, RandomDataAndPlainPhotosGiveTheNewTypesNothing) {
  Card card;
  card.Filler(4096);
  // A camera's JPEG is the existing rows' file, not a JPEGX one.
  card.Lay(Sample("exif.jpg"));
  card.Filler(64);
  TempDir dir;
  testing_support::WriteFile(dir / "card.img", card.bytes());
  auto r = RunLumisave({"recover", "--source", dir / "card.img", "--out", dir / "out", "--type",
                        "photos", "--yes"});
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* folder : {"PNG", "GIF", "TIFF", "HEIC", "VIDEO", "RAW", "JPEGX", "WEBP"}) {
    EXPECT_EQ(FilesIn(dir / ("out/" + std::string(folder))), std::vector<std::string>{}) << folder;
  }
}

// The types offered only some first bytes: a real file of the type is taken
// with its own first byte, and refused by the carver with every first byte
// the scan's filter leaves out, so the filter hides no file.
TEST_F(PhotoVideoScan, TheFirstByteFilterHidesNoPictureOrVideo) {
  const struct {
    const char* type;
    const char* sample;
  } cases[] = {
      {"tiff", "picture.tif"}, {"raw", "raw-nef.tif"}, {"heic", "picture.heic"},
      {"video", "movie.mp4"},  {"video", "movie.m2ts"}, {"png", "picture.png"},
      {"raw", "picture.raf"},  {"webp", "picture.webp"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sample);
    const int index = scan::FindType(c.type);
    ASSERT_GE(index, 0);
    const scan::FirstByteFilter filter =
        scan::BuildFirstByteFilter({{scan::FileTypes()[static_cast<size_t>(index)].type, ""}});
    Bytes file = Sample(c.sample);
    ASSERT_FALSE(file.empty());
    file.resize((file.size() + 511) / 512 * 512, 0);
    TempDir dir;
    testing_support::WriteFile(dir / "image", file);
    std::filesystem::create_directories(dir / "out");
    auto device = platform::OpenPath(dir / "image", platform::Access::kRead);
    ASSERT_TRUE(device);
    testing_support::ScriptedShell shell;
    const carvers::CarveFn carve = scan::FileTypes()[static_cast<size_t>(index)].type->carve;
    EXPECT_TRUE(filter[file[0]] & 1u);
    EXPECT_EQ(testing_support::Carve(carve, 0, *device, {file.data(), file.size()}, dir / "out", shell), 1);
    const uint8_t own = file[0];
    for (int b = 0; b < 256; ++b) {
      if (filter[b] & 1u) continue;
      file[0] = static_cast<uint8_t>(b);
      EXPECT_EQ(testing_support::Carve(carve, 0, *device, {file.data(), file.size()}, dir / "out", shell), 0) << b;
    }
    file[0] = own;
    EXPECT_TRUE(shell.boxes.empty());
  }
}

// A stream whose first packets lie on the last sector of a scan chunk is
// checked there only as far as the chunk goes, and found.
TEST_F(PhotoVideoScan, AStreamStartingOnAChunksLastSectorIsFound) {
  Card card;
  card.Filler(511);
  const Bytes m2ts = Sample("movie.m2ts");
  const uint64_t first = card.Lay(m2ts);
  card.Filler(1023 - card.bytes().size() / 512);
  const Bytes mts = Sample("movie.mts");
  const uint64_t second = card.Lay(mts);
  card.Filler(16);
  ASSERT_EQ(first, 511u);
  ASSERT_EQ(second, 1023u);
  TempDir dir;
  testing_support::WriteFile(dir / "card.img", card.bytes());
  auto r = RunLumisave({"recover", "--source", dir / "card.img", "--out", dir / "out", "--type",
                        "video", "--yes"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(dir / "out/VIDEO/511.m2ts"), m2ts);
  EXPECT_EQ(ReadFile(dir / "out/VIDEO/1023.mts"), mts);
}

// An unreadable sector inside a movie's media data: the movie keeps its
// length, with 512 zero bytes where the sector was, and says so in its runs.
TEST_F(PhotoVideoScan, AnUnreadableSectorInAMovieIsAHole) {
  Card card;
  card.Filler(16);
  const Bytes movie = Sample("movie.mkv");
  const uint64_t first = card.Lay(movie);
  card.Filler(16);
  const uint64_t bad = first + movie.size() / 512 / 2;
  TempDir dir;
  testing_support::WriteFile(dir / "card.img", card.bytes());
  auto device = platform::FaultyDevice::Open(dir / "card.img", {bad});
  ASSERT_TRUE(device);
  scan::ScanSettings settings;
  settings.source = device.get();
  settings.end = card.bytes().size() / 512;
  settings.types = {{scan::FileTypes()[static_cast<size_t>(scan::FindType("video"))].type,
                     dir.path()}};
  base::Reporter none;
  scan::RunScan(settings, none);
  Bytes want = movie;
  std::fill(want.begin() + static_cast<long>((bad - first) * 512),
            want.begin() + static_cast<long>((bad - first + 1) * 512), 0);
  EXPECT_EQ(ReadFile(dir / (std::to_string(first) + ".mkv")), want);
}

// Seconds since 1970 of a camera's wall-clock time, taken as the machine's local time.
int64_t LocalSeconds(int year, int month, int day, int hour, int minute, int second) {
  std::tm parts{};
  parts.tm_year = year - 1900;
  parts.tm_mon = month - 1;
  parts.tm_mday = day;
  parts.tm_hour = hour;
  parts.tm_min = minute;
  parts.tm_sec = second;
  parts.tm_isdst = -1;
  return static_cast<int64_t>(std::mktime(&parts));
}

int64_t ModifiedSeconds(const std::filesystem::path& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_mtime);
}

// The existing JPEG rows' files get their EXIF capture time too, and a HEIC
// its Exif item's; the bytes are those of the rows without it.
TEST_F(PhotoVideoScan, PicturesAndVideosGetTheirCaptureTimeAsModificationTime) {
  struct Case {
    const char* sample;
    const char* folder;
    const char* extension;
    int64_t captured;
  } cases[] = {
      {"camera.jpg", "JPEG", "jpg", LocalSeconds(2019, 1, 2, 3, 4, 5)},   // FF D8 FF E1
      {"exif.jpg", "JPEG0", "jpg", LocalSeconds(2019, 1, 2, 3, 4, 5)},    // JFIF, then EXIF
      {"exif.heic", "HEIC", "heic", LocalSeconds(2022, 7, 8, 9, 10, 11)},
      {"movie.mp4", "VIDEO", "mp4", 1622542830},  // 2021-06-01 10:20:30 UTC
      {"picture.png", "PNG", "png", 1520139967},
      {"picture.gif", "GIF", "gif", -1},  // no capture time: the time of recovery
  };
  Card card;
  std::vector<std::string> paths;
  for (const Case& c : cases) {
    card.Filler(5);
    const Bytes file = Sample(c.sample);
    ASSERT_FALSE(file.empty()) << c.sample;
    const uint64_t sector = card.Lay(file);
    paths.push_back(std::string(c.folder) + "/" + std::to_string(sector) + "." + c.extension);
  }
  card.Filler(600);  // past the JPEG rows' passes
  TempDir dir;
  testing_support::WriteFile(dir / "card.img", card.bytes());
  const int64_t before = static_cast<int64_t>(std::time(nullptr));
  auto r = RunLumisave({"recover", "--source", dir / "card.img", "--out", dir / "out", "--type",
                        "photos", "--yes"});
  ASSERT_EQ(r.status, 0) << r.err;
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(paths[i]);
    const int64_t modified = ModifiedSeconds(dir / ("out/" + paths[i]));
    ASSERT_NE(modified, -1);
    if (cases[i].captured >= 0) {
      EXPECT_EQ(modified, cases[i].captured);
    } else {
      EXPECT_GE(modified, before);
    }
  }
}

TEST(PhotoVideoTypes, WithoutTypeARecoveryMakesNoNewFolders) {
  TempDir dir;
  testing_support::WriteFile(dir / "card.img", Bytes(64 * 512, 0));
  auto r = RunLumisave({"recover", "--source", dir / "card.img", "--out", dir / "out", "--yes"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> folders;
  for (const auto& e : std::filesystem::directory_iterator(dir / "out")) {
    folders.push_back(e.path().filename());
  }
  std::sort(folders.begin(), folders.end());
  EXPECT_EQ(folders, (std::vector<std::string>{"JPEG", "JPEG0", "report.xml"}));
}

}  // namespace
