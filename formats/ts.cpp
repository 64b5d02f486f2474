#include "formats/reader.h"

namespace formats {
namespace {

using namespace detail;

constexpr uint64_t kMinPackets = 8;

// The length of the run of packets of `size` bytes whose sync byte (at `sync` inside each) is
// 0x47, from the start on, stopping at the first one that is not or at `bound`; a last packet
// cut by the end of the data counts up to where the data ends. *packets counts the whole ones.
uint64_t PacketRun(ByteView& view, Cursor& cur, uint64_t size, uint64_t sync, uint64_t bound,
                   uint64_t* packets) {
  uint64_t pos = 0;
  for (*packets = 0; pos + size <= bound; pos += size, ++*packets) {
    if (cur.Byte(pos + sync) != 0x47) break;
    if (cur.Byte(pos + size - 1) < 0) return ReadableEnd(view, pos + sync + 1, pos + size);
  }
  return pos;
}

}  // namespace

Walk WalkTransportStream(ByteView& view, uint64_t bound) {
  Walk walk;
  walk.family = Family::Movie;
  Cursor cur(view);
  // 188-byte packets start with the sync byte; 192-byte ones carry a 4-byte time stamp first.
  const struct { uint64_t size, sync; const char* extension; } kinds[] = {{188, 0, "mts"}, {192, 4, "m2ts"}};
  for (const auto& k : kinds) {
    uint64_t packets;
    const uint64_t length = PacketRun(view, cur, k.size, k.sync, bound, &packets);
    if (packets >= kMinPackets) {
      walk.valid = true;
      walk.extension = k.extension;
      walk.length = length;
      return walk;
    }
  }
  return walk;
}

}  // namespace formats
