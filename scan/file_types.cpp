#include "scan/file_types.h"

#include <algorithm>
#include <vector>

#include "carvers/jpeg.h"
#include "carvers/mail.h"
#include "carvers/media.h"
#include "carvers/office_docs.h"
#include "carvers/photo_video.h"
#include "window/control_ids.h"

namespace scan {
namespace {

namespace id = app::id;
using namespace carvers;

// One line per type, in the order a sector is offered to them.
const TypeEntry kTypes[] = {
    {&kJpegType, id::kCheckJpeg},
    {&kDocType, id::kCheckDoc},
    {&kQbbType, id::kCheckQbb},
    {&kPstType, id::kCheckPst},
    {&kBmpType, id::kCheckBmp},
    {&kAviType, id::kCheckAvi},
    {&kDbxType, id::kCheckDbx},
    {&kOfficeType, id::kCheckOffice},
    {&kExcelType, id::kCheckExcel},
    {&kAccessType, id::kCheckAccess},
    {&kJpeg0Type, id::kCheckJpeg0},
    {&kCorelDrawType, id::kCheckCorelDraw},
    {&kPdfType, id::kCheckPdf},
    {&kMcdType, id::kCheckMcd},
    {&kProgressType, id::kCheckProgress},
    {&kWavType, id::kCheckWav},
    {&kMp3Type, id::kCheckMp3},
    {&kPngType, 0},
    {&kGifType, 0},
    {&kTiffType, 0},
    {&kRawType, 0},
    {&kHeicType, 0},
    {&kVideoType, 0},
    {&kJpegxType, 0},
    {&kWebpType, 0},
};
static_assert(std::size(kTypes) <= 32, "a scan's first-byte filter holds one bit per type");

std::vector<size_t> BuildBoxOrder() {
  std::vector<size_t> order;
  for (size_t i = 0; i < std::size(kTypes); ++i) {
    if (kTypes[i].boxId != 0) order.push_back(i);
  }
  std::sort(order.begin(), order.end(),
            [](size_t a, size_t b) { return kTypes[a].boxId < kTypes[b].boxId; });
  return order;
}

}  // namespace

std::span<const TypeEntry> FileTypes() { return kTypes; }

int FindType(const std::string& name) {
  for (size_t i = 0; i < std::size(kTypes); ++i) {
    if (name == kTypes[i].type->name) return static_cast<int>(i);
  }
  return -1;
}

int FindTypeOfBox(int boxId) {
  for (size_t i = 0; i < std::size(kTypes); ++i) {
    if (boxId != 0 && kTypes[i].boxId == boxId) return static_cast<int>(i);
  }
  return -1;
}

size_t FolderSlot(size_t index) {
  const char* shared = kTypes[index].type->sharesFolderOf;
  if (shared == nullptr) return index;
  const int owner = FindType(shared);
  return owner < 0 ? index : static_cast<size_t>(owner);
}

std::span<const size_t> TypesInBoxOrder() {
  static const std::vector<size_t> order = BuildBoxOrder();
  return order;
}

}  // namespace scan
