// Databases, media and drawings: the carvers whose copy bound is a constant
// or a size field of the header, and the two whose copies end at an end
// marker (PDF documents and MCD drawings). None renames its file.
#pragma once

#include "carvers/carver.h"

namespace carvers {

int CarveOffice(uint64_t sector, SectorBytes bytes, const std::string& folder,
              CarveContext& context);
int CarveAccess(uint64_t sector, SectorBytes bytes, const std::string& folder,
              CarveContext& context);
int CarveQbb(uint64_t sector, SectorBytes bytes, const std::string& folder,
              CarveContext& context);
int CarveProgress(uint64_t sector, SectorBytes bytes, const std::string& folder,
              CarveContext& context);
int CarveCorelDraw(uint64_t sector, SectorBytes bytes, const std::string& folder,
              CarveContext& context);
int CarveBmp(uint64_t sector, SectorBytes bytes, const std::string& folder,
              CarveContext& context);
int CarveAvi(uint64_t sector, SectorBytes bytes, const std::string& folder,
              CarveContext& context);
int CarvePdf(uint64_t sector, SectorBytes bytes, const std::string& folder,
              CarveContext& context);
int CarveMcd(uint64_t sector, SectorBytes bytes, const std::string& folder,
              CarveContext& context);

extern const FileType kQbbType;
extern const FileType kOfficeType;
extern const FileType kWavType;
extern const FileType kBmpType;
extern const FileType kAccessType;
extern const FileType kMp3Type;
extern const FileType kCorelDrawType;
extern const FileType kAviType;
extern const FileType kPdfType;
extern const FileType kMcdType;
extern const FileType kProgressType;

}  // namespace carvers
