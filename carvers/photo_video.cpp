#include "carvers/photo_video.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <utility>

#include "base/numbers.h"
#include "formats/signatures.h"
#include "formats/walk.h"

namespace carvers {
namespace {

constexpr uint64_t kSector = platform::kSectorSize;

// The drive from a file's first sector on, as the walkers read it: a window
// of one chunk is read at a time (sector-aligned), and a window that cannot
// be read whole is read sector by sector up to its first unreadable sector,
// where the view's bytes end.
class DriveView : public formats::ByteView {
 public:
  DriveView(SourceReader& source, uint64_t sector, SectorBytes bytes)
      : source_(source), origin_(sector * kSector), first_(bytes) {}

  size_t Read(uint64_t offset, void* out, size_t n) override {
    auto* dest = static_cast<uint8_t*>(out);
    size_t done = 0;
    while (done < n) {
      const uint64_t at = offset + done;
      if (at < offset) break;  // wrapped
      size_t got = Copy(at, dest + done, n - done);
      if (got == 0) break;
      done += got;
    }
    return done;
  }

 private:
  // Copies what one window holds from `at` on.
  size_t Copy(uint64_t at, uint8_t* dest, size_t n) {
    if (at < first_.available) {
      const size_t take = static_cast<size_t>(std::min<uint64_t>(n, first_.available - at));
      std::memcpy(dest, first_.data + at, take);
      return take;
    }
    if (!Load(at)) return 0;
    if (at >= windowStart_ + windowLength_) return 0;
    const uint64_t inWindow = at - windowStart_;
    const size_t take = static_cast<size_t>(std::min<uint64_t>(n, windowLength_ - inWindow));
    std::memcpy(dest, window_.get() + inWindow, take);
    return take;
  }

  // Makes the window hold the bytes at `at`, when they can be read.
  bool Load(uint64_t at) {
    if (window_ && at >= windowStart_ && at < windowStart_ + windowLength_) return true;
    if (!window_) window_ = base::MakeAlignedBuffer(kChunkBytes);
    if (!window_) return false;
    const uint64_t start = at / kSector * kSector;
    if (origin_ + start < origin_) return false;
    windowStart_ = start;
    windowLength_ = 0;
    uint32_t got = 0;
    if (source_.ReadAt(origin_ + start, window_.get(), kChunkBytes, &got)) {
      windowLength_ = got;
      return got > 0;
    }
    // Sector by sector, up to the first that cannot be read.
    for (uint32_t i = 0; i < kChunkSectors; ++i) {
      uint32_t one = 0;
      if (!source_.ReadAt(origin_ + start + i * kSector, window_.get() + i * kSector, kSector,
                          &one)) {
        break;
      }
      windowLength_ += one;
      if (one < kSector) break;
    }
    return windowLength_ > 0;
  }

  SourceReader& source_;
  uint64_t origin_;
  SectorBytes first_;
  base::AlignedBuffer window_;
  uint64_t windowStart_ = 0;
  uint64_t windowLength_ = 0;
};

// A copy of exactly a walk's length, which then gets the capture time as its
// modification time when the file holds one.
class ExactLength : public CopyRules {
 public:
  explicit ExactLength(const formats::Walk& walk)
      : left_(walk.length), captured_(walk.captured.known),
        seconds_(captured_ ? CaptureSeconds(walk.captured) : 0) {}
  uint32_t EndOfPass(uint8_t* buffer, uint32_t count, uint64_t& remaining) override {
    (void)buffer;
    const uint32_t take = static_cast<uint32_t>(std::min<uint64_t>(count, left_));
    left_ -= take;
    if (left_ == 0) remaining = 0;
    return take;
  }
  std::string AfterClose(const std::string& path, FileSink& sink) override {
    if (captured_) sink.SetModified(path, seconds_);
    return path;
  }
  std::unique_ptr<CopyRules> Keep() const override { return std::make_unique<ExactLength>(*this); }

 private:
  uint64_t left_;
  bool captured_;
  int64_t seconds_;
};

// Copies exactly the walk's length from `sector` on into SECTOR.ext ("0.ext"
// at sector 0), as every copy does: an unreadable sector is a hole of zeros,
// the drive's end ends the file. Returns: as CopyOut.
int CopyExact(uint64_t sector, CarveContext& context, const std::string& folder,
              const formats::Walk& walk) {
  const std::string name = (sector == 0 ? std::string("0") : base::FormatDecimal(sector));
  ExactLength rules(walk);
  return CopyOutTo(sector, context, folder, folder + "/" + name + "." + walk.extension,
                   SectorsFor(walk.length), rules);
}

bool IsStill(const formats::Walk& w) { return w.family == formats::Family::Still; }
bool IsRawFile(const formats::Walk& w) { return w.family == formats::Family::Raw; }
bool IsMovie(const formats::Walk& w) { return w.family == formats::Family::Movie; }
bool IsPicture(const formats::Walk& w) { return w.family == formats::Family::Picture; }

// Whether the sector can start a transport stream: a stream needs 8 packets
// of 188 bytes with the sync byte 47 first, or of 192 bytes with it at 4.
// Only the bytes in the caller's buffer are looked at; the walk checks the
// rest. Random bytes pass the signature's two sync bytes once in 32768
// sectors, and a walk then reads ahead on the drive.
bool MayBeStream(SectorBytes b) {
  for (const auto& [size, sync] : {std::pair<size_t, size_t>{188, 0}, {192, 4}}) {
    bool all = true;
    for (size_t k = 0; k < 8 && all; ++k) {
      const size_t at = sync + k * size;
      all = at >= b.available || b.data[at] == 0x47;
    }
    if (all) return true;
  }
  return false;
}

// Walks the file at `sector` with every signature row of `type` that the
// sector matches, and copies the first valid walk whose family `accept` takes.
// ISO-BMFF rows serve the still, RAW and movie types alike.
int CarveFamily(const char* type, bool (*accept)(const formats::Walk&), uint64_t sector,
                SectorBytes bytes, const std::string& folder, CarveContext& context) {
  const bool takesIsoBmff = accept == IsStill || accept == IsRawFile || accept == IsMovie;
  for (const formats::Signature& s : formats::kSignatures) {
    const bool isoBmff = s.walk == formats::WalkIsoBmff;
    if (std::strcmp(s.type, type) != 0 && !(isoBmff && takesIsoBmff)) continue;
    if (!formats::Matches(s, bytes.data, bytes.available)) continue;
    if (s.walk == formats::WalkTransportStream && !MayBeStream(bytes)) continue;
    DriveView view(context.source, sector, bytes);
    formats::Walk walk = s.walk(view, s.bound);
    if (!walk.valid || walk.length == 0) continue;
    if (accept != nullptr && !accept(walk)) continue;
    if (s.walk == formats::WalkTransportStream) {
      if (sector < context.streamEnd) return 0;
      context.streamEnd = sector + (walk.length + kSector - 1) / kSector;
    }
    return CopyExact(sector, context, folder, walk);
  }
  return 0;
}

int CarvePng(uint64_t sector, SectorBytes bytes, const std::string& folder, CarveContext& c) {
  return CarveFamily("png", nullptr, sector, bytes, folder, c);
}
int CarveGif(uint64_t sector, SectorBytes bytes, const std::string& folder, CarveContext& c) {
  return CarveFamily("gif", nullptr, sector, bytes, folder, c);
}
// Quick refusals for the types offered every sector: a TIFF starts II or MM,
// an ISO-BMFF file has "ftyp" at offset 4, a transport stream its sync byte
// at 0 (or 4, after an M2TS time stamp), a Matroska file 1A 45 DF A3.
bool HasFtyp(SectorBytes b) { return std::memcmp(b.data + 4, "ftyp", 4) == 0; }
bool MayBeTiff(SectorBytes b) {
  return (b.data[0] == 'I' && b.data[1] == 'I') || (b.data[0] == 'M' && b.data[1] == 'M');
}

int CarveTiff(uint64_t sector, SectorBytes bytes, const std::string& folder, CarveContext& c) {
  if (!MayBeTiff(bytes)) return 0;
  return CarveFamily("tiff", IsPicture, sector, bytes, folder, c);
}
int CarveRaw(uint64_t sector, SectorBytes bytes, const std::string& folder, CarveContext& c) {
  if (!MayBeTiff(bytes) && !HasFtyp(bytes) && bytes.data[0] != 'F') return 0;
  return CarveFamily("raw", IsRawFile, sector, bytes, folder, c);
}
int CarveHeic(uint64_t sector, SectorBytes bytes, const std::string& folder, CarveContext& c) {
  if (!HasFtyp(bytes)) return 0;
  return CarveFamily("heic", IsStill, sector, bytes, folder, c);
}
int CarveVideo(uint64_t sector, SectorBytes bytes, const std::string& folder, CarveContext& c) {
  if (bytes.data[0] != 0x47 && bytes.data[4] != 0x47 && bytes.data[0] != 0x1A && !HasFtyp(bytes)) {
    return 0;
  }
  return CarveFamily("video", IsMovie, sector, bytes, folder, c);
}
int CarveJpegx(uint64_t sector, SectorBytes bytes, const std::string& folder, CarveContext& c) {
  // The EXIF and JFIF forms (E1, E0) are the picture rows' own.
  if (bytes.data[3] == 0xE0 || bytes.data[3] == 0xE1) return 0;
  return CarveFamily("jpegx", nullptr, sector, bytes, folder, c);
}
int CarveWebp(uint64_t sector, SectorBytes bytes, const std::string& folder, CarveContext& c) {
  return CarveFamily("webp", nullptr, sector, bytes, folder, c);
}

}  // namespace

int64_t CaptureSeconds(const formats::CaptureTime& t) {
  if (!t.local) return t.seconds;
  std::time_t asUtc = static_cast<std::time_t>(t.seconds);
  std::tm parts{};
  if (gmtime_r(&asUtc, &parts) == nullptr) return t.seconds;
  parts.tm_isdst = -1;
  const std::time_t local = std::mktime(&parts);
  return local == static_cast<std::time_t>(-1) ? t.seconds : static_cast<int64_t>(local);
}

// ISO-BMFF files ("ftyp" at offset 4) and transport streams are told apart
// by their walk, so their types are offered every sector whose first byte
// can start them: a TIFF starts I or M; an ISO-BMFF file starts with its
// ftyp box's size, which the walk takes only up to 1024, so with 00; a
// Fujifilm RAW starts F. A transport stream of 192-byte packets starts with
// a time stamp (any byte).
const FileType kPngType = {"png", "PNG pictures (.png), up to their IEND chunk", "PNG",
                           FolderRule::kInside, nullptr, 0x89, CarvePng, false, true};
const FileType kGifType = {"gif", "GIF pictures (.gif), up to their trailer", "GIF",
                           FolderRule::kInside, nullptr, 'G', CarveGif, false, true};
namespace {
bool TiffStart(int b) { return b == 'I' || b == 'M'; }
bool RawStart(int b) { return b == 'I' || b == 'M' || b == 0x00 || b == 'F'; }
bool IsoBmffStart(int b) { return b == 0x00; }
}  // namespace

const FileType kTiffType = {"tiff", "TIFF pictures that are no camera RAW (.tif)", "TIFF",
                            FolderRule::kInside, nullptr, -1, CarveTiff, false, true, TiffStart};
const FileType kRawType = {
    "raw", "camera RAW pictures (.cr2 .cr3 .nef .arw .orf .rw2 .pef .dng .raf, by maker)", "RAW",
    FolderRule::kInside, nullptr, -1, CarveRaw, false, true, RawStart};
const FileType kHeicType = {"heic", "HEIC and AVIF pictures of phones (.heic .avif)", "HEIC",
                            FolderRule::kInside, nullptr, -1, CarveHeic, false, true,
                            IsoBmffStart};
const FileType kVideoType = {
    "video", "videos (.mp4 .mov .m4v .3gp .m4a .mts .m2ts .mkv .webm)", "VIDEO",
    FolderRule::kInside, nullptr, -1, CarveVideo, false, true};
const FileType kJpegxType = {"jpegx", "JPEG pictures of other forms than EXIF and JFIF (.jpg)",
                             "JPEGX", FolderRule::kInside, nullptr, 0xFF, CarveJpegx, false, true};
// Other RIFF files are the avi type's; both take a WebP file when both are asked for.
const FileType kWebpType = {"webp", "WebP pictures (.webp), to the end their RIFF header gives",
                            "WEBP", FolderRule::kInside, nullptr, 'R', CarveWebp, false, true};

}  // namespace carvers
