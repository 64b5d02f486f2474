#include "scan/dispatch.h"

#include "carvers/jpeg.h"
#include "scan/folders.h"

namespace scan {
namespace {

using W = app::WindowModel;

const DispatchRow kRows[] = {
    {"JPEG", &W::m_recoverJpeg, true, carvers::CarveJpeg, &g_jpegFolder, 0xFF},
    {"JPEG0", &W::m_recoverJpeg0, true, carvers::CarveJpeg0, &g_jpeg0Folder, 0xFF},
};

FirstByteFilter BuildFilter() {
  FirstByteFilter filter{};
  for (size_t i = 0; i < std::size(kRows); ++i) {
    for (int b = 0; b < 256; ++b) {
      if (kRows[i].firstByte < 0 || kRows[i].firstByte == b) filter[b] |= 1u << i;
    }
  }
  return filter;
}

}  // namespace

const DispatchRow* DispatchTable() { return kRows; }
size_t DispatchRowCount() { return std::size(kRows); }

const FirstByteFilter& DispatchFilter() {
  static const FirstByteFilter filter = BuildFilter();
  return filter;
}

}  // namespace scan
