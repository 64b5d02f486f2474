#include "carvers/mail.h"

#include <cstring>

#include "base/numbers.h"

namespace carvers {
namespace {

const uint8_t kPstSignature[4] = {0x21, 0x42, 0x44, 0x4E};  // !BDN
constexpr size_t kPstSizeOffset = 168;

const uint8_t kDbxSignature[4] = {0xCF, 0xAD, 0x12, 0xFE};
constexpr size_t kDbxSizeOffset = 36;
// A DBX copy runs this far past the size its header gives.
constexpr uint32_t kDbxSlack = 5000000;
constexpr uint32_t kDbxMaxSectors = 3800000;
// The folder name stored in the file: up to 100 bytes, zero-terminated.
constexpr uint32_t kStoredNameOffset = 0x25C1;
constexpr uint32_t kStoredNameMax = 100;

// Takes the stored name from the first pass and renames the closed file
// after it: Name.dbx, or Name(sector).dbx when that name is taken.
class DbxRules : public CopyRules {
 public:
  DbxRules(const std::string& folder, uint64_t sector) : folder_(folder), sector_(sector) {}

  uint32_t EndOfPass(uint8_t* buffer, uint32_t count, uint64_t&) override {
    if (firstPass_) {
      firstPass_ = false;
      // Only bytes this read delivered: a short first read gives no name.
      uint32_t end =
          count < kStoredNameOffset + kStoredNameMax ? count : kStoredNameOffset + kStoredNameMax;
      for (uint32_t i = kStoredNameOffset; i < end && buffer[i] != 0; ++i) {
        name_.push_back(static_cast<char>(buffer[i]));
      }
    }
    return count;
  }

  std::string AfterClose(const std::string& path, FileSink& sink) override {
    if (name_.empty()) return path;
    const uint8_t first = static_cast<uint8_t>(name_[0]);
    if (first < '0' || first > 0x7F) return path;
    std::string renamed = RenameInFolder(sink, path, folder_, name_, "dbx");
    if (renamed.empty()) {
      renamed = RenameInFolder(sink, path, folder_,
                               name_ + "(" + base::FormatDecimal(sector_) + ")", "dbx");
    }
    return renamed.empty() ? path : renamed;
  }

 private:
  const std::string& folder_;
  uint64_t sector_;
  bool firstPass_ = true;
  std::string name_;
};

}  // namespace

int CarvePst(uint64_t sector, SectorBytes bytes, const std::string& folder,
              CarveContext& context) {
  if (std::memcmp(bytes.data, kPstSignature, sizeof(kPstSignature)) != 0) return 0;
  const uint64_t bound = SectorsFor(ReadLe32(bytes.data + kPstSizeOffset));
  FixedCopy rules;
  return CopyOut(sector, context, folder, "pst", bound, rules);
}

int CarveDbx(uint64_t sector, SectorBytes bytes, const std::string& folder,
              CarveContext& context) {
  if (std::memcmp(bytes.data, kDbxSignature, sizeof(kDbxSignature)) != 0) return 0;
  const uint32_t size = ReadLe32(bytes.data + kDbxSizeOffset);
  if (size == 0) return 0;
  uint32_t bound = (size + kDbxSlack) / platform::kSectorSize;  // the sum wraps in 32 bits
  if (bound > kDbxMaxSectors) bound = kDbxMaxSectors;
  DbxRules rules(folder, sector);
  return CopyOut(sector, context, folder, "dbx", bound, rules);
}

const FileType kPstType = {"pst", "personal folder files of mail programs (.pst)", "PST",
                          FolderRule::kBeside, nullptr, '!', CarvePst, false, false};
const FileType kDbxType = {"dbx", "mail folder files (.dbx), named after the mail folder they hold",
                          "DBX", FolderRule::kBeside, nullptr, 0xCF, CarveDbx, false, false};

}  // namespace carvers
