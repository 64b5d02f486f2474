// The output folder table: the output root and one folder text per file
// type, kept for the life of the process. The recovery scan and the type
// check boxes write them; the scan hands each to its carver.
#pragma once

#include <string>

namespace scan {

extern std::string g_outputRoot;
extern std::string g_jpegFolder;
extern std::string g_jpeg0Folder;
extern std::string g_qbbFolder;
extern std::string g_pstFolder;
extern std::string g_dbxFolder;
extern std::string g_officeFolder;
extern std::string g_bmpFolder;
extern std::string g_accessFolder;
extern std::string g_mp3Folder;
extern std::string g_corelDrawFolder;
extern std::string g_aviFolder;
extern std::string g_docFolder;
extern std::string g_excelFolder;
extern std::string g_pdfFolder;
extern std::string g_mcdFolder;

// Empties every folder text, as at program start (tests run many windows in
// one process).
void ResetFolderTable();

}  // namespace scan
