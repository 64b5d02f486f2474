#include "formats/reader.h"

namespace formats {
namespace {

using namespace detail;

// The CRC-32 of PNG chunks (polynomial EDB88320) over `n` bytes, continuing `crc`.
uint32_t Crc32(uint32_t crc, const uint8_t* p, size_t n) {
  static const auto table = [] {
    struct T { uint32_t v[256]; } t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t.v[i] = c;
    }
    return t;
  }();
  crc = ~crc;
  for (size_t i = 0; i < n; ++i) crc = table.v[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

bool IsLetter(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

}  // namespace

Walk WalkPng(ByteView& view, uint64_t bound) {
  Walk walk;
  walk.extension = "png";
  // Signature, then IHDR: length 13, type, 13 bytes of data, CRC.
  uint8_t head[33];
  if (!ReadExact(view, 0, head, sizeof head) || std::memcmp(head, kSignature, 8) != 0) return walk;
  if (Be32(head + 8) != 13 || std::memcmp(head + 12, "IHDR", 4) != 0) return walk;
  if (Crc32(0, head + 12, 17) != Be32(head + 29)) return walk;
  walk.valid = true;

  uint64_t pos = 33;    // the next chunk header
  uint64_t end = pos;   // the end of the last whole chunk
  for (;;) {
    if (pos >= bound) { end = bound; break; }
    uint8_t chunk[8];
    if (!ReadExact(view, pos, chunk, 8)) {
      end = bound;  // the data ends: so does the file (cut back to the readable data below)
      break;
    }
    const uint32_t length = Be32(chunk);
    if (length > 0x7FFFFFFFu || !IsLetter(chunk[4]) || !IsLetter(chunk[5]) || !IsLetter(chunk[6]) ||
        !IsLetter(chunk[7]))
      break;  // not a chunk: the file ends with the last whole one
    const uint64_t next = pos + 12 + length;  // no overflow: pos < bound and length < 2^31
    if (std::memcmp(chunk + 4, "tIME", 4) == 0 && length == 7) {
      uint8_t t[7];
      int64_t s;
      if (ReadExact(view, pos + 8, t, 7) && CivilSeconds(Be16(t), t[2], t[3], t[4], t[5], t[6], &s)) {
        walk.captured.known = true;
        walk.captured.local = false;
        walk.captured.seconds = s;
      }
    }
    end = next;
    if (std::memcmp(chunk + 4, "IEND", 4) == 0) break;
    pos = next;
  }
  walk.length = FinalLength(view, end, bound, 33);
  return walk;
}

}  // namespace formats
