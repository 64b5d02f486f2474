// Scans for one file type alone: every sector of the range goes to one
// carver, whose files go into the output root followed by the type's name
// (no separator), and no picture is looked for.
#pragma once

#include <string>

#include "window/window_model.h"

namespace scan {

// PstRecovery: personal folder files into root + "pst".
void PstRecovery(app::WindowModel& w);
// Office: database files into root + "Office".
void OfficeRecovery(app::WindowModel& w);

// The folder a single-type scan of `folderName` writes into, for the text
// of the output folder field.
std::string SingleTypeFolder(const app::WindowModel& w, const char* folderName);

}  // namespace scan
