#include "scan/folders.h"

namespace scan {

std::string g_outputRoot;
std::string g_jpegFolder;
std::string g_jpeg0Folder;
std::string g_qbbFolder;
std::string g_pstFolder;
std::string g_dbxFolder;
std::string g_officeFolder;
std::string g_bmpFolder;
std::string g_accessFolder;
std::string g_mp3Folder;
std::string g_corelDrawFolder;
std::string g_aviFolder;
std::string g_docFolder;
std::string g_excelFolder;
std::string g_pdfFolder;
std::string g_mcdFolder;

void ResetFolderTable() {
  for (std::string* s :
       {&g_outputRoot, &g_jpegFolder, &g_jpeg0Folder, &g_qbbFolder, &g_pstFolder, &g_dbxFolder,
        &g_officeFolder, &g_bmpFolder, &g_accessFolder, &g_mp3Folder, &g_corelDrawFolder,
        &g_aviFolder, &g_docFolder, &g_excelFolder, &g_pdfFolder, &g_mcdFolder}) {
    s->clear();
  }
}

}  // namespace scan
