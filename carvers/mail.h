// Mail stores whose header gives their size: personal folder files
// (CarvePst) and mail folder files (CarveDbx, renamed after the folder name
// stored in the file).
#pragma once

#include "carvers/carver.h"

namespace carvers {

int CarvePst(uint64_t sector, platform::Device& device, SectorBytes bytes,
             const std::string& folder, Owner& owner);
int CarveDbx(uint64_t sector, platform::Device& device, SectorBytes bytes,
             const std::string& folder, Owner& owner);

}  // namespace carvers
