#include "scan/type_boxes.h"

#include <iterator>

#include "platform/fs.h"
#include "scan/folders.h"

namespace scan {
namespace {

using W = app::WindowModel;
namespace id = app::id;

const TypeBox kBoxes[] = {
    {id::kCheckJpeg, "jpeg", "JPEG", &g_jpegFolder, &W::m_recoverJpeg,
     "JPEG photos in the EXIF form (always recovered, into OUT/JPEG)"},
    {id::kCheckQbb, "qbb", "QBB", &g_qbbFolder, &W::m_recoverQbb, "QBB backup files (.QBB)"},
    {id::kCheckPst, "pst", "PST", &g_pstFolder, &W::m_recoverPst,
     "personal folder files of mail programs (.pst)"},
    {id::kCheckDbx, "dbx", "DBX", &g_dbxFolder, &W::m_recoverDbx,
     "mail folder files (.dbx), named after the mail folder they hold"},
    {id::kCheckOffice, "office", "Office", &g_officeFolder, &W::m_recoverOffice,
     "database files (.dat)"},
    {id::kCheckWav, "wav", nullptr, nullptr, &W::m_recoverWav,
     "nothing yet: no scan looks for sound files (see avi)"},
    {id::kCheckBmp, "bmp", "bmp", &g_bmpFolder, &W::m_recoverBmp, "bitmap pictures (.bmp)"},
    {id::kCheckJpeg0, "jpeg0", "JPEG0", &g_jpeg0Folder, &W::m_recoverJpeg0,
     "JPEG photos in the JFIF form (always recovered, into OUT/JPEG0)"},
    {id::kCheckAccess, "access", "Access", &g_accessFolder, &W::m_recoverAccess,
     "ACCESS (MDB) database files (.mdb)"},
    {id::kCheckMp3, "mp3", "MP3", &g_mp3Folder, &W::m_recoverMp3,
     "nothing yet: makes its folder, but no scan looks for MP3 files"},
    {id::kCheckCorelDraw, "coredraw", "CDR", &g_corelDrawFolder, &W::m_recoverCorelDraw,
     "CoreDraw drawings (.cdr)"},
    {id::kCheckAvi, "avi", "AVI", &g_aviFolder, &W::m_recoverAvi,
     "AVI videos (.avi); other RIFF files, such as WAV sound, are saved as .avi too"},
    {id::kCheckDoc, "doc", "DOC", &g_docFolder, &W::m_recoverDoc,
     "word-processor documents (.doc), named after their title"},
    {id::kCheckExcel, "excel", "Excel", &g_excelFolder, &W::m_recoverExcel,
     "spreadsheet workbooks (.xls)"},
    {id::kCheckPdf, "pdf", "PDF", &g_pdfFolder, &W::m_recoverPdf,
     "PDF documents (.pdf), up to their first end-of-file line"},
    {id::kCheckMcd, "mcd", "MCD", &g_mcdFolder, &W::m_recoverMcd, "MCD drawings (.mcd)"},
    {id::kCheckProgress, "progress", "new", &g_jpegFolder, &W::m_recoverProgress,
     "Progress files (.ntf), saved into OUT/JPEG"},
};
static_assert(std::size(kBoxes) == std::size(app::kCheckBindings));

}  // namespace

const TypeBox* TypeBoxes() { return kBoxes; }
size_t TypeBoxCount() { return std::size(kBoxes); }

const TypeBox* FindTypeBox(int boxId) {
  for (const TypeBox& box : kBoxes) {
    if (box.boxId == boxId) return &box;
  }
  return nullptr;
}

const TypeBox* FindTypeBox(const std::string& name) {
  for (const TypeBox& box : kBoxes) {
    if (name == box.name) return &box;
  }
  return nullptr;
}

void OnTypeCheckBox(app::WindowModel& w, int boxId) {
  const TypeBox* box = FindTypeBox(boxId);
  // The WAV box only carries its check mark: no type of its own is searched.
  if (box == nullptr || box->folderName == nullptr) return;
  // A field that fails its check stops the exchange; the flags then keep
  // their values and the command goes on with them.
  w.UpdateData(true);
  g_outputRoot = w.Text(app::id::kOutputFolder);
  if (g_outputRoot.empty()) {
    w.AppMessageBox("Please input Directory to output files");
    return;
  }
  if (w.*(box->flag) == 0) return;
  *box->folder = g_outputRoot + box->folderName;
  platform::CreateFolder(*box->folder);
}

}  // namespace scan
