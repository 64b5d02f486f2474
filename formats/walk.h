// Structure walkers for photo and video files: each one reads a candidate file
// through a ByteView, checks its first structures and finds its true end.
// Pure code: no device, no file system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace formats {

// The bytes of a candidate file, from its first byte on (offset 0 = the sector where the signature matched).
class ByteView {
 public:
  virtual ~ByteView() = default;
  // Copies up to n bytes at `offset` into `out`; returns the count copied, short at the end of the
  // drive or at the first unreadable (hole) byte. A walker treats a short read of a header it needs
  // as the end of the structure.
  virtual size_t Read(uint64_t offset, void* out, size_t n) = 0;
};

// A ByteView over bytes in memory (tests and fuzzers); reads past the span are short.
class SpanView : public ByteView {
 public:
  explicit SpanView(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  size_t Read(uint64_t offset, void* out, size_t n) override;

 private:
  std::span<const uint8_t> bytes_;
};

// A capture time read from the file: either an instant (UTC seconds) or a camera's local wall-clock time.
struct CaptureTime {
  bool known = false;
  bool local = false;    // seconds hold the wall-clock time as if it were UTC (convert with the machine's zone)
  int64_t seconds = 0;   // seconds since 1970-01-01
};

// Which kind of file a walk found; an ISO-BMFF or TIFF walk says which type the file belongs to.
enum class Family { Picture, Raw, Still, Movie };

struct Walk {
  bool valid = false;          // the first structures check out
  uint64_t length = 0;         // the file's true end from its structure, never above `bound`
  const char* extension = "";  // "png", "mov", "cr2", ... chosen by brand / maker
  Family family = Family::Picture;
  CaptureTime captured;
};

// Byte bounds of the families: no file is longer.
inline constexpr uint64_t kVideoBound = 4294967296ull;       // 4 GiB
inline constexpr uint64_t kRawBound = 256ull * 1024 * 1024;  // 256 MiB
inline constexpr uint64_t kPictureBound = 64ull * 1024 * 1024;

// PNG: chunks walked to IEND; valid when the IHDR CRC matches; tIME gives the capture time (UTC).
Walk WalkPng(ByteView& view, uint64_t bound);
// GIF87a/89a: blocks walked to the trailer 3B; valid with a screen descriptor and a first block.
Walk WalkGif(ByteView& view, uint64_t bound);
// A TIFF that is not a camera RAW; the end is the furthest byte any IFD, strip or tile points to.
Walk WalkTiff(ByteView& view, uint64_t bound);
// A TIFF-based camera RAW (cr2 orf rw2 nef arw pef dng); maker-note IFDs and previews count too.
Walk WalkTiffRaw(ByteView& view, uint64_t bound);
// True when a TIFF-family file at the view's start is a camera RAW (by magic, Make or DNGVersion).
bool IsRaw(ByteView& view);
// ISO-BMFF: top-level boxes walked; family Still (heic, avif), Raw (cr3) or Movie (mp4 mov m4v
// 3gp m4a). The length is also kept within the family's own bound.
Walk WalkIsoBmff(ByteView& view, uint64_t bound);
// MPEG transport stream of 188-byte (.mts) or 192-byte (.m2ts) packets, at least 8 of them.
Walk WalkTransportStream(ByteView& view, uint64_t bound);
// Matroska / WebM: EBML header with DocType matroska or webm; the end at the Segment's size.
Walk WalkMatroska(ByteView& view, uint64_t bound);
// JPEG from FF D8 FF: markers walked by their lengths through the scan data to the closing EOI.
Walk WalkJpeg(ByteView& view, uint64_t bound);
// WebP: the RIFF chunk's size gives the end, its chunks walked; valid when the first chunk is a
// lossy, lossless or extended bitstream header; an EXIF chunk gives the capture time.
Walk WalkWebp(ByteView& view, uint64_t bound);
// Fujifilm RAF (a camera RAW): the end is the furthest of its JPEG preview, CFA header and CFA
// data, by the offsets in its header; the preview's EXIF gives the capture time.
Walk WalkRaf(ByteView& view, uint64_t bound);

// EXIF DateTimeOriginal (+ OffsetTimeOriginal) from a TIFF structure starting at `tiffStart`
// (a JPEG's APP1 after "Exif\0\0", or a TIFF file at 0).
CaptureTime ExifCaptureTime(ByteView& view, uint64_t tiffStart, uint64_t bound);

// The capture time of the EXIF segment among a JPEG's header segments (those before the first
// scan, walked by their lengths from offset 2), kept within `bound`.
CaptureTime JpegCaptureTime(ByteView& view, uint64_t bound);

}  // namespace formats
