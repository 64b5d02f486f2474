// Databases, media and drawings: the carvers whose copy bound is a constant
// or a size field of the header, and the two whose copies end at an end
// marker (PDF documents and MCD drawings). None renames its file.
#pragma once

#include "carvers/carver.h"

namespace carvers {

int CarveOffice(uint64_t sector, platform::Device& device, SectorBytes bytes,
                const std::string& folder, Owner& owner);
int CarveAccess(uint64_t sector, platform::Device& device, SectorBytes bytes,
                const std::string& folder, Owner& owner);
int CarveQbb(uint64_t sector, platform::Device& device, SectorBytes bytes,
             const std::string& folder, Owner& owner);
int CarveProgress(uint64_t sector, platform::Device& device, SectorBytes bytes,
                  const std::string& folder, Owner& owner);
int CarveCorelDraw(uint64_t sector, platform::Device& device, SectorBytes bytes,
                   const std::string& folder, Owner& owner);
int CarveBmp(uint64_t sector, platform::Device& device, SectorBytes bytes,
             const std::string& folder, Owner& owner);
int CarveAvi(uint64_t sector, platform::Device& device, SectorBytes bytes,
             const std::string& folder, Owner& owner);
int CarvePdf(uint64_t sector, platform::Device& device, SectorBytes bytes,
             const std::string& folder, Owner& owner);
int CarveMcd(uint64_t sector, platform::Device& device, SectorBytes bytes,
             const std::string& folder, Owner& owner);

}  // namespace carvers
