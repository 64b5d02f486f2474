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


// A box found among the children of a box: its type and its body [body, end).
struct Box {
  uint32_t type = 0;
  uint64_t body = 0;
  uint64_t end = 0;
};

// The first child of type `type` among the boxes laid in [pos, end), at most 64 looked at.
bool FindChild(ByteView& view, uint64_t pos, uint64_t end, uint32_t type, Box* out) {
  for (int i = 0; i < 64 && pos < end && end - pos >= 8; ++i) {
    uint8_t h[16];
    if (!ReadExact(view, pos, h, 8)) return false;
    uint64_t size = Be32(h);
    uint64_t header = 8;
    if (size == 1) {
      if (end - pos < 16 || !ReadExact(view, pos + 8, h + 8, 8)) return false;
      size = Be64(h + 8);
      header = 16;
    } else if (size == 0) {
      size = end - pos;  // to the end of the parent
    }
    if (size < header || size > end - pos) return false;
    if (Be32(h + 4) == type) {
      *out = {type, pos + header, pos + size};
      return true;
    }
    pos += size;
  }
  return false;
}

// Big-endian fields read one after another from a box body held in memory; a read past
// its end sets `bad` and yields 0.
struct Fields {
  const std::vector<uint8_t>& bytes;
  size_t at = 0;
  bool bad = false;
  uint64_t Take(size_t n) {  // n of 0 to 8 bytes
    if (n > 8 || n > bytes.size() - std::min(at, bytes.size())) {
      bad = true;
      return 0;
    }
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i) v = v << 8 | bytes[at + i];
    at += n;
    return v;
  }
};

// The body of `box` in memory, when it is no longer than 1 MiB.
bool ReadBody(ByteView& view, const Box& box, std::vector<uint8_t>* out) {
  const uint64_t n = box.end - box.body;
  if (n > (1u << 20)) return false;
  out->resize(size_t(n));
  return ReadExact(view, box.body, out->data(), size_t(n));
}

// The item ID of the first item of type Exif listed in the item information box `iinf`.
bool ExifItemId(ByteView& view, const Box& iinf, uint32_t* id) {
  uint8_t v[4];
  if (iinf.end - iinf.body < 6 || !ReadExact(view, iinf.body, v, 1)) return false;
  uint64_t pos = iinf.body + 4 + (v[0] == 0 ? 2 : 4);  // version and flags, entry count
  for (int i = 0; i < 4096 && pos < iinf.end; ++i) {
    Box infe;
    if (!FindChild(view, pos, iinf.end, Code("infe"), &infe)) return false;
    // version 2 has a 16-bit item ID, version 3 a 32-bit one; then the protection index, the type
    uint8_t e[14];
    const uint64_t n = infe.end - infe.body;
    if (n >= 12 && ReadExact(view, infe.body, e, 1) && (e[0] == 2 || e[0] == 3)) {
      const size_t need = e[0] == 2 ? 12 : 14;
      if (n >= need && ReadExact(view, infe.body, e, need) &&
          std::memcmp(e + need - 4, "Exif", 4) == 0) {
        *id = e[0] == 2 ? Be16(e + 4) : Be32(e + 4);
        return true;
      }
    }
    pos = infe.end;
  }
  return false;
}

// Where the bytes of item `id` begin and end by the item location box `iloc` (the first
// extent only), read from the file or from the item data box `idat` of the same meta box.
bool ItemPlace(const std::vector<uint8_t>& iloc, uint32_t id, const Box* idat, uint64_t* start,
               uint64_t* length, bool* inIdat) {
  Fields f{iloc};
  const uint64_t version = f.Take(1);
  f.Take(3);
  if (version > 2) return false;
  const uint64_t sizes = f.Take(1), more = f.Take(1);
  const size_t offsetSize = size_t(sizes >> 4), lengthSize = size_t(sizes & 15);
  const size_t baseSize = size_t(more >> 4), indexSize = version == 0 ? 0 : size_t(more & 15);
  const uint64_t items = f.Take(version < 2 ? 2 : 4);
  for (uint64_t i = 0; i < items && !f.bad; ++i) {
    const uint64_t item = f.Take(version < 2 ? 2 : 4);
    const uint64_t method = version == 0 ? 0 : f.Take(2) & 15;
    f.Take(2);  // data reference index
    const uint64_t base = f.Take(baseSize);
    const uint64_t extents = f.Take(2);
    for (uint64_t e = 0; e < extents && !f.bad; ++e) {
      f.Take(indexSize);
      const uint64_t offset = f.Take(offsetSize);
      const uint64_t n = f.Take(lengthSize);
      if (f.bad) return false;
      if (item != id || e != 0) continue;
      if (method > 1 || (method == 1 && idat == nullptr)) return false;
      uint64_t at;
      if (!Add(base, offset, &at)) return false;
      if (method == 1 && !Add(at, idat->body, &at)) return false;
      *start = at;
      *length = n;
      *inIdat = method == 1;
      return true;
    }
  }
  return false;
}

// The capture time in the Exif item of a meta box whose children lie in [pos, end): the item
// is found by its type in iinf and its place in iloc; its bytes begin with the offset of the
// TIFF header that follows.
CaptureTime ExifItemTime(ByteView& view, uint64_t pos, uint64_t end, uint64_t bound) {
  Box iinf, ilocBox, idat;
  uint32_t id = 0;
  if (!FindChild(view, pos, end, Code("iinf"), &iinf) || !ExifItemId(view, iinf, &id)) return {};
  std::vector<uint8_t> iloc;
  if (!FindChild(view, pos, end, Code("iloc"), &ilocBox) || !ReadBody(view, ilocBox, &iloc)) return {};
  const bool hasIdat = FindChild(view, pos, end, Code("idat"), &idat);
  uint64_t start = 0, length = 0, itemEnd = 0;
  bool inIdat = false;
  if (!ItemPlace(iloc, id, hasIdat ? &idat : nullptr, &start, &length, &inIdat)) return {};
  const uint64_t limit = inIdat ? idat.end : bound;
  if (length == 0) itemEnd = limit;  // to the end of the data
  else if (!Add(start, length, &itemEnd) || itemEnd > limit) return {};
  uint8_t h[4];
  if (itemEnd - std::min(start, itemEnd) < 4 || !ReadExact(view, start, h, 4)) return {};
  uint64_t tiff;
  if (!Add(start + 4, Be32(h), &tiff) || tiff >= itemEnd) return {};
  return ExifCaptureTime(view, tiff, itemEnd);
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
    if (type == Code("meta") && !walk.captured.known && size >= header + 4) {
      uint64_t boxEnd;
      if (Add(pos, size, &boxEnd) && boxEnd <= bound)
        walk.captured = ExifItemTime(view, pos + header + 4, boxEnd, bound);
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
