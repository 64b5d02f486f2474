#include "scan/recovery_scan.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/fs.h"
#include "scan/dispatch.h"
#include "scan/folders.h"
#include "base/numbers.h"

namespace scan {
namespace {

using platform::Buttons;
using platform::BoxKind;

constexpr uint64_t kSector = platform::kSectorSize;

// Offers each sector to the dispatch table's enabled rows, in table order.
class DispatchVisitor : public ChunkVisitor {
 public:
  DispatchVisitor(app::WindowModel& w, platform::Device& device) : w_(w), device_(device) {
    const DispatchRow* rows = DispatchTable();
    for (size_t i = 0; i < DispatchRowCount(); ++i) {
      if (RowEnabled(w, rows[i])) enabled_ |= 1u << i;
    }
  }

  void Visit(uint64_t c, const uint8_t* chunk) override {
    const DispatchRow* rows = DispatchTable();
    const FirstByteFilter& filter = DispatchFilter();
    MarkAlwaysRowsOn();
    for (uint32_t i = 0; i < carvers::kChunkSectors; ++i) {
      const uint8_t* sector = chunk + i * kSector;
      uint32_t candidates = filter[sector[0]] & enabled_;
      while (candidates != 0) {
        unsigned row = static_cast<unsigned>(__builtin_ctz(candidates));
        candidates &= candidates - 1;
        carvers::SectorBytes bytes{sector, carvers::kChunkBytes - i * kSector};
        rows[row].carve(c + i, device_, bytes, *rows[row].folder, w_.shell());
      }
    }
  }

 private:
  // The picture carvers run on every sector; their flags read 1 after a scan.
  void MarkAlwaysRowsOn() {
    const DispatchRow* rows = DispatchTable();
    for (size_t i = 0; i < DispatchRowCount(); ++i) {
      if (rows[i].always) w_.*(rows[i].flag) = 1;
    }
  }

  app::WindowModel& w_;
  platform::Device& device_;
  uint32_t enabled_ = 0;
};

struct FreeDeleter {
  void operator()(uint8_t* p) const { std::free(p); }
};

}  // namespace

ScanRange OpenScanRange(app::WindowModel& w) {
  ScanRange range;
  const std::string& startText = w.Text(app::id::kStartSector);
  range.start = startText.empty() ? 0 : base::ParseDecimal(startText);
  const uint64_t n = w.m_sourceCapacity / kSector;
  if (range.start >= n) {
    w.MessageBox("start sector number > dirve size !", "error");
    return range;
  }
  const std::string& endText = w.Text(app::id::kEndSector);
  range.end = endText.empty() ? n : base::ParseDecimal(endText);
  if (range.end > n) range.end = n;

  // Scans only read, so the drive is opened read-only: a write-protected
  // card can be scanned, and nothing can be written to it by mistake.
  range.device = w.opener().Open(platform::kDevicePrefix + w.m_sourceDrive,
                                 platform::Access::kRead);
  if (!range.device) {
    w.AppMessageBox("open source disk error");
    return range;
  }
  range.device->Seek(range.start * kSector);
  return range;
}

void RunChunkLoop(app::WindowModel& w, platform::Device& device, uint64_t start, uint64_t end,
                  LoopEnd loopEnd, ChunkVisitor& visitor) {
  std::unique_ptr<uint8_t, FreeDeleter> chunk(
      static_cast<uint8_t*>(std::aligned_alloc(4096, carvers::kChunkBytes)));
  if (!chunk) return;
  const uint64_t last = loopEnd == LoopEnd::kOneChunkPastEnd ? end + carvers::kChunkSectors : end;
  uint64_t c = start;
  for (;;) {
    // The buffer is offered as if zeroed before the read: the bytes a short
    // read did not fill, or all of them after a failed read, are zeros.
    // Zeroing only those keeps a full read to one copy of the data.
    uint32_t got = 0;
    bool ok = device.Read(chunk.get(), carvers::kChunkBytes, &got);
    std::memset(chunk.get() + (ok ? got : 0), 0, carvers::kChunkBytes - (ok ? got : 0));
    if (ok && got == 0) {
      w.MessageBox("hit the end of the drive !", "the end", Buttons::kOk, BoxKind::kNotice);
      break;
    }
    if (!ok) {
      // A failed read leaves the position where it was; without moving on,
      // every later read would fail the same way and the rest of the drive
      // would never be scanned. The chunk itself is offered as zeros.
      device.Seek((c + carvers::kChunkSectors) * kSector);
    }
    visitor.Visit(c, chunk.get());
    w.SetText(app::id::kProgress, base::FormatDecimal(c * kSector));
    w.SetText(app::id::kSectorNum, base::FormatDecimal(c));
    c += carvers::kChunkSectors;
    if (!(c <= last)) break;
  }
}

void StartRecovery(app::WindowModel& w) {
  g_outputRoot = w.Text(app::id::kOutputFolder);
  if (g_outputRoot.empty()) {
    w.MessageBox("please pick up  a directory to save recovered files.", "error");
    return;
  }
  if (w.MessageBox(g_outputRoot, "Save Picture in this folder ?", Buttons::kYesNo,
                   BoxKind::kQuestion) != platform::Answer::kYes) {
    return;
  }
  platform::CreateFolder(g_outputRoot);
  g_jpeg0Folder = g_outputRoot + "/JPEG0";
  platform::CreateFolder(g_jpeg0Folder);
  g_jpegFolder = g_outputRoot + "/JPEG";
  platform::CreateFolder(g_jpegFolder);

  if (w.Text(app::id::kSourceDrive).empty()) {
    w.MessageBox("please select a SD card to recover.", "error");
    return;
  }
  ScanRange range = OpenScanRange(w);
  if (!range.device) return;

  w.shell().Busy(true);
  DispatchVisitor visitor(w, *range.device);
  RunChunkLoop(w, *range.device, range.start, range.end, LoopEnd::kOneChunkPastEnd, visitor);
  range.device.reset();
  w.shell().Busy(false);
}

}  // namespace scan
