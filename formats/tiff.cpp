#include <algorithm>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "formats/reader.h"

namespace formats {
namespace {

using namespace detail;

constexpr uint32_t kMaxEntries = 1000;      // entries in one IFD
constexpr size_t kMaxIfds = 512;            // IFDs in one file (chains, sub-IFDs, maker notes)
constexpr uint32_t kMaxArray = 1u << 20;    // strip or tile offsets in one entry

// Bytes of one value of a TIFF field type, 0 for an unknown type.
uint32_t TypeSize(uint16_t type) {
  static const uint8_t sizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
  return type < sizeof sizes ? sizes[type] : 0;
}

struct Entry {
  uint16_t tag = 0;
  uint16_t type = 0;
  uint32_t count = 0;
  uint32_t value = 0;      // the value field as a number (an offset when the data lies elsewhere)
  uint8_t raw[4] = {};     // the value field's bytes (inline data)
  uint64_t Bytes() const { return uint64_t(TypeSize(type)) * count; }
};

enum class IfdKind { Main, Exif, Maker };

struct PendingIfd {
  uint64_t offset;  // absolute
  uint64_t base;    // offsets in this IFD count from here
  bool le;
  IfdKind kind;
};

struct Header {
  bool le = true;
  uint16_t magic = 0;
  uint64_t firstIfd = 0;  // absolute
};

// Reads a TIFF header at `at`: II or MM, a magic number (42, or the ORF and RW2 ones), the first
// IFD's offset.
bool ReadHeader(ByteView& view, uint64_t at, Header* h) {
  uint8_t b[8];
  if (!ReadExact(view, at, b, 8)) return false;
  if (b[0] == 'I' && b[1] == 'I') h->le = true;
  else if (b[0] == 'M' && b[1] == 'M') h->le = false;
  else return false;
  h->magic = h->le ? Le16(b + 2) : Be16(b + 2);
  if (h->magic != 42 && h->magic != 0x4F52 && h->magic != 0x5352 && h->magic != 0x55) return false;
  uint32_t first = h->le ? Le32(b + 4) : Be32(b + 4);
  if (first < 8) return false;
  h->firstIfd = at + first;
  return true;
}

class TiffWalker {
 public:
  TiffWalker(ByteView& view, uint64_t bound, bool timeOnly)
      : view_(view), bound_(bound), timeOnly_(timeOnly) {}

  // Walks every IFD reachable from the first; false when the first IFD is not sane.
  bool Run(uint64_t base, const Header& h) {
    end_ = base + 8;
    pending_.push_back({h.firstIfd, base, h.le, IfdKind::Main});
    bool first = true;
    while (!pending_.empty() && visited_.size() < kMaxIfds) {
      PendingIfd p = pending_.back();
      pending_.pop_back();
      if (!visited_.insert(p.offset).second) continue;  // a loop, or an IFD met twice
      const bool ok = Ifd(p, first);
      if (first && !ok) return false;
      first = false;
    }
    return true;
  }

  uint64_t end() const { return end_; }
  const std::string& make() const { return make_; }
  bool dng() const { return dng_; }
  const CaptureTime& captured() const { return captured_; }

 private:
  uint16_t U16(const uint8_t* p, bool le) const { return le ? Le16(p) : Be16(p); }
  uint32_t U32(const uint8_t* p, bool le) const { return le ? Le32(p) : Be32(p); }

  // Counts [offset, offset + size) into the end when it lies within the bound.
  void Extend(uint64_t offset, uint64_t size) {
    uint64_t e;
    if (Add(offset, size, &e) && e <= bound_) end_ = std::max(end_, e);
  }

  // The absolute offset of an entry's out-of-line data, false when it overflows.
  static bool Where(const PendingIfd& p, const Entry& e, uint64_t* at) { return Add(p.base, e.value, at); }

  // The entry's values as numbers (BYTE, SHORT, LONG or IFD), at most kMaxArray of them.
  std::vector<uint64_t> Values(const PendingIfd& p, const Entry& e) {
    std::vector<uint64_t> out;
    const uint32_t size = TypeSize(e.type);
    if ((e.type != 1 && e.type != 3 && e.type != 4 && e.type != 13) || e.count == 0 || e.count > kMaxArray)
      return out;
    const uint64_t total = uint64_t(e.count) * size;
    uint64_t at = 0, last;
    uint8_t probe;
    if (total > 4 && (!Where(p, e, &at) || !Add(at, total - 1, &last) || last >= bound_ ||
                      view_.Read(last, &probe, 1) != 1))
      return out;  // an array past the bound or the data: nothing is allocated for it
    std::vector<uint8_t> bytes(static_cast<size_t>(total));
    if (total <= 4) {
      std::memcpy(bytes.data(), e.raw, bytes.size());
    } else if (!ReadExact(view_, at, bytes.data(), bytes.size())) {
      return out;
    }
    out.reserve(e.count);
    for (uint32_t i = 0; i < e.count; ++i) {
      const uint8_t* q = bytes.data() + size_t(i) * size;
      out.push_back(size == 1 ? *q : size == 2 ? U16(q, p.le) : U32(q, p.le));
    }
    return out;
  }

  // Counts pieces of data (strips, tiles, a preview) given by an offsets and a byte-counts entry.
  void Pieces(const PendingIfd& p, const Entry* offsets, const Entry* counts) {
    if (!offsets || !counts) return;
    const std::vector<uint64_t> o = Values(p, *offsets);
    const std::vector<uint64_t> c = Values(p, *counts);
    for (size_t i = 0; i < std::min(o.size(), c.size()); ++i) {
      uint64_t at;
      if (Add(p.base, o[i], &at)) Extend(at, c[i]);
    }
  }

  void Push(uint64_t base, uint64_t relative, bool le, IfdKind kind) {
    uint64_t at;
    if (relative != 0 && Add(base, relative, &at) && at < bound_) pending_.push_back({at, base, le, kind});
  }

  std::string Text(const PendingIfd& p, const Entry& e, size_t max) {
    if (e.type != 2 || e.count == 0) return {};
    const size_t n = std::min<size_t>(e.count, max);
    std::string s(n, '\0');
    if (e.count <= 4) {
      std::memcpy(s.data(), e.raw, n);
    } else {
      uint64_t at;
      if (!Where(p, e, &at) || !ReadExact(view_, at, s.data(), n)) return {};
    }
    return s.substr(0, s.find('\0'));
  }

  void ReadTime(const PendingIfd& p, const Entry* original, const Entry* offset) {
    if (!original) return;
    const std::string t = Text(p, *original, 20);  // "YYYY:MM:DD HH:MM:SS"
    int y, mo, d, h, mi, s;
    if (t.size() != 19 || std::sscanf(t.c_str(), "%4d:%2d:%2d %2d:%2d:%2d", &y, &mo, &d, &h, &mi, &s) != 6)
      return;
    int64_t seconds;
    if (!CivilSeconds(y, mo, d, h, mi, s, &seconds)) return;
    captured_.known = true;
    captured_.local = true;
    captured_.seconds = seconds;
    if (!offset) return;
    const std::string z = Text(p, *offset, 7);  // "+HH:MM"
    int zh, zm;
    if (z.size() == 6 && (z[0] == '+' || z[0] == '-') && z[3] == ':' &&
        std::sscanf(z.c_str() + 1, "%2d:%2d", &zh, &zm) == 2 && zh <= 14 && zm < 60) {
      const int64_t shift = (zh * 3600 + zm * 60) * (z[0] == '-' ? -1 : 1);
      captured_.local = false;
      captured_.seconds = seconds - shift;
    }
  }

  // Follows a maker note: its IFD, its byte order and the base its offsets count from.
  void MakerNote(const PendingIfd& p, const Entry& e) {
    uint64_t mn;
    if (e.type != 7 || e.count < 8 || !Where(p, e, &mn)) return;
    uint8_t h[18] = {};
    const size_t got = view_.Read(mn, h, sizeof h);
    if (got < 8) return;
    auto starts = [&](const char* sig, size_t n) { return got >= n && std::memcmp(h, sig, n) == 0; };
    auto order = [&](size_t at, bool* le) {
      if (h[at] == 'I' && h[at + 1] == 'I') { *le = true; return true; }
      if (h[at] == 'M' && h[at + 1] == 'M') { *le = false; return true; }
      return false;
    };
    bool le = p.le;
    if (starts("Nikon\0", 6)) {
      Header nh;
      if (ReadHeader(view_, mn + 10, &nh)) Push(mn + 10, nh.firstIfd - (mn + 10), nh.le, IfdKind::Maker);
    } else if (starts("OLYMPUS\0", 8) || starts("OM SYSTEM\0", 10)) {
      const size_t at = h[0] == 'O' && h[1] == 'M' ? 12 : 8;
      if (order(at, &le)) Push(mn, at + 4, le, IfdKind::Maker);
    } else if (starts("OLYMP\0", 6) || starts("SONY DSC ", 9) || starts("SONY CAM ", 9) ||
               starts("Panasonic\0", 10)) {
      Push(p.base, mn - p.base + (h[0] == 'O' ? 8 : 12), le, IfdKind::Maker);
    } else if (starts("AOC\0", 4)) {
      order(4, &le);
      Push(p.base, mn - p.base + 6, le, IfdKind::Maker);
    } else if (starts("PENTAX \0", 8)) {
      if (order(8, &le)) Push(mn, 10, le, IfdKind::Maker);
    } else {
      Push(p.base, mn - p.base, le, IfdKind::Maker);  // a plain IFD
    }
  }

  // Reads one IFD and queues the ones it points to; false when it is not sane.
  bool Ifd(const PendingIfd& p, bool first) {
    uint8_t c[2];
    if (!ReadExact(view_, p.offset, c, 2)) return false;
    const uint32_t n = U16(c, p.le);
    if (n == 0 || n > kMaxEntries) return false;
    const uint64_t size = 2 + 12ull * n + 4;
    if (p.offset + size > bound_) return false;
    std::vector<uint8_t> b(size_t(12 * n + 4));
    if (!ReadExact(view_, p.offset + 2, b.data(), b.size())) return false;

    std::vector<Entry> entries(n);
    for (uint32_t i = 0; i < n; ++i) {
      const uint8_t* q = b.data() + 12 * i;
      Entry& e = entries[i];
      e.tag = U16(q, p.le);
      e.type = U16(q + 2, p.le);
      e.count = U32(q + 4, p.le);
      e.value = U32(q + 8, p.le);
      std::memcpy(e.raw, q + 8, 4);
      if (TypeSize(e.type) == 0 && first) return false;  // a first IFD holds known types only
    }
    Extend(p.offset, size);
    auto find = [&](uint16_t tag) -> const Entry* {
      for (const Entry& e : entries)
        if (e.tag == tag && TypeSize(e.type) != 0) return &e;
      return nullptr;
    };

    if (p.kind == IfdKind::Exif) ReadTime(p, find(0x9003), find(0x9011));
    if (first) {
      if (const Entry* make = find(0x010F)) make_ = Text(p, *make, 64);
      dng_ = find(0xC612) != nullptr;
    }
    for (const Entry& e : entries) {
      switch (e.tag) {
        case 0x8769:  // EXIF IFD
          Push(p.base, e.value, p.le, IfdKind::Exif);
          continue;
        case 0x8825:  // GPS IFD
        case 0xA005:  // interoperability IFD
          if (!timeOnly_) Push(p.base, e.value, p.le, IfdKind::Main);
          continue;
        default:
          break;
      }
      if (timeOnly_) continue;
      if (e.tag == 0x014A || (p.kind == IfdKind::Maker && e.tag == 0x0011)) {  // sub-IFDs, a preview IFD
        for (uint64_t v : Values(p, e)) Push(p.base, v, p.le, p.kind == IfdKind::Maker ? IfdKind::Maker : IfdKind::Main);
      } else if (e.tag == 0x927C && p.kind == IfdKind::Exif) {
        MakerNote(p, e);
      }
      uint64_t at;
      if (e.Bytes() > 4 && Where(p, e, &at)) Extend(at, e.Bytes());
    }
    if (!timeOnly_) {
      Pieces(p, find(0x0111), find(0x0117));  // strips
      Pieces(p, find(0x0144), find(0x0145));  // tiles
      Pieces(p, find(0x0201), find(0x0202));  // a JPEG thumbnail or preview
    }
    const uint32_t next = U32(b.data() + 12 * n, p.le);
    // Only the main chain (IFD0, IFD1, ... and sub-IFD chains) is followed: the next-IFD field
    // of EXIF and maker-note IFDs is often left as junk.
    if (p.kind == IfdKind::Main && !timeOnly_) Push(p.base, next, p.le, p.kind);
    return true;
  }

  ByteView& view_;
  uint64_t bound_;
  bool timeOnly_;
  uint64_t end_ = 0;
  std::vector<PendingIfd> pending_;
  std::set<uint64_t> visited_;
  std::string make_;
  bool dng_ = false;
  CaptureTime captured_;
};

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// The RAW extension of a TIFF-family file, or "" for a plain TIFF.
const char* RawExtension(ByteView& view, const Header& h, const std::string& make, bool dng) {
  if (h.magic == 0x4F52 || h.magic == 0x5352) return "orf";
  if (h.magic == 0x55) return "rw2";
  uint8_t cr[2];
  if (h.le && ReadExact(view, 8, cr, 2) && cr[0] == 'C' && cr[1] == 'R') return "cr2";
  if (dng) return "dng";
  if (StartsWith(make, "NIKON")) return "nef";
  if (StartsWith(make, "SONY")) return "arw";
  if (StartsWith(make, "PENTAX") || StartsWith(make, "RICOH IMAGING")) return "pef";
  return "";
}

Walk WalkTiffFamily(ByteView& view, uint64_t bound, bool raw) {
  Walk walk;
  walk.family = raw ? Family::Raw : Family::Picture;
  walk.extension = raw ? "" : "tif";
  Header h;
  if (!ReadHeader(view, 0, &h) || h.firstIfd >= bound) return walk;
  TiffWalker walker(view, bound, false);
  if (!walker.Run(0, h)) return walk;
  const char* ext = RawExtension(view, h, walker.make(), walker.dng());
  if ((*ext != '\0') != raw) return walk;  // the other type's file
  if (raw) walk.extension = ext;
  walk.valid = true;
  walk.captured = walker.captured();
  walk.length = FinalLength(view, walker.end(), bound, 8);
  return walk;
}

}  // namespace

Walk WalkTiff(ByteView& view, uint64_t bound) { return WalkTiffFamily(view, bound, false); }
Walk WalkTiffRaw(ByteView& view, uint64_t bound) { return WalkTiffFamily(view, bound, true); }

bool IsRaw(ByteView& view) { return WalkTiffRaw(view, kRawBound).valid; }

CaptureTime ExifCaptureTime(ByteView& view, uint64_t tiffStart, uint64_t bound) {
  Header h;
  if (!ReadHeader(view, tiffStart, &h) || h.firstIfd >= bound) return {};
  TiffWalker walker(view, bound, true);
  walker.Run(tiffStart, h);
  return walker.captured();
}

}  // namespace formats
