#include "diskutil/volume_copy.h"

#include <functional>
#include <string>

#include "base/chunk.h"
#include "base/numbers.h"
#include "diskutil/clone.h"
#include "diskutil/overlap_refusal.h"
#include "diskutil/volume_copy_engine.h"
#include "platform/drives.h"
#include "platform/volumes.h"
#include "commands/drive_checks.h"
#include "window/progress_strip.h"

namespace diskutil {
namespace {

using platform::Access;
using app::Answer;
using app::BoxKind;
using app::Buttons;
using platform::DeviceHandle;

constexpr uint32_t kCopyChunk = base::kChunkBytes;
constexpr uint32_t kRawChunk = 10485760;
constexpr uint32_t kSector = platform::kSectorSize;

// A volume text is a root, "D:\"; the device is "\\.\" and the text without
// its last character. Only a drive letter is opened that way: any other text
// (a friendly name, a path) names no volume, so that nothing but the volume
// the text names can be opened.
DeviceHandle OpenVolume(app::WindowModel& w, const std::string& root, Access access) {
  const std::string name = root.empty() ? root : root.substr(0, root.size() - 1);
  if (name.size() != 2 || platform::DriveLetterOf(name) == 0) return nullptr;
  return w.opener().Open(platform::kDevicePrefix + name, access);
}

// The volume's size as the free-space query gives its total.
bool VolumeSize(const platform::VolumeTable& table, const std::string& root, uint64_t* size) {
  uint64_t caller = 0, free = 0;
  return table.DiskFreeSpace(root, &caller, size, &free);
}

bool Confirm(app::WindowModel& w, const std::string& question) {
  return w.AppMessageBox(question, Buttons::kYesNo, BoxKind::kQuestion) == Answer::kYes;
}

bool ConfirmOverwrite(app::WindowModel& w) {
  return Confirm(w, "The data on " + w.Text(app::id::kVolumeRoot) +
                        " will lost !!! Proceed (Yes/No) ?");
}

void ShowBad(app::WindowModel& w, uint64_t badBytes) {
  w.SetText(app::id::kVolumeProgress, "bad:" + std::to_string(badBytes));
}

struct VolumePair {
  DeviceHandle source;
  DeviceHandle target;
};

// Opens the source (read-only: it is only read) and then the target; a
// mounted target is refused. False when either cannot be opened (the message
// was shown).
bool OpenPair(app::WindowModel& w, const std::string& source, const std::string& target,
              VolumePair* pair) {
  // A volume text is a root (a letter, a colon, a backslash); the drive is
  // named without the backslash.
  const auto drive = [](const std::string& root) {
    return root.empty() ? root : root.substr(0, root.size() - 1);
  };
  if (RefuseOverlap(w, drive(source), drive(target))) return false;
  pair->source = OpenVolume(w, source, Access::kRead);
  if (!pair->source) {
    w.AppMessageBox("open source disk error");
    return false;
  }
  // A mounted volume or one on the system's drive is refused in words first.
  if (!app::RefuseWriteTarget(w, target)) pair->target = OpenVolume(w, target, Access::kReadWrite);
  if (!pair->target) {
    pair->source.reset();
    w.AppMessageBox("open target disk error");
    return false;
  }
  return true;
}

// Shows a pass's events in field 1043: the bytes of each unreadable chunk
// that could not be read ("bad:N", counted within the chunk), and after each
// chunk what `shown` makes of the bytes handled.
class FieldReporter : public base::Reporter {
 public:
  FieldReporter(app::WindowModel& w, uint32_t chunkBytes, bool showBad,
                std::function<uint64_t(uint64_t)> shown)
      : w_(w), chunkSectors_(chunkBytes / kSector), showBad_(showBad), shown_(std::move(shown)) {}
  void OnProgress(const base::Progress& p) override {
    w_.SetText(app::id::kVolumeProgress, base::FormatDecimal(shown_(p.done)));
  }
  void OnUnreadable(uint64_t sector, uint64_t sectors) override {
    // Only the sectors of a retried chunk are shown, not a chunk that ends a copy.
    if (!showBad_) return;
    const uint64_t chunk = sector / chunkSectors_;
    if (!inChunk_ || chunk != chunk_) badBytes_ = 0;
    inChunk_ = true;
    chunk_ = chunk;
    badBytes_ += sectors * kSector;
    ShowBad(w_, badBytes_);
  }

 private:
  app::WindowModel& w_;
  uint64_t chunkSectors_;
  bool showBad_;
  std::function<uint64_t(uint64_t)> shown_;
  bool inChunk_ = false;
  uint64_t chunk_ = 0;
  uint64_t badBytes_ = 0;
};

// Copy and DVDCopy: the engine copies; field 1043 shows the bytes copied and
// "done" at the end. A write that fails stops the copy with a message
// instead of "done".
void CopyChunks(app::WindowModel& w, VolumePair& pair, bool retrySectors) {
  VolumeCopySettings settings;
  settings.source = pair.source.get();
  settings.target = pair.target.get();
  settings.chunkBytes = kCopyChunk;
  settings.retrySectors = retrySectors;
  // Ctrl-C on the command line stops a copy after the chunk in hand.
  settings.stop = &g_interruptRequest;
  FieldReporter reporter(w, kCopyChunk, retrySectors, [](uint64_t done) { return done; });
  app::StripReporter strip(w, 1, false);
  base::TeeReporter shown(reporter, &strip);
  settings.stop = &w.runStop;
  // Copy ends quietly at an unreadable chunk, as at the end of the source.
  if (RunVolumeCopy(settings, shown) == VolumeCopyEnd::kWriteFailed) {
    w.AppMessageBox("write target disk error");
    return;
  }
  w.SetText(app::id::kVolumeProgress, "done");
}

// RawRecovery's first step: can the volume's first sector be read? Its
// failures are told and the pass goes on all the same.
void CheckBootSectorReadable(app::WindowModel& w, const std::string& root) {
  DeviceHandle volume = OpenVolume(w, root, Access::kRead);
  if (!volume) {
    w.AppMessageBox("open target disk error");
    return;
  }
  base::AlignedBuffer sector = base::MakeAlignedBuffer(kSector);
  if (!sector) {
    w.MessageBox("no memory to get boot sector", "error");
    return;
  }
  uint32_t got = 0;
  if (!volume->Read(sector.get(), kSector, &got)) w.AppMessageBox("read boot sector error.");
}

}  // namespace

void VolumeTarget(app::WindowModel& w) {
  const app::Control& list = w.volumeList();
  std::string root;
  if (list.selected >= 0 && static_cast<size_t>(list.selected) < list.rows.size() &&
      !list.rows[static_cast<size_t>(list.selected)].empty()) {
    root = list.rows[static_cast<size_t>(list.selected)][0];
  }
  w.m_volumeRoot = root;
  w.SetText(app::id::kVolumeRoot, root);
}

void Copy(app::WindowModel& w) {
  if (!ConfirmOverwrite(w)) return;
  const std::string source = w.Text(app::id::kSourceName);
  const std::string target = w.Text(app::id::kVolumeRoot);
  // A size that cannot be queried counts as 0: an unknown target size next
  // to a known source size still asks before copying.
  const platform::VolumeTable table(w.management().sources());
  uint64_t sourceSize = 0, targetSize = 0;
  if (!VolumeSize(table, source, &sourceSize)) {
    sourceSize = 0;
    w.AppMessageBox("GetDiskFreeSpaceEx source drive error !");
  }
  if (!VolumeSize(table, target, &targetSize)) {
    targetSize = 0;
    w.AppMessageBox("GetDiskFreeSpaceEx target drive error !");
  }
  if (targetSize < sourceSize && !Confirm(w, "Target<Source,Continue ? (Yes/No)")) return;
  VolumePair pair;
  if (!OpenPair(w, source, target, &pair)) return;
  CopyChunks(w, pair, false);
}

void DvdCopy(app::WindowModel& w) {
  if (!ConfirmOverwrite(w)) return;
  VolumePair pair;
  if (!OpenPair(w, w.Text(app::id::kSourceName), w.Text(app::id::kVolumeRoot), &pair)) return;
  CopyChunks(w, pair, true);
}

void RawRecovery(app::WindowModel& w) {
  const std::string root = w.Text(app::id::kVolumeRoot);
  if (root.empty()) {
    w.MessageBox("No Target drive selected !", "error");
    return;
  }
  CheckBootSectorReadable(w, root);
  uint64_t toGo = 0;
  const bool sized = VolumeSize(platform::VolumeTable(w.management().sources()), root, &toGo);
  // The pass only reads, so a mounted volume can be read-tested too.
  DeviceHandle volume = OpenVolume(w, root, Access::kRead);
  if (!volume) {
    w.AppMessageBox("open target disk error");
    return;
  }
  // Without a size from the query, the count starts at the device's length.
  if (!sized && !volume->Length(&toGo)) toGo = 0;
  VolumeCopySettings settings;
  settings.source = volume.get();
  settings.chunkBytes = kRawChunk;
  settings.retrySectors = true;
  settings.stop = &g_interruptRequest;
  FieldReporter reporter(w, kRawChunk, true, [toGo](uint64_t done) { return toGo - done; });
  app::StripReporter strip(w, 1, false);
  base::TeeReporter shown(reporter, &strip);
  settings.stop = &w.runStop;
  if (RunVolumeCopy(settings, shown) == VolumeCopyEnd::kNoMemory) {
    w.MessageBox("no memory to copy", "error");
    return;
  }
  w.SetText(app::id::kVolumeProgress, "done");
}

}  // namespace diskutil
