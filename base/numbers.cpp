#include "base/numbers.h"

#include <cstdio>
#include <cstring>
#include <iterator>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace base {
namespace {

uint8_t Upper(uint8_t c) { return c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c; }
uint8_t Lower(uint8_t c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; }

bool EqualIgnoringCase(const uint8_t* a, const uint8_t* b, int32_t k) {
  for (int32_t i = 0; i < k; ++i) {
    if (a[i] != b[i] && Upper(a[i]) != Upper(b[i])) return false;
  }
  return true;
}

// First offset at or after `from` (and below n) whose byte is c, or -1.
int32_t FindByte(const uint8_t* buffer, int32_t from, int32_t n, uint8_t c) {
  if (from >= n) return -1;
  const void* hit = std::memchr(buffer + from, c, static_cast<size_t>(n - from));
  return hit ? static_cast<int32_t>(static_cast<const uint8_t*>(hit) - buffer) : -1;
}

// FindMarker for a marker whose first two bytes are no letters: the first p
// in [0, n - k] where the marker lies, found by looking for its first two
// bytes together, 16 offsets at a time.
int32_t FindExactPair(const uint8_t* buffer, int32_t n, const uint8_t* marker, int32_t k) {
  const int32_t last = n - k;  // the last offset where the marker fits
  int32_t p = 0;
#ifdef __SSE2__
  const __m128i first = _mm_set1_epi8(static_cast<char>(marker[0]));
  const __m128i second = _mm_set1_epi8(static_cast<char>(marker[1]));
  // Offsets p .. p + 15 need the bytes up to p + 16.
  for (; p + 16 < n && p <= last; p += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buffer + p));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buffer + p + 1));
    unsigned hits = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(b, second))));
    while (hits != 0) {
      const int32_t at = p + __builtin_ctz(hits);
      if (at > last) return n + 10;
      if (EqualIgnoringCase(buffer + at, marker, k)) return at + 1;
      hits &= hits - 1;
    }
  }
#endif
  for (; p <= last; ++p) {
    if (buffer[p] == marker[0] && buffer[p + 1] == marker[1] &&
        EqualIgnoringCase(buffer + p, marker, k)) {
      return p + 1;
    }
  }
  return n + 10;
}

bool IsLetter(uint8_t c) { return Upper(c) != Lower(c); }

}  // namespace

uint64_t ParseDecimal(const std::string& text) {
  uint64_t value = 0;
  uint64_t power = 1;
  for (size_t i = text.size(); i-- > 0;) {
    char c = text[i];
    uint64_t digit = (c >= '0' && c <= '9') ? static_cast<uint64_t>(c - '0') : 0;
    value += digit * power;
    power *= 10;
  }
  return value;
}

std::string FormatDecimal(uint64_t value) {
  char digits[20];
  int n = 0;
  while (value != 0) {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  std::string text;
  text.reserve(static_cast<size_t>(n));
  while (n > 0) text.push_back(digits[--n]);
  return text;
}

int32_t FindMarker(const uint8_t* buffer, int32_t n, const uint8_t* marker, int32_t k) {
  if (n < k) return 0;
  // Without a letter in front, candidates are simply taken in order.
  if (k >= 2 && !IsLetter(marker[0]) && !IsLetter(marker[1])) {
    return FindExactPair(buffer, n, marker, k);
  }
  const uint8_t upper = Upper(marker[0]);
  const uint8_t lower = Lower(marker[0]);
  int32_t start = 0;
  // The upper-case candidates are exhausted first; from then on only the
  // lower-case form is looked for.
  bool upperDone = false;
  for (;;) {
    int32_t p = -1;
    if (!upperDone) {
      p = FindByte(buffer, start, n, upper);
      if (p < 0) upperDone = true;
    }
    if (p < 0) p = FindByte(buffer, start, n, lower);
    if (p < 0) return n + 10;
    if (p + k <= n && EqualIgnoringCase(buffer + p, marker, k)) return p + 1;
    start = p + 1;
    if (n - start < k) return n + 10;
  }
}

}  // namespace base

namespace base {

std::string HumanSize(uint64_t bytes) {
  static const char* kUnits[] = {"B", "kB", "MB", "GB", "TB", "PB", "EB"};
  if (bytes < 1000) return std::to_string(bytes) + " B";
  double value = static_cast<double>(bytes);
  size_t unit = 0;
  // Rounded to one decimal, a value of 999.95 or more shows as the next unit.
  while (value >= 999.95 && unit + 1 < std::size(kUnits)) {
    value /= 1000;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

}  // namespace base
