#include <algorithm>

#include "formats/reader.h"

namespace formats {
namespace {

using namespace detail;

// The bytes of a view from `start` on, as a view of their own (the RAF's JPEG preview).
class ShiftedView : public ByteView {
 public:
  ShiftedView(ByteView& view, uint64_t start) : view_(view), start_(start) {}
  size_t Read(uint64_t offset, void* out, size_t n) override {
    uint64_t at;
    return Add(start_, offset, &at) ? view_.Read(at, out, n) : 0;
  }

 private:
  ByteView& view_;
  uint64_t start_;
};

const char kMagic[] = "FUJIFILMCCD-RAW ";

}  // namespace

// The header: the magic (16 bytes), a format version of four digits, the camera's number and
// name, a directory version, then big-endian offset and length pairs at 84: the JPEG preview,
// the CFA header (the tag directory) and the CFA (the sensor data). The file ends with the last
// of the three.
Walk WalkRaf(ByteView& view, uint64_t bound) {
  Walk walk;
  walk.extension = "raf";
  walk.family = Family::Raw;
  uint8_t head[108];
  if (!ReadExact(view, 0, head, sizeof head) || std::memcmp(head, kMagic, 16) != 0) return walk;
  for (int i = 16; i < 20; ++i)
    if (head[i] < '0' || head[i] > '9') return walk;
  const uint64_t jpeg = Be32(head + 84), jpegLength = Be32(head + 88);
  uint64_t end = 0;
  for (int pair = 0; pair < 3; ++pair) {
    const uint64_t offset = Be32(head + 84 + 8 * pair), length = Be32(head + 88 + 8 * pair);
    if (offset == 0 && length == 0) continue;                 // a part this camera leaves out
    if (offset < sizeof head || length == 0) return walk;     // a part inside the header, or empty
    end = std::max(end, offset + length);                     // no overflow: both below 2^32
  }
  // The preview is a JPEG: it must start as one.
  uint8_t soi[3];
  if (jpegLength == 0 || !ReadExact(view, jpeg, soi, 3) || soi[0] != 0xFF || soi[1] != 0xD8 || soi[2] != 0xFF)
    return walk;
  walk.valid = true;
  ShiftedView preview(view, jpeg);
  walk.captured = JpegCaptureTime(preview, std::min(jpegLength, bound));
  walk.length = FinalLength(view, end, bound, sizeof head);
  return walk;
}

}  // namespace formats
