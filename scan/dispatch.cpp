#include "scan/dispatch.h"

#include <set>

#include "carvers/jpeg.h"
#include "carvers/mail.h"
#include "carvers/media.h"
#include "carvers/office_docs.h"
#include "scan/folders.h"

namespace scan {
namespace {

using W = app::WindowModel;

using namespace carvers;

const DispatchRow kRows[] = {
    {"JPEG", &W::m_recoverJpeg, true, CarveJpeg, &g_jpegFolder, 0xFF},
    {"DOC", &W::m_recoverDoc, false, CarveDoc, &g_docFolder, 0xD0},
    {"QBB", &W::m_recoverQbb, false, CarveQbb, &g_qbbFolder, 0x45},
    {"PST", &W::m_recoverPst, false, CarvePst, &g_pstFolder, '!'},
    {"BMP", &W::m_recoverBmp, false, CarveBmp, &g_bmpFolder, 'B'},
    {"AVI", &W::m_recoverAvi, false, CarveAvi, &g_aviFolder, 'R'},
    {"DBX", &W::m_recoverDbx, false, CarveDbx, &g_dbxFolder, 0xCF},
    {"OFFICE", &W::m_recoverOffice, false, CarveOffice, &g_officeFolder, 0x00},
    {"Excel", &W::m_recoverExcel, false, CarveExcel, &g_excelFolder, 0xD0},
    {"ACCESS(MDB)", &W::m_recoverAccess, false, CarveAccess, &g_accessFolder, 0x00},
    {"JPEG0", &W::m_recoverJpeg0, true, CarveJpeg0, &g_jpeg0Folder, 0xFF},
    {"CoreDraw", &W::m_recoverCorelDraw, false, CarveCorelDraw, &g_corelDrawFolder, 'R'},
    {"PDF", &W::m_recoverPdf, false, CarvePdf, &g_pdfFolder, '%'},
    // The MCD signature lies at offset 14: offered every sector.
    {"MCD", &W::m_recoverMcd, false, CarveMcd, &g_mcdFolder, -1},
    // Progress files go into the JPEG folder, which has no other row.
    {"Progress", &W::m_recoverProgress, false, CarveProgress, &g_jpegFolder, 0x1A},
};
static_assert(std::size(kRows) <= 32, "the first-byte filter holds one bit per row");

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

bool RowEnabled(const app::WindowModel& w, const DispatchRow& row) {
  return row.always || w.*(row.flag) == 1;
}

std::vector<std::string> EnabledFolders(const app::WindowModel& w) {
  std::vector<std::string> folders;
  std::set<std::string> seen;
  for (const DispatchRow& row : kRows) {
    if (RowEnabled(w, row) && seen.insert(*row.folder).second) folders.push_back(*row.folder);
  }
  return folders;
}

const FirstByteFilter& DispatchFilter() {
  static const FirstByteFilter filter = BuildFilter();
  return filter;
}

}  // namespace scan
