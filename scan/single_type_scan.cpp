#include "scan/single_type_scan.h"

#include "carvers/mail.h"
#include "carvers/media.h"
#include "platform/fs.h"
#include "scan/recovery_scan.h"

namespace scan {
namespace {

// Offers every sector to one carver.
class OneCarverVisitor : public ChunkVisitor {
 public:
  OneCarverVisitor(app::WindowModel& w, platform::Device& device, carvers::CarveFn carve,
                   const std::string& folder)
      : w_(w), device_(device), carve_(carve), folder_(folder) {}

  void Visit(uint64_t c, const uint8_t* chunk) override {
    for (uint32_t i = 0; i < carvers::kChunkSectors; ++i) {
      carvers::SectorBytes bytes{chunk + i * platform::kSectorSize,
                                 carvers::kChunkBytes - i * platform::kSectorSize};
      carve_(c + i, device_, bytes, folder_, w_.shell());
    }
  }

 private:
  app::WindowModel& w_;
  platform::Device& device_;
  carvers::CarveFn carve_;
  const std::string& folder_;
};

void RunSingleTypeScan(app::WindowModel& w, const char* folderName, carvers::CarveFn carve) {
  if (w.Text(app::id::kOutputFolder).empty()) {
    w.MessageBox("please pick up  a directory to save recovery files.", "error");
    return;
  }
  if (w.Text(app::id::kSourceDrive).empty()) {
    w.MessageBox("please pick up a suorce drive to recover files.", "error");
    return;
  }
  // No question, and neither the root nor a picture folder is made.
  const std::string folder = SingleTypeFolder(w, folderName);
  platform::CreateFolder(folder);

  ScanRange range = OpenScanRange(w);
  if (!range.device) return;
  w.shell().Busy(true);
  OneCarverVisitor visitor(w, *range.device, carve, folder);
  RunChunkLoop(w, *range.device, range.start, range.end, LoopEnd::kAtEnd, visitor);
  range.device.reset();
  w.shell().Busy(false);
}

}  // namespace

std::string SingleTypeFolder(const app::WindowModel& w, const char* folderName) {
  return w.Text(app::id::kOutputFolder) + folderName;
}

void PstRecovery(app::WindowModel& w) { RunSingleTypeScan(w, "pst", carvers::CarvePst); }

void OfficeRecovery(app::WindowModel& w) { RunSingleTypeScan(w, "Office", carvers::CarveOffice); }

}  // namespace scan
