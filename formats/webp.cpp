#include <algorithm>

#include "formats/reader.h"

namespace formats {
namespace {

using namespace detail;

// A chunk's four-character code: letters, digits and spaces ("VP8 ", "EXIF", "ALPH").
bool IsFourCc(const uint8_t* p) {
  for (int i = 0; i < 4; ++i) {
    const uint8_t c = p[i];
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' '))
      return false;
  }
  return true;
}

// Whether the first chunk's data starts as its kind of bitstream does: a lossy key frame
// (its start code 9D 01 2A after the 3-byte frame tag), a lossless stream (signature 2F), or
// the extended header (10 bytes).
bool FirstChunkChecksOut(const uint8_t* head, uint32_t size) {
  const uint8_t* data = head + 20;
  if (std::memcmp(head + 12, "VP8 ", 4) == 0)
    return size >= 10 && (data[0] & 1) == 0 && data[3] == 0x9D && data[4] == 0x01 && data[5] == 0x2A;
  if (std::memcmp(head + 12, "VP8L", 4) == 0) return size >= 5 && data[0] == 0x2F;
  if (std::memcmp(head + 12, "VP8X", 4) == 0) return size >= 10;
  return false;
}

}  // namespace

Walk WalkWebp(ByteView& view, uint64_t bound) {
  Walk walk;
  walk.extension = "webp";
  // RIFF header, form type WEBP, the first chunk's header and the first bytes of its data.
  uint8_t head[26];
  if (!ReadExact(view, 0, head, sizeof head)) return walk;
  if (std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WEBP", 4) != 0) return walk;
  const uint64_t total = uint64_t(Le32(head + 4)) + 8;  // the RIFF chunk: header and data
  const uint32_t firstSize = Le32(head + 16);
  // Chunks are padded to an even size, so the RIFF size is even; the first chunk fits in it.
  if (total % 2 != 0 || uint64_t(firstSize) + 20 > total) return walk;
  if (!FirstChunkChecksOut(head, firstSize)) return walk;
  walk.valid = true;

  uint64_t pos = 12;  // the next chunk header
  uint64_t end = 12;  // the end of the last whole chunk
  while (pos < total) {
    if (pos >= bound) { end = bound; break; }
    uint8_t chunk[8];
    if (!ReadExact(view, pos, chunk, 8)) {
      end = total;  // the data ends: so does the file (cut back to the readable data below)
      break;
    }
    if (!IsFourCc(chunk)) break;  // not a chunk: the file ends with the last whole one
    const uint32_t size = Le32(chunk + 4);
    const uint64_t next = pos + 8 + size + (size & 1);  // no overflow: pos < 2^32 + 8
    if (next > total) {
      end = total;  // a chunk the RIFF size cuts: the RIFF size says where the file ends
      break;
    }
    if (std::memcmp(chunk, "EXIF", 4) == 0 && !walk.captured.known) {
      // The TIFF structure, after an "Exif\0\0" prefix where a writer put one.
      uint8_t prefix[6];
      const uint64_t tiff =
          ReadExact(view, pos + 8, prefix, 6) && std::memcmp(prefix, "Exif\0\0", 6) == 0 ? pos + 14 : pos + 8;
      walk.captured = ExifCaptureTime(view, tiff, std::min(next, bound));
    }
    end = next;
    pos = next;
  }
  walk.length = FinalLength(view, end, bound, sizeof head);
  return walk;
}

}  // namespace formats
