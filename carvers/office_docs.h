// Office documents in the compound-file form: word-processor documents
// (CarveDoc, renamed after the title found in their data) and spreadsheet
// workbooks (CarveExcel).
#pragma once

#include "carvers/carver.h"

namespace carvers {

// A document title: at most 128 bytes and a terminating zero.
constexpr size_t kTitleBytes = 129;

int CarveDoc(uint64_t sector, SectorBytes bytes, const std::string& folder,
              CarveContext& context);
int CarveExcel(uint64_t sector, SectorBytes bytes, const std::string& folder,
              CarveContext& context);

// Looks for the document title in the `count` bytes of one copy pass: the
// run of non-zero bytes (its last 128 at most) that precedes the property
// pattern 00 0C 10 00 00 02 00 00 00 1E, 8 bytes before the first word
// "Title" of the pass. Characters a file name cannot hold (* / : < > ? \ |)
// become blanks. Returns 1 and stores the title, zero-terminated, in
// `title`; returns 0 and leaves `title` alone when the pass has none.
int FindDocTitle(const uint8_t* pass, uint32_t count, char (&title)[kTitleBytes]);

extern const FileType kDocType;
extern const FileType kExcelType;

}  // namespace carvers
