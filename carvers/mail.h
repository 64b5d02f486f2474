// Mail stores whose header gives their size: personal folder files
// (CarvePst) and mail folder files (CarveDbx, renamed after the folder name
// stored in the file).
#pragma once

#include "carvers/carver.h"

namespace carvers {

int CarvePst(uint64_t sector, SectorBytes bytes, const std::string& folder,
              CarveContext& context);
int CarveDbx(uint64_t sector, SectorBytes bytes, const std::string& folder,
              CarveContext& context);

extern const FileType kPstType;
extern const FileType kDbxType;

}  // namespace carvers
