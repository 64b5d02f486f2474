// libFuzzer target for one structure walker, chosen at build time with -DWALKER=WalkPng etc.
// Any input must walk without a fault, and a walk never claims more than its bound or than
// the bytes there are.
#include <cstddef>
#include <cstdint>

#include "formats/walk.h"

#ifndef WALKER
#error "build with -DWALKER=<walker function>"
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const uint64_t bounds[] = {formats::kVideoBound, size / 2 + 1};
  for (uint64_t bound : bounds) {
    formats::SpanView view({data, size});
    const formats::Walk walk = formats::WALKER(view, bound);
    if (walk.length > bound || walk.length > size) __builtin_trap();
    if (!walk.valid && walk.length != 0) __builtin_trap();
    // The JPEG rows read their capture time by this header walk over any first pass.
    formats::SpanView again({data, size});
    (void)formats::JpegCaptureTime(again, bound);
  }
  return 0;
}
