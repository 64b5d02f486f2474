// Decimal texts of the window and the end-marker search of the carvers.
#pragma once

#include <cstdint>
#include <string>

namespace base {

// Reads a decimal text. Every character takes a decimal place; characters
// that are not digits count as 0 ("12a4" is 1204, "123 " is 1230). Wraps
// modulo 2^64.
uint64_t ParseDecimal(const std::string& text);

// Writes a value in decimal without leading zeros; 0 gives the empty text.
std::string FormatDecimal(uint64_t value);

// A size for people, in decimal units with one decimal: "31.9 GB", "512 B".
std::string HumanSize(uint64_t bytes);

// Looks for `marker` (k bytes) in buffer[0, n), ASCII letters compared
// without regard to case. Candidates starting with the upper-case form of the
// marker's first byte are tried first, in order of offset, then those with the
// lower-case form. Returns 0 when n < k, p + 1 for a match at offset p, and
// n + 10 when there is none.
int32_t FindMarker(const uint8_t* buffer, int32_t n, const uint8_t* marker, int32_t k);

}  // namespace base
