#include "formats/reader.h"

namespace formats {
namespace {

using namespace detail;

constexpr uint64_t kMinPackets = 8;

// The number of packets of `size` bytes whose sync byte (at `sync` inside each) is 0x47, from
// the start on, stopping at the first one that is not or at `bound`.
uint64_t CountPackets(Cursor& cur, uint64_t size, uint64_t sync, uint64_t bound) {
  uint64_t n = 0;
  for (uint64_t pos = 0; pos + size <= bound; pos += size, ++n) {
    if (cur.Byte(pos + sync) != 0x47) break;
    if (cur.Byte(pos + size - 1) < 0) break;  // a packet cut by the end of the data
  }
  return n;
}

}  // namespace

Walk WalkTransportStream(ByteView& view, uint64_t bound) {
  Walk walk;
  walk.family = Family::Movie;
  Cursor cur(view, 188 * 192 * 8);
  // 188-byte packets start with the sync byte; 192-byte ones carry a 4-byte time stamp first.
  const struct { uint64_t size, sync; const char* extension; } kinds[] = {{188, 0, "mts"}, {192, 4, "m2ts"}};
  for (const auto& k : kinds) {
    const uint64_t n = CountPackets(cur, k.size, k.sync, bound);
    if (n >= kMinPackets) {
      walk.valid = true;
      walk.extension = k.extension;
      walk.length = n * k.size;
      return walk;
    }
  }
  return walk;
}

}  // namespace formats
