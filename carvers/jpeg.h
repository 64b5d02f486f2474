// Pictures: JPEG in its EXIF form (FF D8 FF E1) and its JFIF form (FF D8 FF E0).
#pragma once

#include "carvers/carver.h"

namespace carvers {

int CarveJpeg(uint64_t sector, platform::Device& device, SectorBytes bytes,
              const std::string& folder, Owner& owner);
int CarveJpeg0(uint64_t sector, platform::Device& device, SectorBytes bytes,
               const std::string& folder, Owner& owner);

}  // namespace carvers
