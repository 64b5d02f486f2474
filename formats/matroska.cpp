#include <algorithm>

#include "formats/reader.h"

namespace formats {
namespace {

using namespace detail;

constexpr uint32_t kEbml = 0x1A45DFA3, kDocType = 0x4282, kSegment = 0x18538067, kCluster = 0x1F43B675,
                   kInfo = 0x1549A966, kDateUtc = 0x4461, kVoid = 0xEC, kCrc = 0xBF;
constexpr uint64_t kUnknown = UINT64_MAX;
constexpr int64_t kSince2001 = 978307200;  // seconds from 1970-01-01 to 2001-01-01
constexpr uint32_t kMaxElements = 1u << 22;

struct Element {
  uint32_t id = 0;
  uint64_t size = 0;       // kUnknown for an element of unknown size
  uint64_t dataStart = 0;  // absolute
};

// Reads an element header (ID of 1 to 4 bytes, size of 1 to 8) at `pos`.
bool ReadElement(Cursor& cur, uint64_t pos, Element* e) {
  uint8_t b[12];
  int first = cur.Byte(pos);
  if (first <= 0) return false;
  int idLength = 1;
  while (idLength <= 4 && !(first & (0x80 >> (idLength - 1)))) ++idLength;
  if (idLength > 4) return false;
  if (!cur.Get(pos, b, size_t(idLength) + 1)) return false;
  e->id = 0;
  for (int i = 0; i < idLength; ++i) e->id = e->id << 8 | b[i];
  const int s0 = b[idLength];
  if (s0 == 0) return false;
  int sizeLength = 1;
  while (!(s0 & (0x80 >> (sizeLength - 1)))) ++sizeLength;
  if (!cur.Get(pos + idLength, b, size_t(sizeLength))) return false;
  uint64_t size = uint64_t(b[0]) & (0xFFu >> sizeLength);
  bool allOnes = size == (0xFFu >> sizeLength);
  for (int i = 1; i < sizeLength; ++i) {
    size = size << 8 | b[i];
    allOnes = allOnes && b[i] == 0xFF;
  }
  e->size = allOnes ? kUnknown : size;
  e->dataStart = pos + uint64_t(idLength) + uint64_t(sizeLength);
  return true;
}

bool IsTopLevel(uint32_t id) {
  switch (id) {
    case 0x114D9B74:  // SeekHead
    case kInfo:
    case 0x1654AE6B:  // Tracks
    case kCluster:
    case 0x1C53BB6B:  // Cues
    case 0x1941A469:  // Attachments
    case 0x1043A770:  // Chapters
    case 0x1254C367:  // Tags
    case kVoid:
    case kCrc:
      return true;
    default:
      return false;
  }
}

bool IsClusterChild(uint32_t id) {
  switch (id) {
    case 0xE7: case 0xA7: case 0xAB: case 0xA3: case 0xA0: case kVoid: case kCrc:
      return true;
    default:
      return false;
  }
}

// The DocType of an EBML header whose data is [pos, end).
bool DocTypeOf(Cursor& cur, uint64_t pos, uint64_t end, char (&out)[9]) {
  for (int i = 0; i < 32 && pos < end; ++i) {
    Element e;
    if (!ReadElement(cur, pos, &e) || e.size == kUnknown || e.size > end - e.dataStart) return false;
    if (e.id == kDocType) {
      if (e.size == 0 || e.size > 8) return false;
      std::memset(out, 0, sizeof out);
      return cur.Get(e.dataStart, out, size_t(e.size));
    }
    pos = e.dataStart + e.size;
  }
  return false;
}

// The segment's DateUTC, from an Info element whose data is [pos, end).
CaptureTime InfoTime(Cursor& cur, uint64_t pos, uint64_t end) {
  CaptureTime t;
  for (int i = 0; i < 64 && pos < end; ++i) {
    Element e;
    if (!ReadElement(cur, pos, &e) || e.size == kUnknown || e.size > end - e.dataStart) break;
    if (e.id == kDateUtc && e.size == 8) {
      uint8_t b[8];
      if (cur.Get(e.dataStart, b, 8)) {
        t.known = true;
        t.seconds = int64_t(Be64(b)) / 1000000000 + kSince2001;
      }
      break;
    }
    pos = e.dataStart + e.size;
  }
  return t;
}

class SegmentWalker {
 public:
  SegmentWalker(Cursor& cur, uint64_t bound) : cur_(cur), bound_(bound) {}

  // Walks the elements of a segment of unknown size from `pos`; the end of the last one that
  // is followed by another element or by the end of the data.
  uint64_t Unknown(uint64_t pos, CaptureTime* time) {
    bool inCluster = false;  // inside a cluster of unknown size
    for (uint32_t n = 0; n < kMaxElements && pos < bound_; ++n) {
      Element e;
      if (!ReadElement(cur_, pos, &e)) {
        uint8_t probe[12];
        // A header cut by the end of the data: the file ends where the data does.
        return cur_.Get(pos, probe, sizeof probe) ? pos : bound_;
      }
      if (!(IsTopLevel(e.id) || (inCluster && IsClusterChild(e.id)))) return pos;
      if (e.id == kCluster && e.size == kUnknown) {
        inCluster = true;
        pos = e.dataStart;
        continue;
      }
      if (e.size == kUnknown) return pos;
      uint64_t next;
      if (!Add(e.dataStart, e.size, &next) || next > bound_) return bound_;
      if (!Plausible(e, next, inCluster || e.id == kCluster)) return pos;
      if (e.id == kInfo && !time->known) *time = InfoTime(cur_, e.dataStart, next);
      if (IsTopLevel(e.id) && e.id != kVoid && e.id != kCrc) inCluster = false;
      pos = next;
    }
    return std::min(pos, bound_);
  }

 private:
  bool Follows(uint64_t pos, bool clusterChildren) {
    if (cur_.Byte(pos) < 0 || pos >= bound_) return true;
    Element e;
    return ReadElement(cur_, pos, &e) && (IsTopLevel(e.id) || (clusterChildren && IsClusterChild(e.id)));
  }

  // Whether an element looks like the real thing: four-byte IDs are rare in random bytes, the
  // one-byte ones must hold a sane body or, for padding, be followed by another element.
  bool Plausible(const Element& e, uint64_t next, bool clusterChildren) {
    switch (e.id) {
      case kCrc:
        return e.size == 4;
      case kVoid:
        return Follows(next, clusterChildren);
      case 0xE7: case 0xA7: case 0xAB:  // timestamp, position, previous size
        return e.size >= 1 && e.size <= 8;
      case 0xA3: {  // a simple block: track number 1 to 31, a timestamp and flags
        const int track = cur_.Byte(e.dataStart);
        return e.size >= 4 && track >= 0x81 && track <= 0x9F;
      }
      case 0xA0: {  // a block group opens with one of its children
        const int first = cur_.Byte(e.dataStart);
        return e.size >= 2 && (first == 0xA1 || first == 0x9B || first == 0xFB || first == 0xA4 ||
                               first == 0x75 || first == 0xA2);
      }
      default:
        return true;
    }
  }

  Cursor& cur_;
  uint64_t bound_;
};

}  // namespace

Walk WalkMatroska(ByteView& view, uint64_t bound) {
  Walk walk;
  walk.family = Family::Movie;
  Cursor cur(view);
  Element header;
  if (!ReadElement(cur, 0, &header) || header.id != kEbml || header.size == kUnknown || header.size > 4096)
    return walk;
  char docType[9];
  const uint64_t headerEnd = header.dataStart + header.size;
  if (!DocTypeOf(cur, header.dataStart, headerEnd, docType)) return walk;
  if (std::strcmp(docType, "matroska") == 0) walk.extension = "mkv";
  else if (std::strcmp(docType, "webm") == 0) walk.extension = "webm";
  else return walk;
  Element segment;
  if (!ReadElement(cur, headerEnd, &segment) || segment.id != kSegment) return walk;
  walk.valid = true;
  uint64_t end;
  if (segment.size == kUnknown) {
    end = SegmentWalker(cur, bound).Unknown(segment.dataStart, &walk.captured);
  } else {
    if (!Add(segment.dataStart, segment.size, &end)) end = bound;
    Element first;
    if (ReadElement(cur, segment.dataStart, &first) && first.size != kUnknown) {
      // The Info element comes early, after a seek head at most.
      uint64_t pos = segment.dataStart;
      for (int i = 0; i < 4 && ReadElement(cur, pos, &first) && first.size != kUnknown; ++i) {
        uint64_t next;
        if (!Add(first.dataStart, first.size, &next) || next > end) break;
        if (first.id == kInfo) {
          walk.captured = InfoTime(cur, first.dataStart, next);
          break;
        }
        pos = next;
      }
    }
  }
  walk.length = FinalLength(view, end, bound, headerEnd);
  return walk;
}

}  // namespace formats
