#include <algorithm>

#include "formats/reader.h"

namespace formats {
namespace {

using namespace detail;

constexpr uint32_t kMaxBoxes = 1u << 20;  // top-level boxes in one file
constexpr int64_t kSince1904 = 2082844800;  // seconds from 1904-01-01 to 1970-01-01

constexpr uint32_t Code(const char (&s)[5]) {
  return uint32_t(uint8_t(s[0])) << 24 | uint32_t(uint8_t(s[1])) << 16 | uint32_t(uint8_t(s[2])) << 8 |
         uint8_t(s[3]);
}

bool KnownTopLevel(uint32_t type) {
  static constexpr uint32_t kTypes[] = {
      Code("moov"), Code("mdat"), Code("meta"), Code("free"), Code("skip"), Code("wide"),
      Code("uuid"), Code("pdin"), Code("moof"), Code("mfra"), Code("styp"), Code("sidx"),
      Code("ssix"), Code("prft"), Code("emsg"), Code("pnot"), Code("idat"), Code("iloc"),
      Code("PICT"), Code("junk")};
  return std::find(std::begin(kTypes), std::end(kTypes), type) != std::end(kTypes);
}

struct Brand {
  const char* extension;
  Family family;
};

// The file kind a brand names, or nullptr for a brand this walker does not take.
const Brand* BrandOf(uint32_t brand) {
  static const Brand heic{"heic", Family::Still}, avif{"avif", Family::Still}, cr3{"cr3", Family::Raw},
      mp4{"mp4", Family::Movie}, mov{"mov", Family::Movie}, m4v{"m4v", Family::Movie},
      m4a{"m4a", Family::Movie}, gp3{"3gp", Family::Movie};
  switch (brand) {
    case Code("heic"): case Code("heix"): case Code("heim"): case Code("heis"): case Code("hevc"):
    case Code("hevx"): case Code("mif1"): case Code("msf1"):
      return &heic;
    case Code("avif"): case Code("avis"):
      return &avif;
    case Code("crx "):
      return &cr3;
    case Code("qt  "):
      return &mov;
    case Code("M4V "): case Code("M4VH"): case Code("M4VP"):
      return &m4v;
    case Code("M4A "): case Code("M4B "): case Code("M4P "):
      return &m4a;
    case Code("isom"): case Code("iso2"): case Code("iso3"): case Code("iso4"): case Code("iso5"):
    case Code("iso6"): case Code("iso8"): case Code("mp41"): case Code("mp42"): case Code("avc1"):
    case Code("dash"): case Code("mmp4"): case Code("MSNV"): case Code("XAVC"):
      return &mp4;
    default:
      if ((brand >> 8) == (Code("3gp ") >> 8) || (brand >> 8) == (Code("3g2 ") >> 8)) return &gp3;
      return nullptr;
  }
}

uint64_t FamilyBound(Family f) {
  return f == Family::Movie ? kVideoBound : f == Family::Raw ? kRawBound : kPictureBound;
}

// The movie header's creation time inside a moov box at [pos, end).
CaptureTime MovieTime(ByteView& view, uint64_t pos, uint64_t end) {
  CaptureTime t;
  for (int i = 0; i < 64 && pos + 8 <= end; ++i) {
    uint8_t h[20];
    if (!ReadExact(view, pos, h, 8)) break;
    const uint32_t size = Be32(h);
    if (size < 8 || size > end - pos) break;
    if (Be32(h + 4) == Code("mvhd") && size >= 20 && ReadExact(view, pos + 8, h, 12)) {
      const uint64_t created = h[0] == 1 ? Be64(h + 4) : Be32(h + 4);
      if (created > uint64_t(kSince1904) && created < (1ull << 40)) {
        t.known = true;
        t.seconds = int64_t(created) - kSince1904;
      }
      break;
    }
    pos += size;
  }
  return t;
}

}  // namespace

Walk WalkIsoBmff(ByteView& view, uint64_t bound) {
  Walk walk;
  uint8_t f[16];
  if (!ReadExact(view, 0, f, 16) || Be32(f + 4) != Code("ftyp")) return walk;
  const uint32_t ftypSize = Be32(f);
  if (ftypSize < 16 || ftypSize > 1024 || ftypSize % 4 != 0) return walk;
  const Brand* brand = BrandOf(Be32(f + 8));
  uint8_t compat[1024];
  if (!ReadExact(view, 16, compat, ftypSize - 16)) return walk;
  for (uint32_t i = 0; i + 4 <= ftypSize - 16; i += 4) {
    const Brand* b = BrandOf(Be32(compat + i));
    // A mif1/msf1 still that lists avif is an AVIF picture; an unknown major brand takes the
    // first known compatible one.
    if (b && (!brand || (brand->family == Family::Still && Be32(compat + i) == Code("avif")))) brand = b;
  }
  if (!brand) return walk;
  walk.extension = brand->extension;
  walk.family = brand->family;
  bound = std::min(bound, FamilyBound(brand->family));

  uint64_t pos = ftypSize;  // the next box header
  bool content = false;     // a moov, meta or mdat has been seen
  for (uint32_t boxes = 0; boxes < kMaxBoxes && pos < bound; ++boxes) {
    uint8_t h[16];
    if (!ReadExact(view, pos, h, 8)) {
      pos = bound;  // the data ends: so does the file (cut back to the readable data below)
      break;
    }
    const uint32_t type = Be32(h + 4);
    if (!KnownTopLevel(type)) break;  // a second ftyp, or no box: the file ends here
    uint64_t size = Be32(h);
    uint64_t header = 8;
    if (size == 1) {
      if (!ReadExact(view, pos + 8, h + 8, 8)) {
        pos = bound;
        break;
      }
      size = Be64(h + 8);
      header = 16;
    }
    if (size == 0) break;  // "to the end": the file ends at its last known byte
    if (size < header) break;
    const bool isContent = type == Code("moov") || type == Code("meta") || type == Code("mdat");
    if (!content && !isContent && type != Code("free") && type != Code("skip") && type != Code("wide"))
      break;  // before the first moov, meta or mdat only padding may come
    if (type == Code("moov") && !walk.captured.known) {
      uint64_t boxEnd;
      if (Add(pos, size, &boxEnd)) walk.captured = MovieTime(view, pos + 8, std::min(boxEnd, bound));
    }
    content = content || isContent;
    uint64_t next;
    if (!Add(pos, size, &next) || next > bound) {
      pos = bound;
      break;
    }
    pos = next;
  }
  if (!content) return {};  // ftyp must be followed by a moov, meta or mdat
  walk.valid = true;
  walk.length = FinalLength(view, pos, bound, ftypSize);
  return walk;
}

}  // namespace formats
