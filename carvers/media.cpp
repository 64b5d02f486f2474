#include "carvers/media.h"

#include <cstring>

namespace carvers {
namespace {

const uint8_t kOfficeSignature[8] = {0x00, 0x01, 0x00, 0x00, 'S', 't', 'a', 'n'};
const uint8_t kAccessSignature[16] = {0x00, 0x01, 0x00, 0x00, 'S', 't', 'a', 'n',
                                      'd',  'a',  'r',  'd',  ' ', 'J', 'e', 't'};
const uint8_t kQbbSignature[4] = {0x45, 0x86, 0x00, 0x00};
const uint8_t kProgressStart[3] = {0x1A, 0x00, 0x00};
const uint8_t kRiff[4] = {'R', 'I', 'F', 'F'};
const uint8_t kCdrForm[3] = {'C', 'D', 'R'};
const uint8_t kAviForm[4] = {'A', 'V', 'I', ' '};
const uint8_t kBmpSignature[2] = {'B', 'M'};
const uint8_t kPdfSignature[4] = {'%', 'P', 'D', 'F'};
const uint8_t kMcdSignature[11] = {'V', 'e', 'c', 't', 'o', 'r', 'W', 'o', 'r', 'k', 's'};
constexpr size_t kMcdSignatureOffset = 14;

const uint8_t kPdfEnd[4] = {'E', 'O', 'F', 0x0A};
const uint8_t kMcdEnd[9] = {'M', 'p', 0xCC, 0x00, 0x01, 0x00, 0x00, 0x00, 'T'};

constexpr uint64_t kBmpMaxSectors = 200000;
constexpr uint64_t kAviMaxSectors = 1800000;
// A RIFF file that is not a video (a sound file, say) is copied this far.
constexpr uint64_t kOtherRiffSectors = 1200;

template <size_t N>
bool Has(SectorBytes bytes, size_t offset, const uint8_t (&expected)[N]) {
  return std::memcmp(bytes.data + offset, expected, N) == 0;
}

// A copy of a fixed number of sectors with no end detection.
int CopyFixed(uint64_t sector, CarveContext& context, const std::string& folder,
              const char* extension, uint64_t bound) {
  FixedCopy rules;
  return CopyOut(sector, context, folder, extension, bound, rules);
}

uint64_t AtMost(uint64_t value, uint64_t cap) { return value > cap ? cap : value; }

}  // namespace

int CarveOffice(uint64_t sector, SectorBytes bytes, const std::string& folder,
              CarveContext& context) {
  if (!Has(bytes, 0, kOfficeSignature)) return 0;
  return CopyFixed(sector, context, folder, "dat", 56000);
}

int CarveAccess(uint64_t sector, SectorBytes bytes, const std::string& folder,
              CarveContext& context) {
  if (!Has(bytes, 0, kAccessSignature)) return 0;
  return CopyFixed(sector, context, folder, "mdb", 5000);
}

int CarveQbb(uint64_t sector, SectorBytes bytes, const std::string& folder,
              CarveContext& context) {
  if (!Has(bytes, 0, kQbbSignature)) return 0;
  return CopyFixed(sector, context, folder, "QBB", 18000);
}

int CarveProgress(uint64_t sector, SectorBytes bytes, const std::string& folder,
              CarveContext& context) {
  if (!Has(bytes, 0, kProgressStart) || bytes.data[43] != 0xFF || bytes.data[40] != '%') return 0;
  return CopyFixed(sector, context, folder, "ntf", 24000);
}

int CarveCorelDraw(uint64_t sector, SectorBytes bytes, const std::string& folder,
              CarveContext& context) {
  if (!Has(bytes, 0, kRiff) || !Has(bytes, 8, kCdrForm)) return 0;
  return CopyFixed(sector, context, folder, "cdr", 3200);
}

int CarveBmp(uint64_t sector, SectorBytes bytes, const std::string& folder,
              CarveContext& context) {
  if (!Has(bytes, 0, kBmpSignature)) return 0;
  const uint64_t bound = AtMost(SectorsFor(ReadLe32(bytes.data + 2)), kBmpMaxSectors);
  return CopyFixed(sector, context, folder, "bmp", bound);
}

int CarveAvi(uint64_t sector, SectorBytes bytes, const std::string& folder,
              CarveContext& context) {
  if (!Has(bytes, 0, kRiff)) return 0;
  // The RIFF chunk size does not count the 8 bytes of the RIFF header.
  const uint64_t bound = Has(bytes, 8, kAviForm)
                             ? SectorsFor(uint64_t{ReadLe32(bytes.data + 4)} + 8)
                             : kOtherRiffSectors;
  return CopyFixed(sector, context, folder, "avi", AtMost(bound, kAviMaxSectors));
}

int CarvePdf(uint64_t sector, SectorBytes bytes, const std::string& folder,
              CarveContext& context) {
  if (!Has(bytes, 0, kPdfSignature)) return 0;
  MarkerEnd rules(kPdfEnd, sizeof(kPdfEnd));
  return CopyOut(sector, context, folder, "pdf", 14000, rules);
}

int CarveMcd(uint64_t sector, SectorBytes bytes, const std::string& folder,
              CarveContext& context) {
  if (!Has(bytes, kMcdSignatureOffset, kMcdSignature)) return 0;
  MarkerEnd rules(kMcdEnd, sizeof(kMcdEnd));
  return CopyOut(sector, context, folder, "mcd", 14000, rules);
}

const FileType kQbbType = {"qbb", "QBB backup files (.QBB)", "QBB", FolderRule::kBeside, nullptr,
                          0x45, CarveQbb, false, false};
const FileType kOfficeType = {"office", "database files (.dat)", "Office", FolderRule::kBeside,
                             nullptr, 0x00, CarveOffice, false, false};
// The WAV box only carries its check mark: no folder, no carver.
const FileType kWavType = {"wav", "nothing yet: no scan looks for sound files (see avi)", nullptr,
                          FolderRule::kBeside, nullptr, -1, nullptr, false, false};
const FileType kBmpType = {"bmp", "bitmap pictures (.bmp)", "bmp", FolderRule::kBeside, nullptr,
                          'B', CarveBmp, false, false};
const FileType kAccessType = {"access", "ACCESS (MDB) database files (.mdb)", "Access",
                             FolderRule::kBeside, nullptr, 0x00, CarveAccess, false, false};
// MP3 makes its folder, but nothing is carved into it.
const FileType kMp3Type = {"mp3", "nothing yet: makes its folder, but no scan looks for MP3 files",
                          "MP3", FolderRule::kBeside, nullptr, -1, nullptr, false, false};
const FileType kCorelDrawType = {"coredraw", "CoreDraw drawings (.cdr)", "CDR", FolderRule::kBeside,
                                nullptr, 'R', CarveCorelDraw, false, false};
const FileType kAviType = {
    "avi", "AVI videos (.avi); other RIFF files, such as WAV sound, are saved as .avi too", "AVI",
    FolderRule::kBeside, nullptr, 'R', CarveAvi, false, false};
const FileType kPdfType = {"pdf", "PDF documents (.pdf), up to their first end-of-file line", "PDF",
                          FolderRule::kBeside, nullptr, '%', CarvePdf, false, false};
// The MCD signature lies at offset 14: offered every sector.
const FileType kMcdType = {"mcd", "MCD drawings (.mcd)", "MCD", FolderRule::kBeside, nullptr, -1,
                          CarveMcd, false, false};
// Progress files go into the JPEG folder; their box sets that folder to OUT + "new".
const FileType kProgressType = {"progress", "Progress files (.ntf), saved into OUT/JPEG", "new",
                               FolderRule::kBeside, "jpeg", 0x1A, CarveProgress, false, false};

}  // namespace carvers
