#include <algorithm>

#include "formats/reader.h"

namespace formats {
namespace {

using namespace detail;

bool IsFrame(int m) { return m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC; }

// The offset of the marker that ends entropy-coded data starting at `pos` (an FF followed by
// neither 00, a restart marker nor another FF), or `bound` when none comes before it; sets
// *cut when the data runs out first.
uint64_t EndOfScan(Cursor& cur, uint64_t pos, uint64_t bound, bool* cut) {
  while (pos < bound) {
    size_t n;
    const uint8_t* p = cur.Span(pos, &n);
    if (!p) { *cut = true; return pos; }
    if (n > bound - pos) n = size_t(bound - pos);
    const void* ff = std::memchr(p, 0xFF, n);
    if (!ff) { pos += n; continue; }
    pos += uint64_t(static_cast<const uint8_t*>(ff) - p);
    const int next = cur.Byte(pos + 1);
    if (next < 0) { *cut = true; return pos + 1; }
    if (next == 0x00 || (next >= 0xD0 && next <= 0xD7)) { pos += 2; continue; }
    if (next == 0xFF) { pos += 1; continue; }  // fill bytes before a marker
    return pos;
  }
  return bound;
}

}  // namespace

Walk WalkJpeg(ByteView& view, uint64_t bound) {
  Walk walk;
  walk.extension = "jpg";
  uint8_t head[6];
  if (!ReadExact(view, 0, head, 6) || head[0] != 0xFF || head[1] != 0xD8 || head[2] != 0xFF) return walk;
  if (head[3] < 0xC0 || head[3] == 0xD8 || head[3] == 0xD9 || (head[3] >= 0xD0 && head[3] <= 0xD7) ||
      Be16(head + 4) < 2)
    return walk;  // the first marker must open a segment

  Cursor cur(view);
  bool frame = false, scan = false;
  uint64_t pos = 2;
  uint64_t end = 0;  // where the file ends once the walk stops
  bool cut = false;
  for (;;) {
    if (pos >= bound) { end = bound; break; }
    if (cur.Byte(pos) != 0xFF) { end = pos; break; }
    int m = cur.Byte(pos + 1);
    while (m == 0xFF && pos < bound) m = cur.Byte(++pos + 1);  // fill bytes
    if (pos >= bound) { end = bound; break; }
    if (m < 0) { end = pos; cut = true; break; }
    if (m == 0xD9) { end = pos + 2; break; }
    if ((m >= 0xD0 && m <= 0xD7) || m == 0x01) { pos += 2; continue; }  // markers without a length
    if (m < 0xC0 || m == 0xD8) { end = pos; break; }  // no marker: the data is damaged here
    uint8_t l[2];
    if (!cur.Get(pos + 2, l, 2)) { end = pos; cut = true; break; }
    const uint16_t length = Be16(l);
    if (length < 2) { end = pos; break; }
    if (IsFrame(m)) frame = true;
    if (m == 0xE1 && !walk.captured.known && length >= 16) {
      uint8_t id[6];
      if (cur.Get(pos + 4, id, 6) && std::memcmp(id, "Exif\0\0", 6) == 0)
        walk.captured = ExifCaptureTime(view, pos + 10, std::min(pos + 2 + length, bound));
    }
    pos += 2 + uint64_t(length);
    if (m == 0xDA) {
      scan = true;
      pos = EndOfScan(cur, pos, bound, &cut);
      if (cut) { end = pos; break; }
    }
  }
  if (!frame || !scan) return walk;  // no picture: a frame header and a scan are needed
  walk.valid = true;
  walk.length = FinalLength(view, cut ? bound : end, bound, 6);
  return walk;
}

CaptureTime JpegCaptureTime(ByteView& view, uint64_t bound) {
  uint64_t pos = 2;
  for (int i = 0; i < 256 && pos < bound; ++i) {
    uint8_t h[10];
    if (!ReadExact(view, pos, h, 4) || h[0] != 0xFF) return {};
    const int m = h[1];
    if (m == 0xDA || m == 0xD9 || m < 0xC0 || m == 0xD8 || (m >= 0xD0 && m <= 0xD7)) return {};
    const uint16_t length = Be16(h + 2);
    if (length < 2) return {};
    if (m == 0xE1 && length >= 16 && ReadExact(view, pos + 4, h, 6) && std::memcmp(h, "Exif\0\0", 6) == 0)
      return ExifCaptureTime(view, pos + 10, std::min(pos + 2 + length, bound));
    pos += 2 + uint64_t(length);
  }
  return {};
}

}  // namespace formats
