// The structure walkers on real files made by real encoders (ImageMagick, ffmpeg, exiftool),
// followed by random filler or zeros, cut short, and on hostile lengths.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>

#include "formats/signatures.h"
#include "formats/walk.h"
#include "tests/support/fixtures.h"
#include "tests/support/run.h"

namespace {

using formats::Family;
using formats::SpanView;
using formats::Walk;
using testing_support::Bytes;

using Walker = Walk (*)(formats::ByteView&, uint64_t);

uint16_t Le16At(const Bytes& b, size_t at) { return uint16_t(b[at] | b[at + 1] << 8); }
uint32_t Le32At(const Bytes& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
void PutLe16(Bytes& b, uint16_t v) { b.push_back(uint8_t(v)); b.push_back(uint8_t(v >> 8)); }
void PutLe32(Bytes& b, uint32_t v) { PutLe16(b, uint16_t(v)); PutLe16(b, uint16_t(v >> 16)); }
void SetLe32(Bytes& b, size_t at, uint32_t v) {
  for (size_t i = 0; i < 4; ++i) b.at(at + i) = uint8_t(v >> (8 * i));
}
void PutBe32(Bytes& b, uint32_t v) {
  for (int i = 3; i >= 0; --i) b.push_back(uint8_t(v >> (8 * i)));
}
void Append(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }
void Append(Bytes& b, const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }

// One IFD entry of a little-endian TIFF: tag, type, count, value or offset.
struct TiffEntry {
  uint16_t tag, type;
  uint32_t count, value;
};
void PutIfd(Bytes& b, std::vector<TiffEntry> entries) {
  std::sort(entries.begin(), entries.end(), [](auto& x, auto& y) { return x.tag < y.tag; });
  PutLe16(b, uint16_t(entries.size()));
  for (const TiffEntry& e : entries) {
    PutLe16(b, e.tag);
    PutLe16(b, e.type);
    PutLe32(b, e.count);
    PutLe32(b, e.value);
  }
  PutLe32(b, 0);
}
std::vector<TiffEntry> IfdAt(const Bytes& b, size_t at) {
  std::vector<TiffEntry> out;
  for (uint16_t i = 0, n = Le16At(b, at); i < n; ++i) {
    const size_t e = at + 2 + 12 * i;
    out.push_back({Le16At(b, e), Le16At(b, e + 2), Le32At(b, e + 4), Le32At(b, e + 8)});
  }
  return out;
}

// A camera RAW of the TIFF family, built from an exiftool-tagged TIFF: IFD0 and the EXIF IFD
// moved to the end, the EXIF IFD given a maker note whose IFD points to a JPEG preview that is
// the file's last byte; then the family's magic set (CR2: "CR" at 8, ORF: IIRO, RW2: IIU\0).
// The maker note's own byte count covers its IFD only, so only the preview reaches the end.
Bytes MakeRaw(Bytes tif, const std::string& family, const Bytes& preview) {
  const std::vector<TiffEntry> ifd0 = IfdAt(tif, Le32At(tif, 4));
  auto exifPointer = std::find_if(ifd0.begin(), ifd0.end(), [](auto& e) { return e.tag == 0x8769; });
  std::vector<TiffEntry> exif = IfdAt(tif, exifPointer->value);
  const bool nikon = family == "nef";
  if (tif.size() % 2) tif.push_back(0);
  const uint32_t makerAt = uint32_t(tif.size());
  const uint32_t makerIfdSize = 2 + 2 * 12 + 4;
  const uint32_t makerSize = (nikon ? 18 : 0) + makerIfdSize;
  const uint32_t exifAt = makerAt + makerSize;
  const uint32_t ifd0At = exifAt + 2 + 12 * uint32_t(exif.size() + 1) + 4;
  const uint32_t previewAt = ifd0At + 2 + 12 * uint32_t(ifd0.size()) + 4;
  // The maker note: a plain IFD with offsets from the TIFF start, or a Nikon one with its own
  // TIFF header and offsets from that header.
  const uint32_t base = nikon ? makerAt + 10 : 0;
  if (nikon) {
    Append(tif, std::string("Nikon\0\x02\x10\0\0", 10));
    Append(tif, std::string("II*\0\x08\0\0\0", 8));
  }
  PutIfd(tif, {{0x0201, 4, 1, previewAt - base}, {0x0202, 4, 1, uint32_t(preview.size())}});
  exif.push_back({0x927C, 7, makerSize, makerAt});
  PutIfd(tif, exif);
  std::vector<TiffEntry> moved = ifd0;
  for (TiffEntry& e : moved)
    if (e.tag == 0x8769) e.value = exifAt;
  PutIfd(tif, moved);
  Append(tif, preview);
  SetLe32(tif, 4, ifd0At);
  if (family == "cr2") std::memcpy(tif.data() + 8, "CR\x02\0\0\0\0\0", 8);  // over the old IFD0
  if (family == "orf") std::memcpy(tif.data(), "IIRO", 4);
  if (family == "rw2") std::memcpy(tif.data(), "IIU\0", 4);
  return tif;
}

// A progressive JPEG that starts FF D8 FF DB: its APP segments dropped and, after the first
// quantisation table, a JFIF extension segment carrying a JPEG thumbnail (with its own EOI).
Bytes ProgressiveWithThumbnail(const Bytes& jpeg, const Bytes& thumb) {
  Bytes out = {0xFF, 0xD8};
  size_t pos = 2;
  bool thumbed = false;
  while (jpeg[pos] == 0xFF && jpeg[pos + 1] != 0xDA) {
    const size_t length = size_t(jpeg[pos + 2]) << 8 | jpeg[pos + 3];
    const uint8_t marker = jpeg[pos + 1];
    if (marker < 0xE0 || marker > 0xEF) out.insert(out.end(), jpeg.begin() + pos, jpeg.begin() + pos + 2 + length);
    if (marker == 0xDB && !thumbed) {
      const size_t segment = 2 + 6 + thumb.size();
      Append(out, Bytes{0xFF, 0xE0, uint8_t(segment >> 8), uint8_t(segment)});
      Append(out, std::string("JFXX\0\x10", 6));
      Append(out, thumb);
      thumbed = true;
    }
    pos += 2 + length;
  }
  out.insert(out.end(), jpeg.begin() + pos, jpeg.end());
  return out;
}

// The sample files, made once for the whole program.
class FormatsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new testing_support::TempDir();
    std::string output;
    ASSERT_TRUE(testing_support::Shell("bash " LUMISAVE_SOURCE_DIR "/tests/formats_samples.sh " +
                                           testing_support::Quote(dir_->path()) + " 2>&1",
                                       &output))
        << output;
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  static Bytes File(const std::string& name) {
    auto it = files_.find(name);
    if (it == files_.end()) it = files_.emplace(name, testing_support::ReadFile(*dir_ / name)).first;
    return it->second;
  }

  static testing_support::TempDir* dir_;
  static std::map<std::string, Bytes> files_;
};
testing_support::TempDir* FormatsTest::dir_ = nullptr;
std::map<std::string, Bytes> FormatsTest::files_;

// `file` laid at a sector start, then filler up to the next sector boundary and 16 sectors more.
Bytes Laid(const Bytes& file, bool random) {
  Bytes b = file;
  const size_t total = (file.size() + 511) / 512 * 512 + 16 * 512;
  std::mt19937 rng(uint32_t(file.size()));
  while (b.size() < total) b.push_back(random ? uint8_t(rng()) : 0);
  return b;
}

constexpr int64_t kNoTime = INT64_MIN;

struct Case {
  const char* name;
  Bytes file;           // the file the walk must find
  Walker walk;
  uint64_t bound;
  const char* extension;
  Family family;
  int64_t captured = kNoTime;  // seconds, when the file holds a capture time
  bool local = false;          // a wall-clock time (EXIF without a zone)
  uint64_t length = 0;         // the expected length when not the whole file
};

TEST_F(FormatsTest, EveryWalkerFindsTheTrueEndOfRealFiles) {
  const Bytes thumb = File("thumb.jpg");
  Bytes twoMovies = File("movie.mp4");
  Append(twoMovies, File("movie.mp4"));
  const int64_t movieTime = 1622542830;  // 2021-06-01 10:20:30 UTC

  std::vector<Case> cases = {
      {"png with tIME", File("picture.png"), formats::WalkPng, formats::kPictureBound, "png",
       Family::Picture, 1520139967},
      {"gif", File("picture.gif"), formats::WalkGif, formats::kPictureBound, "gif", Family::Picture},
      {"tiff with an EXIF time and zone", File("picture.tif"), formats::WalkTiff, formats::kPictureBound,
       "tif", Family::Picture, 1588741689},
      {"tiff from a camera maker is no RAW", File("raw-tif.tif"), formats::WalkTiff,
       formats::kPictureBound, "tif", Family::Picture, 1588741689},
      {"heic", File("picture.heic"), formats::WalkIsoBmff, formats::kVideoBound, "heic", Family::Still},
      {"heic with an EXIF item, no zone", File("exif.heic"), formats::WalkIsoBmff, formats::kVideoBound, "heic",
       Family::Still, 1657271411, true},
      {"avif", File("picture.avif"), formats::WalkIsoBmff, formats::kVideoBound, "avif", Family::Still},
      {"mp4", File("movie.mp4"), formats::WalkIsoBmff, formats::kVideoBound, "mp4", Family::Movie, movieTime},
      {"mov", File("movie.mov"), formats::WalkIsoBmff, formats::kVideoBound, "mov", Family::Movie, movieTime},
      {"m4v", File("movie.m4v"), formats::WalkIsoBmff, formats::kVideoBound, "m4v", Family::Movie, movieTime},
      {"3gp", File("movie.3gp"), formats::WalkIsoBmff, formats::kVideoBound, "3gp", Family::Movie, movieTime},
      {"m4a", File("sound.m4a"), formats::WalkIsoBmff, formats::kVideoBound, "m4a", Family::Movie, movieTime},
      {"two mp4s back to back: the first", twoMovies, formats::WalkIsoBmff, formats::kVideoBound, "mp4",
       Family::Movie, movieTime, false, File("movie.mp4").size()},
      {"mts", File("movie.mts"), formats::WalkTransportStream, formats::kVideoBound, "mts", Family::Movie},
      {"m2ts", File("movie.m2ts"), formats::WalkTransportStream, formats::kVideoBound, "m2ts",
       Family::Movie},
      {"mkv", File("movie.mkv"), formats::WalkMatroska, formats::kVideoBound, "mkv", Family::Movie,
       movieTime},
      {"webm", File("movie.webm"), formats::WalkMatroska, formats::kVideoBound, "webm", Family::Movie,
       movieTime},
      {"mkv of unknown size, written to a pipe", File("streamed.mkv"), formats::WalkMatroska,
       formats::kVideoBound, "mkv", Family::Movie},
      {"jpeg with EXIF time, no zone", File("exif.jpg"), formats::WalkJpeg, formats::kPictureBound, "jpg",
       Family::Picture, 1546398245, true},
      {"progressive jpeg from FF D8 FF DB with a thumbnail", ProgressiveWithThumbnail(File("progressive.jpg"), thumb),
       formats::WalkJpeg, formats::kPictureBound, "jpg", Family::Picture},
      {"webp, lossy", File("picture.webp"), formats::WalkWebp, formats::kPictureBound, "webp", Family::Picture},
      {"webp, lossless", File("lossless.webp"), formats::WalkWebp, formats::kPictureBound, "webp",
       Family::Picture},
      {"webp with an EXIF time, no zone", File("exif.webp"), formats::WalkWebp, formats::kPictureBound, "webp",
       Family::Picture, 1694344333, true},
      {"raf, its preview's EXIF time", File("picture.raf"), formats::WalkRaf, formats::kRawBound, "raf",
       Family::Raw, 1546398245, true},
  };
  for (const char* family : {"cr2", "orf", "rw2", "nef", "arw", "pef", "dng"}) {
    static std::vector<std::string> names;
    names.push_back(std::string("raw ") + family + ", ending with its maker-note preview");
    cases.push_back({names.back().c_str(), MakeRaw(File(std::string("raw-") + family + ".tif"), family, thumb),
                     formats::WalkTiffRaw, formats::kRawBound, family, Family::Raw, 1588741689});
  }

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_FALSE(c.file.empty());
    const uint64_t expected = c.length ? c.length : c.file.size();
    for (bool random : {true, false}) {
      SCOPED_TRACE(random ? "random filler" : "zeros after");
      const Bytes laid = Laid(c.file, random);
      SpanView view(laid);
      const Walk w = c.walk(view, c.bound);
      ASSERT_TRUE(w.valid);
      EXPECT_EQ(w.length, expected);
      EXPECT_STREQ(w.extension, c.extension);
      EXPECT_EQ(int(w.family), int(c.family));
      EXPECT_EQ(w.captured.known, c.captured != kNoTime);
      if (c.captured != kNoTime) {
        EXPECT_EQ(w.captured.seconds, c.captured);
        EXPECT_EQ(w.captured.local, c.local);
      }
      // The bound is never passed.
      SpanView again(laid);
      const Walk capped = c.walk(again, expected / 2);
      EXPECT_LE(capped.length, expected / 2);
    }
    // Cut short (the data ends inside the file): no file, or one that ends where the data does.
    for (uint64_t cut : {expected / 2, expected - 1}) {
      SpanView view(std::span<const uint8_t>(c.file.data(), size_t(cut)));
      const Walk w = c.walk(view, c.bound);
      if (w.valid) {
        EXPECT_EQ(w.length, cut) << "cut at " << cut;
      }
    }
  }
}

TEST_F(FormatsTest, EachTiffTypeLeavesTheOtherTypesFiles) {
  const Bytes dng = MakeRaw(File("raw-dng.tif"), "dng", File("thumb.jpg"));
  const Bytes plain = File("picture.tif");
  SpanView dngView(dng), plainView(plain);
  EXPECT_FALSE(formats::WalkTiff(dngView, formats::kPictureBound).valid);
  EXPECT_TRUE(formats::IsRaw(dngView));
  EXPECT_FALSE(formats::WalkTiffRaw(plainView, formats::kRawBound).valid);
  EXPECT_FALSE(formats::IsRaw(plainView));
}

TEST_F(FormatsTest, EverySampleMatchesItsSignatureRow) {
  const std::vector<std::pair<std::string, std::string>> samples = {
      {"picture.png", "png"}, {"picture.gif", "gif"},  {"picture.tif", "tiff"}, {"picture.heic", "heic"},
      {"movie.mp4", "heic"},  {"movie.mts", "video"},  {"movie.m2ts", "video"}, {"movie.mkv", "video"},
      {"exif.jpg", "jpegx"},  {"picture.webp", "webp"}, {"picture.raf", "raw"},
  };
  for (const auto& [name, type] : samples) {
    SCOPED_TRACE(name);
    const Bytes file = File(name);
    int matches = 0;
    for (const formats::Signature& s : formats::kSignatures) {
      if (!formats::Matches(s, file.data(), file.size())) continue;
      SpanView view(file);
      if (s.type == type && s.walk(view, s.bound).valid) ++matches;
    }
    EXPECT_EQ(matches, 1);
  }
}

// Hand-made files with hostile lengths: every walk ends cleanly, within its bound.
TEST(FormatsHostile, LengthsThatLoopOverflowOrPointAwayEndTheWalk) {
  Bytes tiffLoop = {'I', 'I', '*', 0, 8, 0, 0, 0};
  tiffLoop.resize(8);
  PutLe16(tiffLoop, 1);  // one entry, then a next-IFD offset pointing back at itself
  PutLe16(tiffLoop, 0x0100); PutLe16(tiffLoop, 3); PutLe32(tiffLoop, 1); PutLe32(tiffLoop, 16);
  PutLe32(tiffLoop, 8);
  Bytes tiffFar = tiffLoop;
  SetLe32(tiffFar, 22, 0xFFFFFFF0);  // the next IFD past the drive
  Bytes tiffBadType = tiffLoop;
  tiffBadType[12] = 99;

  auto box = [](const char* type, uint32_t size) {
    Bytes b;
    PutBe32(b, size);
    Append(b, std::string(type, 4));
    return b;
  };
  Bytes ftyp = box("ftyp", 16);
  Append(ftyp, std::string("isom\0\0\0\0", 8));
  Bytes huge = ftyp;
  Append(huge, box("mdat", 1));
  PutBe32(huge, 0xFFFFFFFF);
  PutBe32(huge, 0xFFFFFFF0);  // a 64-bit size that overflows any offset
  Bytes zero = ftyp;
  Append(zero, box("moov", 8));
  Append(zero, box("mdat", 0));
  Append(zero, Bytes(100, 0));
  Bytes tinyBox = ftyp;
  Append(tinyBox, box("moov", 8));
  Append(tinyBox, box("free", 4));  // smaller than its own header
  Bytes unknownBrand = box("ftyp", 16);
  Append(unknownBrand, std::string("zzzz\0\0\0\0", 8));
  Append(unknownBrand, box("moov", 8));
  Bytes ftypThenJunk = ftyp;
  Append(ftypThenJunk, box("abcd", 8));

  Bytes png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
  png.resize(33, 1);  // IHDR data and a CRC that does not match

  Bytes ebml = {0x1A, 0x45, 0xDF, 0xA3, 0x88, 0x42, 0x82, 0x85, 'o', 't', 'h', 'e', 'r'};

  // WebP: a lossless header, then chunks.
  auto webp = [&](uint32_t riffSize) {
    Bytes b;
    Append(b, std::string("RIFF"));
    PutLe32(b, riffSize);
    Append(b, std::string("WEBPVP8L"));
    PutLe32(b, 6);
    Append(b, Bytes{0x2F, 0, 0, 0, 0, 0});
    return b;
  };
  Bytes webpHuge = webp(0xFFFFFFFE);  // a RIFF size far past the data
  Append(webpHuge, std::string("EXIF"));
  PutLe32(webpHuge, 0xFFFFFFF0);  // and a chunk as long
  Bytes webpOdd = webp(27);     // chunks are padded to even sizes: an odd RIFF size is none
  Bytes webpBigFirst = webp(30);
  SetLe32(webpBigFirst, 16, 100);  // a first chunk longer than the RIFF chunk
  Bytes webpJunk = webp(40);
  Append(webpJunk, Bytes(20, 0x01));  // no chunk after the first: the file ends with it

  // RAF: the header with its three parts; the preview must start FF D8 FF.
  auto raf = [](uint32_t jpeg, uint32_t jpegLength, uint32_t cfa, uint32_t cfaLength) {
    Bytes b;
    Append(b, std::string("FUJIFILMCCD-RAW 0201FF129502"));
    b.resize(84, 0);
    for (uint32_t v : {jpeg, jpegLength, 0u, 0u, cfa, cfaLength}) PutBe32(b, v);
    b.resize(148, 0);
    Append(b, Bytes{0xFF, 0xD8, 0xFF, 0xD9});
    b.resize(160, 0);
    return b;
  };
  Bytes rafFar = raf(148, 4, 0xFFFFFF00, 0xFFFFFFFF);  // data claimed far past the drive
  Bytes rafInHeader = raf(148, 4, 16, 100);           // a part that lies in the header
  Bytes rafNoPreview = raf(152, 4, 156, 4);           // no JPEG where the preview should be

  struct Hostile {
    const char* name;
    Bytes bytes;
    Walker walk;
    bool valid;
    uint64_t length;
  };
  const std::vector<Hostile> cases = {
      {"an IFD chain that loops", tiffLoop, formats::WalkTiff, true, 26},
      {"a next IFD past the drive", tiffFar, formats::WalkTiff, true, 26},
      {"a first IFD of an unknown field type", tiffBadType, formats::WalkTiff, false, 0},
      {"a 64-bit box size that overflows: the data end", huge, formats::WalkIsoBmff, true, 32},
      {"a box of size 0 ends at the last known byte", zero, formats::WalkIsoBmff, true, 24},
      {"a box smaller than its header", tinyBox, formats::WalkIsoBmff, true, 24},
      {"an unknown brand", unknownBrand, formats::WalkIsoBmff, false, 0},
      {"ftyp not followed by moov, meta or mdat", ftypThenJunk, formats::WalkIsoBmff, false, 0},
      {"an IHDR whose CRC does not match", png, formats::WalkPng, false, 0},
      {"an EBML header of another DocType", ebml, formats::WalkMatroska, false, 0},
      {"a RIFF size and a chunk size past the drive: the data end", webpHuge, formats::WalkWebp, true,
       webpHuge.size()},
      {"an odd RIFF size", webpOdd, formats::WalkWebp, false, 0},
      {"a first chunk longer than the RIFF chunk", webpBigFirst, formats::WalkWebp, false, 0},
      {"bytes that are no chunk end the WebP after its last chunk", webpJunk, formats::WalkWebp, true, 26},
      {"RAF data claimed past the drive: the data end", rafFar, formats::WalkRaf, true, 160},
      {"a RAF part inside its header", rafInHeader, formats::WalkRaf, false, 0},
      {"a RAF whose preview is no JPEG", rafNoPreview, formats::WalkRaf, false, 0},
  };
  for (const Hostile& c : cases) {
    SCOPED_TRACE(c.name);
    SpanView view(c.bytes);
    const Walk w = c.walk(view, formats::kVideoBound);
    EXPECT_EQ(w.valid, c.valid);
    if (c.valid) {
      EXPECT_EQ(w.length, c.length);
    }
  }
}

}  // namespace
