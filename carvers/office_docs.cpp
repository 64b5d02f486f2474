#include "carvers/office_docs.h"

#include <cstring>

#include "base/numbers.h"

namespace carvers {
namespace {

const uint8_t kCompoundFile[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
// Byte 32 of the file's second sector tells a document from a workbook.
constexpr size_t kKindOffset = 544;
const uint8_t kDocKind[6] = {0x0E, 0x00, 'b', 'j', 'b', 'j'};
const uint8_t kExcelKind[7] = {0xE2, 0x00, 0x00, 0x00, 0x5C, 0x00, 0x70};
constexpr size_t kDirectorySectorOffset = 48;
constexpr uint32_t kMaxSectors = 1380000;

const uint8_t kTitleWord[5] = {'T', 'i', 't', 'l', 'e'};
const uint8_t kTitlePattern[10] = {0x00, 0x0C, 0x10, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x1E};
constexpr size_t kMaxTitle = kTitleBytes - 1;

// Both tests of a compound file of one kind.
bool IsCompoundFile(uint64_t sector, SourceReader& source, SectorBytes bytes,
                    const uint8_t* kind, size_t kindLength) {
  return std::memcmp(bytes.data, kCompoundFile, sizeof(kCompoundFile)) == 0 &&
         MatchesAt(sector, source, bytes, kKindOffset, kind, kindLength);
}

// The first directory sector plus `extra`, wrapping in 32 bits, capped.
uint32_t CompoundBound(SectorBytes bytes, uint32_t extra) {
  uint32_t bound = ReadLe32(bytes.data + kDirectorySectorOffset) + extra;
  return bound > kMaxSectors ? kMaxSectors : bound;
}

bool IsNameUnsafe(uint8_t c) {
  return c == '*' || c == '/' || c == ':' || c == '<' || c == '>' || c == '?' || c == '\\' ||
         c == '|';
}

// Searches each pass for the title until one is found, then renames the
// closed file after it.
class DocRules : public CopyRules {
 public:
  explicit DocRules(const std::string& folder) : folder_(folder) {}

  uint32_t EndOfPass(uint8_t* buffer, uint32_t count, uint64_t&) override {
    if (title_[0] == 0) FindDocTitle(buffer, count, title_);
    return count;
  }

  std::string AfterClose(const std::string& path, FileSink& sink) override {
    const uint8_t first = static_cast<uint8_t>(title_[0]);
    if (first < '0' || first > 0x7F) return path;
    std::string renamed = RenameInFolder(sink, path, folder_, title_, "doc");
    return renamed.empty() ? path : renamed;
  }

 private:
  const std::string& folder_;
  char title_[kTitleBytes] = {};
};

}  // namespace

int FindDocTitle(const uint8_t* pass, uint32_t count, char (&title)[kTitleBytes]) {
  const int32_t n = static_cast<int32_t>(count);
  const int32_t f = base::FindMarker(pass, n, kTitleWord, sizeof(kTitleWord));
  if (n < 5 || f > n) return 0;
  const int32_t p = f - 1;
  if (p < 18) return 0;
  if (std::memcmp(pass + p - 17, kTitlePattern, sizeof(kTitlePattern)) != 0) return 0;
  const int32_t last = p - 18;
  if (pass[last] == 0) return 0;
  int32_t first = last;
  while (first > 0 && pass[first - 1] != 0 && static_cast<size_t>(last - first + 1) < kMaxTitle) {
    --first;
  }
  size_t length = static_cast<size_t>(last - first + 1);
  for (size_t i = 0; i < length; ++i) {
    const uint8_t c = pass[first + static_cast<int32_t>(i)];
    title[i] = static_cast<char>(IsNameUnsafe(c) ? ' ' : c);
  }
  title[length] = 0;
  return 1;
}

int CarveDoc(uint64_t sector, SectorBytes bytes, const std::string& folder,
              CarveContext& context) {
  if (!IsCompoundFile(sector, context.source, bytes, kDocKind, sizeof(kDocKind))) return 0;
  DocRules rules(folder);
  return CopyOut(sector, context, folder, "doc", CompoundBound(bytes, 5), rules);
}

int CarveExcel(uint64_t sector, SectorBytes bytes, const std::string& folder,
              CarveContext& context) {
  if (!IsCompoundFile(sector, context.source, bytes, kExcelKind, sizeof(kExcelKind))) return 0;
  FixedCopy rules;
  return CopyOut(sector, context, folder, "xls", CompoundBound(bytes, 2), rules);
}

const FileType kDocType = {"doc", "word-processor documents (.doc), named after their title", "DOC",
                          FolderRule::kBeside, nullptr, 0xD0, CarveDoc, false, false};
const FileType kExcelType = {"excel", "spreadsheet workbooks (.xls)", "Excel", FolderRule::kBeside,
                            nullptr, 0xD0, CarveExcel, false, false};

}  // namespace carvers
