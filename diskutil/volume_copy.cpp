#include "diskutil/volume_copy.h"

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/chunk_reads.h"
#include "platform/volumes.h"
#include "base/numbers.h"

namespace diskutil {
namespace {

using platform::Access;
using platform::Answer;
using platform::BoxKind;
using platform::Buttons;
using platform::ChunkRead;
using platform::DeviceHandle;

constexpr uint32_t kCopyChunk = 0x40000;
constexpr uint32_t kRawChunk = 10485760;
constexpr uint32_t kSector = platform::kSectorSize;

struct FreeDeleter {
  void operator()(uint8_t* p) const { std::free(p); }
};
using Block = std::unique_ptr<uint8_t, FreeDeleter>;

// A zero-filled block, or null when there is no memory for it.
Block ZeroedBlock(size_t bytes) { return Block(static_cast<uint8_t*>(std::calloc(bytes, 1))); }

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
  pair->source = OpenVolume(w, source, Access::kRead);
  if (!pair->source) {
    w.AppMessageBox("open source disk error");
    return false;
  }
  pair->target = OpenVolume(w, target, Access::kReadWrite);
  if (!pair->target) {
    pair->source.reset();
    w.AppMessageBox("open target disk error");
    return false;
  }
  return true;
}

// The loop of Copy and DVDCopy: each chunk read goes whole to the target,
// which is flushed after it. With `retrySectors` an unreadable chunk is read
// again sector by sector, else it ends the copy. The pass ends at the end of
// the source, also when the source tells its end by a failed read. A write
// that fails stops the copy with a message instead of "done".
void CopyChunks(app::WindowModel& w, VolumePair& pair, bool retrySectors) {
  std::vector<uint8_t> buffer(kCopyChunk);
  const platform::PassBound bound(*pair.source);
  uint64_t copied = 0;
  while (!bound.Reached(pair.source->Position())) {
    uint32_t got = 0;
    const ChunkRead read = platform::ReadZeroedChunk(*pair.source, buffer.data(), kCopyChunk, &got);
    if (read == ChunkRead::kEnd) break;
    if (read == ChunkRead::kFailed) {
      if (!retrySectors) break;
      const uint64_t bad = platform::ReadSectorsOneByOne(
          *pair.source, buffer.data(), kCopyChunk / kSector,
          [&w](uint64_t badBytes) { ShowBad(w, badBytes); });
      if (bound.EndsAt(bad, kCopyChunk)) break;
    }
    uint32_t written = 0;
    if (!pair.target->Write(buffer.data(), kCopyChunk, &written) || !pair.target->Flush()) {
      w.AppMessageBox("write target disk error");
      return;
    }
    copied += kCopyChunk;
    w.SetText(app::id::kVolumeProgress, base::FormatDecimal(copied));
  }
  w.SetText(app::id::kVolumeProgress, "done");
  pair.target->Flush();
}

// RawRecovery's first step: can the volume's first sector be read? Its
// failures are told and the pass goes on all the same.
void CheckBootSectorReadable(app::WindowModel& w, const std::string& root) {
  DeviceHandle volume = OpenVolume(w, root, Access::kRead);
  if (!volume) {
    w.AppMessageBox("open target disk error");
    return;
  }
  Block sector = ZeroedBlock(kSector);
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
  // One block for the whole pass.
  Block block = ZeroedBlock(kRawChunk);
  if (!block) {
    w.MessageBox("no memory to copy", "error");
    return;
  }
  const platform::PassBound bound(*volume);
  while (!bound.Reached(volume->Position())) {
    uint32_t got = 0;
    const ChunkRead read = platform::ReadZeroedChunk(*volume, block.get(), kRawChunk, &got);
    if (read == ChunkRead::kEnd) break;
    if (read == ChunkRead::kFailed) {
      const uint64_t bad = platform::ReadSectorsOneByOne(
          *volume, block.get(), kRawChunk / kSector,
          [&w](uint64_t badBytes) { ShowBad(w, badBytes); });
      if (bound.EndsAt(bad, kRawChunk)) break;
    }
    toGo -= kRawChunk;
    w.SetText(app::id::kVolumeProgress, base::FormatDecimal(toGo));
  }
  w.SetText(app::id::kVolumeProgress, "done");
}

}  // namespace diskutil
