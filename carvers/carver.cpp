#include "carvers/carver.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "base/numbers.h"
#include "platform/fs.h"

namespace carvers {
namespace {

// A new output file: every write checked, removed by its name in its folder.
class NewOutputFile : public OutputFile {
 public:
  explicit NewOutputFile(std::unique_ptr<platform::NewFile> file) : file_(std::move(file)) {}
  bool Write(const uint8_t* data, uint32_t count) override { return file_->WriteAll(data, count); }
  bool Close() override { return file_->Close(); }
  void Remove() override { file_->Remove(); }
  int error() const override { return file_->error(); }

 private:
  std::unique_ptr<platform::NewFile> file_;
};

// Failures that no later file can escape: the scan stops on them.
bool EndsTheRun(int error) {
  return error == ENOSPC || error == EDQUOT || error == EROFS || error == EIO;
}

void Halt(CarveContext& context, OutputFile& out, uint64_t sector, int error) {
  out.Remove();
  context.halt.halted = true;
  context.halt.error = error;
  context.halt.sector = sector;
  context.halt.path = out.path;
}

}  // namespace

bool WriteOrHalt(CarveContext& context, OutputFile& out, uint64_t sector, const uint8_t* data,
                 uint32_t count) {
  if (count != 0 && !out.Write(data, count)) {
    Halt(context, out, sector, out.error() != 0 ? out.error() : EIO);
    return false;
  }
  if (context.stop != nullptr && context.stop->load(std::memory_order_relaxed)) {
    Halt(context, out, sector, 0);
    return false;
  }
  return true;
}

bool CloseOrHalt(CarveContext& context, OutputFile& out, uint64_t sector) {
  if (out.Close()) return true;
  Halt(context, out, sector, out.error() != 0 ? out.error() : EIO);
  return false;
}

void AddRun(std::vector<base::ByteRun>& runs, const base::ByteRun& run) {
  if (run.length == 0) return;
  if (!runs.empty()) {
    base::ByteRun& last = runs.back();
    if (last.hole == run.hole && last.fileOffset + last.length == run.fileOffset &&
        (run.hole || last.driveOffset + last.length == run.driveOffset)) {
      last.length += run.length;
      return;
    }
  }
  runs.push_back(run);
}

std::unique_ptr<OutputFile> CreateOrTell(CarveContext& context, const std::string& folder,
                                         const std::string& path, uint64_t sector) {
  int error = 0;
  std::unique_ptr<OutputFile> out = folder.empty() ? nullptr : context.sink.Create(path, &error);
  if (out) return out;
  if (EndsTheRun(error)) {
    context.halt.halted = true;
    context.halt.error = error;
    context.halt.sector = sector;
    context.halt.path = path;
    return nullptr;
  }
  context.reporter.OnNotice(base::Notice::kCreateFailed, path);
  return nullptr;
}

bool SourceReader::ReadAt(uint64_t offset, void* buffer, uint32_t count, uint32_t* got) {
  const uint64_t saved = device_.Position();
  device_.Seek(offset);
  errno = 0;
  const bool ok = device_.Read(buffer, count, got);
  if (!ok) error_ = errno != 0 ? errno : EIO;
  device_.Seek(saved);
  return ok;
}

bool SourceReader::gone() const {
  const int error = error_;
  return error == ENODEV || error == ENXIO;
}

uint32_t SourceReader::ReadSectors(uint64_t offset, uint8_t* buffer, uint32_t sectors,
                                   std::vector<uint32_t>* unreadable) {
  const uint32_t size = platform::kSectorSize;
  for (uint32_t i = 0; i < sectors; ++i) {
    uint8_t* at = buffer + static_cast<size_t>(i) * size;
    if (gone()) {
      std::memset(at, 0, static_cast<size_t>(sectors - i) * size);
      for (uint32_t j = i; j < sectors; ++j) unreadable->push_back(j);
      return sectors * size;
    }
    uint32_t got = 0;
    if (!ReadAt(offset + static_cast<uint64_t>(i) * size, at, size, &got)) {
      std::memset(at, 0, size);
      unreadable->push_back(i);
      continue;
    }
    if (got < size) {
      std::memset(at + got, 0, size - got);
      return i * size + got;
    }
  }
  return sectors * size;
}

std::unique_ptr<OutputFile> FileSink::Create(const std::string& path, int* error) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = name.rfind('.');
  const std::string base = dot == std::string::npos ? name : name.substr(0, dot);
  const std::string ext = dot == std::string::npos ? "" : name.substr(dot + 1);
  if (!folder_ || folder != folderPath_) {
    folderPath_.clear();
    folder_ = platform::OpenFolder(folder);
    if (!folder_) {
      *error = errno;
      return nullptr;
    }
    folderPath_ = folder;
  }
  platform::CreatedFile created = platform::CreateNewFile(folder_, base, ext);
  if (!created.file) {
    *error = created.error;
    return nullptr;
  }
  auto out = std::make_unique<NewOutputFile>(std::move(created.file));
  out->path = (slash == std::string::npos ? "" : folder + "/") + created.name;
  return out;
}

bool FileSink::Rename(const std::string& from, const std::string& to) {
  return platform::RenameNoReplace(from, to);
}

void FileSink::SetModified(const std::string& path, int64_t seconds) {
  platform::SetModificationTime(path, seconds);
}

std::string OutputPath(const std::string& folder, uint64_t sector, const char* extension) {
  return folder + "/" + base::FormatDecimal(sector) + "." + extension;
}

uint32_t ReadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint64_t SectorsFor(uint64_t bytes) {
  return bytes / platform::kSectorSize + (bytes % platform::kSectorSize != 0 ? 1 : 0);
}

uint32_t MarkerEnd::EndOfPass(uint8_t* buffer, uint32_t count, uint64_t& remaining) {
  int32_t f = base::FindMarker(buffer, static_cast<int32_t>(count), marker_, length_);
  if (static_cast<uint32_t>(f) > count) return count;
  remaining = 0;
  return static_cast<uint32_t>(f + length_ - 1);
}

bool MatchesAt(uint64_t sector, SourceReader& source, SectorBytes bytes, size_t offset,
               const uint8_t* expected, size_t length) {
  if (offset + length <= bytes.available) {
    return std::memcmp(bytes.data + offset, expected, length) == 0;
  }
  // Read the sectors that hold the bytes.
  const size_t first = offset / platform::kSectorSize;
  const size_t last = (offset + length - 1) / platform::kSectorSize;
  alignas(512) uint8_t ahead[2 * platform::kSectorSize];
  const uint32_t want = static_cast<uint32_t>((last - first + 1) * platform::kSectorSize);
  if (want > sizeof(ahead)) return false;
  uint32_t got = 0;
  bool ok = source.ReadAt((sector + first) * platform::kSectorSize, ahead, want, &got);
  const size_t at = offset - first * platform::kSectorSize;
  return ok && got >= at + length && std::memcmp(ahead + at, expected, length) == 0;
}

std::string RenameInFolder(FileSink& sink, const std::string& path, const std::string& folder,
                           const std::string& name, const char* extension) {
  if (!platform::IsSafeName(name)) return {};
  std::string target = folder + "/" + name + "." + extension;
  return sink.Rename(path, target) ? target : std::string();
}

namespace {

// Most copies that may wait for the scan at once: past that, a copy runs to
// its end by itself (each waiting copy holds an open file).
constexpr size_t kMostWaiting = 32;

enum class Step { kDone, kWaiting, kHalted };

// Whether the drive is known to reach `end` (a byte offset).
bool WithinDrive(SourceReader& source, uint64_t end) {
  uint64_t length = 0;
  return source.device().Length(&length) && end <= length;
}

// Copies passes of `copy` under `rules` until its end, or until its next pass
// would start at `horizon` or later. At its end the file is closed, named by
// the rules and reported. Returns: kHalted when a write failed or a stop was
// asked for (the file removed, context.halt set).
Step Advance(WaitingCopy& copy, CopyRules& rules, CarveContext& context, uint64_t horizon) {
  OutputFile& out = *copy.out;
  uint8_t* const buffer = context.copyBuffer;
  // A failed read delivers nothing and leaves the read offset where it was.
  while (copy.remaining > 0) {
    if (copy.offset >= horizon) return Step::kWaiting;
    uint64_t passSectors = copy.remaining >= kChunkSectors ? kChunkSectors : copy.remaining;
    copy.remaining -= passSectors;
    uint32_t got = 0;
    const uint64_t at = copy.offset;
    const uint32_t passBytes = static_cast<uint32_t>(passSectors * platform::kSectorSize);
    // A pass that cannot be read whole is read sector by sector: the
    // readable sectors are kept, an unreadable one becomes 512 zero bytes.
    std::vector<uint32_t> unreadable;
    if (!context.source.ReadAt(at, buffer, passBytes, &got)) {
      if (context.retriesPaused && WithinDrive(context.source, at + passBytes)) {
        // A long dead area: the pass is a hole, as the scan counts it.
        std::memset(buffer, 0, passBytes);
        for (uint32_t i = 0; i < passSectors; ++i) unreadable.push_back(i);
        context.source.MarkUnreadable(at / platform::kSectorSize, passSectors);
        got = passBytes;
      } else {
        got = context.source.ReadSectors(at, buffer, static_cast<uint32_t>(passSectors),
                                         &unreadable);
      }
      // A drive that went away ends the copy with what was read.
      if (context.source.gone()) copy.remaining = 0;
    }
    copy.offset += got;
    uint32_t count = rules.EndOfPass(buffer, got, copy.remaining);
    if (!WriteOrHalt(context, out, copy.sector, buffer, count)) return Step::kHalted;
    // The bytes this pass read come from the drive, but for its unreadable
    // sectors; any written beyond them (an end rule's bytes after a short
    // read) did not.
    const uint64_t fromDrive = count < got ? count : got;
    uint64_t done = 0;
    for (uint32_t bad : unreadable) {
      const uint64_t from = static_cast<uint64_t>(bad) * platform::kSectorSize;
      if (from >= fromDrive) break;
      const uint64_t to = std::min<uint64_t>(from + platform::kSectorSize, fromDrive);
      AddRun(copy.runs, {copy.length + done, at + done, from - done, false});
      AddRun(copy.runs, {copy.length + from, 0, to - from, true});
      done = to;
    }
    AddRun(copy.runs, {copy.length + done, at + done, fromDrive - done, false});
    AddRun(copy.runs, {copy.length + fromDrive, 0, count - fromDrive, true});
    copy.length += count;
  }
  if (!CloseOrHalt(context, out, copy.sector)) return Step::kHalted;
  const std::string path = out.path;
  copy.out.reset();

  base::FileRecord record;
  record.path = rules.AfterClose(path, context.sink);
  record.type = copy.type;
  record.firstSector = copy.sector;
  record.length = copy.length;
  record.runs = std::move(copy.runs);
  context.reporter.OnFile(record);
  return Step::kDone;
}

}  // namespace

int CopyOutTo(uint64_t sector, CarveContext& context, const std::string& folder,
              const std::string& path, uint64_t boundSectors, CopyRules& rules) {
  WaitingCopy copy;
  copy.out = CreateOrTell(context, folder, path, sector);
  if (!copy.out) return 0;
  copy.type = context.type;
  copy.sector = sector;
  copy.offset = sector * platform::kSectorSize;
  copy.remaining = boundSectors;

  // The copy buffer starts zeroed: a first read shorter than an end marker
  // then yields zeros, never bytes left in memory by an earlier file.
  std::memset(context.copyBuffer, 0, kChunkBytes);
  const bool mayWait = context.copyHorizon != UINT64_MAX &&
                       context.waiting.size() < kMostWaiting;
  const Step step = Advance(copy, rules, context, mayWait ? context.copyHorizon : UINT64_MAX);
  if (step == Step::kHalted) return 0;
  if (step == Step::kWaiting) {
    copy.rules = rules.Keep();
    if (copy.rules) {
      context.waiting.push_back(std::move(copy));
    } else if (Advance(copy, rules, context, UINT64_MAX) == Step::kHalted) {
      return 0;
    }
  }
  return 1;
}

int CopyOut(uint64_t sector, CarveContext& context, const std::string& folder,
            const char* extension, uint64_t boundSectors, CopyRules& rules) {
  return CopyOutTo(sector, context, folder, OutputPath(folder, sector, extension), boundSectors,
                   rules);
}

bool ResumeCopies(CarveContext& context) {
  auto& waiting = context.waiting;
  for (size_t i = 0; i < waiting.size();) {
    WaitingCopy& copy = waiting[i];
    const Step step = Advance(copy, *copy.rules, context, context.copyHorizon);
    if (step == Step::kWaiting) {
      ++i;
      continue;
    }
    waiting.erase(waiting.begin() + static_cast<std::ptrdiff_t>(i));
    if (step == Step::kHalted) return false;
  }
  return true;
}

uint64_t SettleCopies(CarveContext& context, bool abandon) {
  uint64_t earliest = UINT64_MAX;
  if (!abandon) {
    // Onwards with the copies alone, the floor at the one furthest behind.
    while (!context.waiting.empty()) {
      uint64_t floor = UINT64_MAX;
      for (const WaitingCopy& copy : context.waiting) floor = std::min(floor, copy.offset);
      context.source.SetFloor(floor);
      context.copyHorizon = floor + kCopyLead;
      if (!ResumeCopies(context)) {
        earliest = context.halt.sector;
        break;
      }
    }
  }
  for (WaitingCopy& copy : context.waiting) {
    copy.out->Remove();
    earliest = std::min(earliest, copy.sector);
  }
  context.waiting.clear();
  return earliest;
}

}  // namespace carvers
