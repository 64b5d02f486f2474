// Pictures: JPEG in its EXIF form (FF D8 FF E1) and its JFIF form (FF D8 FF E0).
#pragma once

#include "carvers/carver.h"

namespace carvers {

int CarveJpeg(uint64_t sector, SectorBytes bytes, const std::string& folder,
              CarveContext& context);
int CarveJpeg0(uint64_t sector, SectorBytes bytes, const std::string& folder,
              CarveContext& context);

extern const FileType kJpegType;
extern const FileType kJpeg0Type;

}  // namespace carvers
