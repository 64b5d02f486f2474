#include <algorithm>
#include <cstring>

#include "formats/walk.h"

namespace formats {

size_t SpanView::Read(uint64_t offset, void* out, size_t n) {
  if (offset >= bytes_.size()) return 0;
  const size_t count = std::min<uint64_t>(n, bytes_.size() - offset);
  std::memcpy(out, bytes_.data() + offset, count);
  return count;
}

}  // namespace formats
