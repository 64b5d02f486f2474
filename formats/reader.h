// Helpers the walkers share: checked reads of big- and little-endian fields,
// a buffered byte cursor, overflow-safe sums and the readable end of a view.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "formats/walk.h"

namespace formats::detail {

// a + b into *out; false (and *out unchanged) when the sum does not fit in 64 bits.
inline bool Add(uint64_t a, uint64_t b, uint64_t* out) {
  if (a > UINT64_MAX - b) return false;
  *out = a + b;
  return true;
}

// Reads exactly n bytes at `offset`; false on a short read.
inline bool ReadExact(ByteView& view, uint64_t offset, void* out, size_t n) {
  return view.Read(offset, out, n) == n;
}

inline uint16_t Be16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }
inline uint32_t Be32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
inline uint64_t Be64(const uint8_t* p) { return uint64_t(Be32(p)) << 32 | Be32(p + 4); }
inline uint16_t Le16(const uint8_t* p) { return uint16_t(p[1] << 8 | p[0]); }
inline uint32_t Le32(const uint8_t* p) {
  return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

// Reads bytes sequentially through a window, so byte-by-byte walks cost no call per byte.
class Cursor {
 public:
  // The window is left uninitialised: only bytes a read delivered are ever looked at.
  explicit Cursor(ByteView& view, size_t window = 64 * 1024)
      : view_(view), buf_(std::make_unique_for_overwrite<uint8_t[]>(window)), size_(window) {}
  // The byte at `offset`, or -1 when it cannot be read.
  int Byte(uint64_t offset) {
    if (offset < base_ || offset - base_ >= have_) {
      if (!Fill(offset)) return -1;
    }
    return buf_[size_t(offset - base_)];
  }
  // Copies n bytes at `offset` (n no larger than the window); false when any is unreadable.
  bool Get(uint64_t offset, void* out, size_t n) {
    if (n > size_) return false;
    if (offset < base_ || offset - base_ > have_ || have_ - (offset - base_) < n) {
      if (!Fill(offset) || have_ < n) return false;
    }
    std::memcpy(out, buf_.get() + (offset - base_), n);
    return true;
  }
  // The readable bytes from `offset` on inside the window (refilled at `offset`); nullptr when none.
  const uint8_t* Span(uint64_t offset, size_t* count) {
    if (offset < base_ || offset - base_ >= have_) {
      if (!Fill(offset)) return nullptr;
    }
    *count = have_ - size_t(offset - base_);
    return buf_.get() + (offset - base_);
  }

 private:
  bool Fill(uint64_t offset) {
    base_ = offset;
    have_ = view_.Read(offset, buf_.get(), size_);
    return have_ > 0;
  }
  ByteView& view_;
  std::unique_ptr<uint8_t[]> buf_;
  size_t size_;
  uint64_t base_ = 0;
  size_t have_ = 0;
};

// The greatest p in [lo, hi] such that bytes up to p can be read, assuming the bytes
// [0, lo) are readable and readability ends once (the end of the drive or a hole).
inline uint64_t ReadableEnd(ByteView& view, uint64_t lo, uint64_t hi) {
  uint8_t b;
  if (hi == 0 || view.Read(hi - 1, &b, 1) == 1) return hi;
  // Invariant: byte lo-1 readable (or lo == 0), byte hi-1 not.
  while (hi - lo > 1) {
    uint64_t mid = lo + (hi - lo) / 2;
    if (view.Read(mid - 1, &b, 1) == 1) lo = mid; else hi = mid;
  }
  return lo;
}

// The final length of a walk: `end` kept within `bound`, cut back to the readable data when the
// structure claims bytes the view does not have (`known` is an end known to be readable).
inline uint64_t FinalLength(ByteView& view, uint64_t end, uint64_t bound, uint64_t known) {
  if (end > bound) end = bound;
  if (known > end) known = end;
  return ReadableEnd(view, known, end);
}

// Days since 1970-01-01 of a date in the proleptic Gregorian calendar.
inline int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = unsigned(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + int64_t(doe) - 719468;
}

// Seconds since 1970 of a calendar time, or false when a field is out of range.
inline bool CivilSeconds(int64_t y, int mo, int d, int h, int mi, int s, int64_t* out) {
  if (y < 1900 || y > 9999 || mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 ||
      mi > 59 || s < 0 || s > 60)
    return false;
  *out = DaysFromCivil(y, unsigned(mo), unsigned(d)) * 86400 + h * 3600 + mi * 60 + s;
  return true;
}

}  // namespace formats::detail
