#include "formats/reader.h"

namespace formats {
namespace {

using namespace detail;

// Skips a chain of data sub-blocks starting at `pos`; the offset after its zero terminator,
// `bound` when it runs past it, or 0 when a length byte cannot be read.
uint64_t SkipSubBlocks(Cursor& cur, uint64_t pos, uint64_t bound) {
  for (;;) {
    if (pos >= bound) return bound;
    const int n = cur.Byte(pos);
    if (n < 0) return 0;
    pos += 1 + uint64_t(n);
    if (n == 0) return pos;
  }
}

uint64_t ColorTableSize(uint8_t packed) {
  return (packed & 0x80) ? 3ull << ((packed & 7) + 1) : 0;
}

}  // namespace

Walk WalkGif(ByteView& view, uint64_t bound) {
  Walk walk;
  walk.extension = "gif";
  uint8_t head[13];
  if (!ReadExact(view, 0, head, sizeof head)) return walk;
  if (std::memcmp(head, "GIF87a", 6) != 0 && std::memcmp(head, "GIF89a", 6) != 0) return walk;
  if (Le16(head + 6) == 0 || Le16(head + 8) == 0) return walk;  // a screen of no size
  Cursor cur(view, 16 * 1024);
  uint64_t pos = 13 + ColorTableSize(head[10]);
  uint64_t end = 0;  // the end of the last whole block
  int blocks = 0;
  for (;;) {
    if (pos >= bound) { end = bound; break; }
    const int kind = cur.Byte(pos);
    uint64_t next = 0;
    if (kind < 0) {
      next = 0;  // the data ends before the trailer
    } else if (kind == 0x3B) {
      end = pos + 1;
      break;
    } else if (kind == 0x2C) {
      uint8_t d[10];
      if (!cur.Get(pos, d, 10)) {
        next = 0;  // cut inside the descriptor
      } else {
        if (Le16(d + 5) == 0 || Le16(d + 7) == 0) break;  // an image of no size
        const uint64_t code = pos + 10 + ColorTableSize(d[9]);
        const int minCode = cur.Byte(code);
        if (minCode >= 0 && (minCode < 1 || minCode > 12)) break;
        next = minCode < 0 ? 0 : SkipSubBlocks(cur, code + 1, bound);
      }
    } else if (kind == 0x21) {
      next = cur.Byte(pos + 1) < 0 ? 0 : SkipSubBlocks(cur, pos + 2, bound);
    } else {
      break;  // no block: the file ends with the last whole one
    }
    if (next == 0) {
      // Cut by the end of the data: the file ends where the data does (cut back below);
      // without a whole first block it is no GIF.
      end = blocks == 0 ? 0 : bound;
      break;
    }
    ++blocks;
    end = next;
    pos = next;
  }
  if (end == 0) return walk;  // no first image or extension block
  walk.valid = true;
  walk.length = FinalLength(view, end, bound, 13);
  return walk;
}

}  // namespace formats
