#include "base/numbers.h"

#include <gtest/gtest.h>

#include <random>

#include <cstring>

namespace {

using base::FindMarker;
using base::FormatDecimal;
using base::ParseDecimal;

TEST(ParseDecimal, ReadsEveryCharacterAsADecimalPlace) {
  struct Case {
    const char* text;
    uint64_t value;
  } cases[] = {
      {"", 0},        {"1204", 1204}, {"12a4", 1204}, {"123 ", 1230},
      {" 123", 123},  {"-5", 5},      {"007", 7},     {"4294967296", 4294967296ull},
      {"18446744073709551615", UINT64_MAX},
      {"18446744073709551616", 0},  // wraps modulo 2^64
  };
  for (const Case& c : cases) EXPECT_EQ(ParseDecimal(c.text), c.value) << '"' << c.text << '"';
}

TEST(FormatDecimal, WritesDigitsAndNothingForZero) {
  EXPECT_EQ(FormatDecimal(0), "");
  EXPECT_EQ(FormatDecimal(7), "7");
  EXPECT_EQ(FormatDecimal(262144), "262144");
  EXPECT_EQ(FormatDecimal(UINT64_MAX), "18446744073709551615");
  for (uint64_t v : {1ull, 10ull, 999ull, 1000000007ull, 1ull << 40}) {
    EXPECT_EQ(ParseDecimal(FormatDecimal(v)), v);
  }
}

int32_t Find(const std::string& buffer, const std::string& marker, int32_t n = -1) {
  return FindMarker(reinterpret_cast<const uint8_t*>(buffer.data()),
                    n < 0 ? static_cast<int32_t>(buffer.size()) : n,
                    reinterpret_cast<const uint8_t*>(marker.data()),
                    static_cast<int32_t>(marker.size()));
}

TEST(FindMarker, ResultsZeroPositionPlusOneAndNPlusTen) {
  const std::string ffd9("\xFF\xD9", 2);
  EXPECT_EQ(Find("\xFF", ffd9), 0);                     // n = 1 < k
  EXPECT_EQ(Find("", ffd9), 0);                         // n = 0
  EXPECT_EQ(Find("\x36\x37\xFF\x38\x78\xFF\xD9\x56\x78", ffd9), 6);
  EXPECT_EQ(Find(std::string(100, 'a'), ffd9), 110);
  // The marker's first byte in the last searched byte: not found, even if
  // the byte after the searched length would complete it.
  EXPECT_EQ(Find("abc\xFF\xD9", ffd9, 4), 14);
  EXPECT_EQ(Find("\xFF\xD9", ffd9), 1);
}

TEST(FindMarker, TriesUpperCaseCandidatesBeforeLowerCase) {
  EXPECT_EQ(Find("xxTITLExx", "Title"), 3);
  EXPECT_EQ(Find("xxtitlexx", "Title"), 3);  // no upper-case T at all
  // A lower-case match before an upper-case T is passed over...
  EXPECT_EQ(Find("title Tx", "Title"), 18);
  // ...one after the last upper-case T is found.
  EXPECT_EQ(Find("Tx title", "Title"), 4);
  EXPECT_EQ(Find("Tx Title title", "Title"), 4);
  // Letters after the first compare without case; other bytes exactly.
  EXPECT_EQ(Find("..EoF\n", std::string("EOF\n")), 3);
  EXPECT_EQ(Find("..EOF\r\n", std::string("EOF\n")), 17);
}

// Markers that start with two non-letters are found 16 offsets at a time:
// on buffers thick with their first byte, at every length and at every
// offset from the end, the result is the first offset where the marker fits.
TEST(FindMarker, MarkersWithoutLettersAreFoundAtTheirFirstPlaceWhateverTheLength) {
  std::mt19937 gen(5);
  const std::string markers[] = {std::string("\xFF\xD9", 2), std::string("\xFF\xD9zZ", 4),
                                 std::string("\x00\x00\x01", 3)};
  for (const std::string& marker : markers) {
    for (int32_t n = 0; n < 80; ++n) {
      for (int trial = 0; trial < 20; ++trial) {
        std::string buffer(static_cast<size_t>(n) + 2, '\0');  // 2 bytes past n
        for (char& c : buffer) c = "\xFF\xD9\x00\x01zZ"[gen() % 6];
        int32_t want = n < static_cast<int32_t>(marker.size()) ? 0 : n + 10;
        for (int32_t p = 0; want == n + 10 && p + static_cast<int32_t>(marker.size()) <= n; ++p) {
          std::string here = buffer.substr(static_cast<size_t>(p), marker.size());
          for (size_t i = 0; i < here.size(); ++i) {
            if (here[i] == 'z') here[i] = 'Z';
          }
          std::string upper = marker;
          for (char& c : upper) c = c == 'z' ? 'Z' : c;
          if (here == upper) want = p + 1;
        }
        ASSERT_EQ(Find(buffer, marker, n), want) << "n " << n << " trial " << trial;
      }
    }
  }
}

}  // namespace
