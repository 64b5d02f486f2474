// The contract every carver follows, and the descriptor each file type
// declares beside its carver.
//
// A carver is offered one sector of a scan. If the sector's bytes carry its
// file type's signature, it copies the file out of the drive, from that
// sector on, into folder + "/" + sector number + "." + extension, in passes of
// up to 512 sectors, and returns 1; otherwise it returns 0 without touching
// anything. It reads the drive only through the source reader and writes
// only through the file sink, and tells the scan's reporter of each file it
// wrote and each file it could not create.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/chunk.h"
#include "base/run_report.h"
#include "platform/device.h"
#include "platform/fs.h"

namespace carvers {

using base::kChunkBytes;
using base::kChunkSectors;

// The offered sector inside the caller's chunk buffer. `available` counts the
// bytes from the sector's start to the end of that buffer (at least 512), so
// a carver that looks into the next sector knows whether the buffer holds it.
struct SectorBytes {
  const uint8_t* data;
  size_t available;
};

// Where carvers read the drive: positioned reads that leave the device's
// position as it was. The scan reads its chunks through the same reader.
class SourceReader {
 public:
  explicit SourceReader(platform::Device& device) : device_(device) {}
  virtual ~SourceReader() = default;
  // Returns: false when the read met an unreadable sector (nothing is
  // delivered); on true, `*got` short of `count` means the end of the drive.
  virtual bool ReadAt(uint64_t offset, void* buffer, uint32_t count, uint32_t* got);
  // Whether `sector` is already known to be unreadable in this run.
  virtual bool KnownUnreadable(uint64_t sector) {
    (void)sector;
    return false;
  }
  // Counts sectors as unreadable for the rest of the run without reading them.
  virtual void MarkUnreadable(uint64_t firstSector, uint64_t sectors) {
    (void)firstSector;
    (void)sectors;
  }
  // Reads `sectors` sectors at `offset` one at a time into their places in
  // `buffer`: an unreadable one is left as zeros and its index appended to
  // `unreadable`. Stops at the end of the drive, and once the drive has gone
  // (every sector not read then counts as unreadable). Returns: the bytes
  // delivered, unreadable sectors included.
  uint32_t ReadSectors(uint64_t offset, uint8_t* buffer, uint32_t sectors,
                       std::vector<uint32_t>* unreadable);
  // Tells where the scan is: nothing before `offset` is wanted again soon
  // (a reader that keeps blocks may drop them and read ahead from there).
  virtual void SetFloor(uint64_t offset) { (void)offset; }
  // The errno of the last failed read, 0 before any.
  int lastError() const { return error_; }
  // Whether a read said the device is no longer there (ENODEV, ENXIO).
  bool gone() const;
  platform::Device& device() { return device_; }

 protected:
  std::atomic<int> error_{0};

 private:
  platform::Device& device_;
};

// An output file being written.
class OutputFile {
 public:
  virtual ~OutputFile() = default;
  // Returns: false when the bytes could not all be written (error() says why).
  virtual bool Write(const uint8_t* data, uint32_t count) = 0;
  // Returns: false when closing showed a failed write (error() says why).
  virtual bool Close() { return true; }
  // Removes the file, which is closed: a cut file is not left behind.
  virtual void Remove() {}
  // The errno of the first failure, 0 when none (or unknown).
  virtual int error() const { return 0; }
  // The path the file was created under (the name asked for, or the next
  // free one).
  std::string path;
};

// Where carvers write their files.
class FileSink {
 public:
  virtual ~FileSink() = default;
  // Returns: the file created at `path`, or at the next free name when that
  // one is taken (N.ext, N_1.ext, N_2.ext ...; nothing is replaced and no
  // link followed), or null with `*error` set when it cannot be created.
  virtual std::unique_ptr<OutputFile> Create(const std::string& path, int* error);
  // Returns: whether the closed file `from` now has the name `to`; never
  // replaces an existing file.
  virtual bool Rename(const std::string& from, const std::string& to);
  // Gives a closed file its capture time as its modification time.
  virtual void SetModified(const std::string& path, int64_t seconds);

 private:
  // The folder of the last file created, kept open: a run's files go into
  // a few folders, and a folder swapped for a link meanwhile is not followed.
  std::string folderPath_;
  platform::Folder folder_;
};

// A copy that ended the scan: a write (or create) failed with the errno
// `error`, or a stop was asked for (error 0). The file in hand was removed;
// a later run goes on from `sector`, the sector that file starts at. `path`
// names the file.
struct CopyHalt {
  bool halted = false;
  int error = 0;
  uint64_t sector = 0;
  std::string path;
};

class CopyRules;

// How far past the start of the chunk in hand a copy may read before it
// waits for the scan: within the blocks the read cache holds ahead.
constexpr uint64_t kCopyLead = 2u << 20;

// A copy that waits for the scan to catch up with it: the file in hand, its
// rules and where its next pass starts (see CarveContext::copyHorizon).
struct WaitingCopy {
  std::unique_ptr<OutputFile> out;
  std::unique_ptr<CopyRules> rules;
  const char* type = "";
  uint64_t sector = 0;     // the file's first sector
  uint64_t offset = 0;     // drive byte offset of the next pass
  uint64_t length = 0;     // bytes written so far
  uint64_t remaining = 0;  // sectors still to copy
  std::vector<base::ByteRun> runs;
};

// What a carver works with during one scan.
struct CarveContext {
  SourceReader& source;
  FileSink& sink;
  base::Reporter& reporter;
  const char* type = "";  // the command-line name of the type being carved
  // The sector where the last transport stream carved ends: a stream is
  // found once, at its first packet, not again at each later sector where
  // its packets line up with a sector start.
  uint64_t streamEnd = 0;
  // A buffer of kChunkBytes, aligned for direct reads, that the copies use
  // one after the other: a scan gets it once rather than once per file.
  uint8_t* copyBuffer = nullptr;
  // When set and true, a copy stops between passes: the run is to end.
  const std::atomic<bool>* stop = nullptr;
  // Set when a copy ended the scan.
  CopyHalt halt;
  // Below UINT64_MAX, a copy of known length does not read the drive past
  // this byte offset by itself: it waits in `waiting` and the scan moves it
  // on as it reads on (ResumeCopies), so that the scan and the copy share
  // each read of the drive however long the file. The scan keeps the
  // horizon a little ahead of the chunk in hand.
  uint64_t copyHorizon = UINT64_MAX;
  std::vector<WaitingCopy> waiting;
  // Set while the scan is in a long run of chunks that fail whole and has
  // stopped retrying them sector by sector: a copy pass that fails whole
  // then counts as unreadable too, without a read per sector.
  bool retriesPaused = false;
};

// The folder is passed by reference: the carvers only read it, and a sector
// that starts no file then costs no copy of the text.
using CarveFn = int (*)(uint64_t sector, SectorBytes bytes, const std::string& folder,
                        CarveContext& context);

// Where a type's folder lies: beside the output folder, named by plain
// concatenation (OUT + "QBB"), or inside it (OUT + "/JPEG").
enum class FolderRule { kBeside, kInside };

// A file type as it declares itself beside its carver: the command-line
// name, what it finds (for help texts), its folder, the first bytes its
// signatures can start with (for the scan's first-byte filter), and its
// carver (null for a type that only carries its check mark or its folder).
struct FileType {
  const char* name;
  const char* recovers;
  const char* folderName;  // null: no folder of its own
  FolderRule folderRule;
  const char* sharesFolderOf;  // another type's name whose folder it uses, or null
  int firstByte;               // -1: a signature not at offset 0, offered every sector
  CarveFn carve;
  bool always;  // carved by every recovery scan, ticked or not
  bool photo;   // one of the picture and video types
  // With firstByte -1: whether a file of this type can start with `byte`
  // (the first bytes of its signatures), or null for any byte.
  bool (*mayStartWith)(int byte) = nullptr;
};

// How one file type is copied once its signature matched: the shared steps
// call these hooks, and each type fills in what it needs.
class CopyRules {
 public:
  virtual ~CopyRules() = default;
  // After each pass's read of `count` bytes into `buffer`: returns the bytes
  // to write for this pass, and may set `remaining` to 0 to end the copy.
  virtual uint32_t EndOfPass(uint8_t* buffer, uint32_t count, uint64_t& remaining) {
    (void)buffer;
    (void)remaining;
    return count;
  }
  // After the output file was closed: returns the file's final path (a
  // rule that renames returns the new one).
  virtual std::string AfterClose(const std::string& path, FileSink& sink) {
    (void)sink;
    return path;
  }
  // Returns: a copy of these rules in their present state when a copy under
  // them may wait for the scan (their hooks use nothing but the bytes of the
  // pass in hand), else null: such a copy runs to its end at once.
  virtual std::unique_ptr<CopyRules> Keep() const { return nullptr; }
};

// A copy of up to the bound's sectors with no end rule: it may wait.
class FixedCopy : public CopyRules {
 public:
  std::unique_ptr<CopyRules> Keep() const override { return std::make_unique<FixedCopy>(); }
};

// Ends the copy right after the first occurrence of a marker in a pass
// (letters compared without regard to case). A pass shorter than the marker
// counts as a find at its start: the copy then ends with the first k - 1
// bytes of the copy buffer.
class MarkerEnd : public CopyRules {
 public:
  MarkerEnd(const uint8_t* marker, int32_t length) : marker_(marker), length_(length) {}
  uint32_t EndOfPass(uint8_t* buffer, uint32_t count, uint64_t& remaining) override;

 private:
  const uint8_t* marker_;
  int32_t length_;
};

// The shared steps after a matched signature: build the output path, create
// the file (the reporter hears kCreateFailed with the path when that fails),
// copy up to `boundSectors` sectors in passes of 512, close, run the closing
// step and report the file. Returns: 1 when a file was written, 0 when it
// could not be created. An empty folder text (a type ticked while no output
// folder was set) is refused like a missing folder, so that nothing is ever
// written into the root of the file system.
int CopyOut(uint64_t sector, CarveContext& context, const std::string& folder,
            const char* extension, uint64_t boundSectors, CopyRules& rules);

// CopyOut into `path` (the name already built). Returns: as CopyOut.
int CopyOutTo(uint64_t sector, CarveContext& context, const std::string& folder,
              const std::string& path, uint64_t boundSectors, CopyRules& rules);

// Moves every waiting copy on up to context.copyHorizon; a copy that reaches
// its end is closed and reported. Returns: false when one halted the scan
// (context.halt says which; the others still wait).
bool ResumeCopies(CarveContext& context);

// Ends the waiting copies of a scan that ends. Unless `abandon`, each is
// copied to its end first (moving `source`'s floor along with them); a copy
// that halts, and with `abandon` every one, has its file removed. Returns:
// the first sector of the earliest file removed, UINT64_MAX when none.
uint64_t SettleCopies(CarveContext& context, bool abandon);

// Creates `path` in `folder` through the sink; when it cannot be created
// (also for an empty folder text), the reporter hears kCreateFailed with the
// path, except for a full, read-only or failing disk (ENOSPC, EDQUOT, EROFS,
// EIO), which halts the scan at `sector` instead. Returns: the open file, or
// null.
std::unique_ptr<OutputFile> CreateOrTell(CarveContext& context, const std::string& folder,
                                         const std::string& path, uint64_t sector);

// Writes a pass of the file in hand. Returns: whether the copy goes on; when
// the write failed or a stop was asked for, the file is removed and the scan
// halted at `sector` (the file's first sector).
bool WriteOrHalt(CarveContext& context, OutputFile& out, uint64_t sector, const uint8_t* data,
                 uint32_t count);

// Closes the file in hand. Returns: whether it was written whole; otherwise
// it is removed and the scan halted at `sector`.
bool CloseOrHalt(CarveContext& context, OutputFile& out, uint64_t sector);

// Appends a run to a file's runs, joined to the last one when it goes on
// where that one ends.
void AddRun(std::vector<base::ByteRun>& runs, const base::ByteRun& run);

// folder + "/" + decimal sector number (empty for 0) + "." + extension.
std::string OutputPath(const std::string& folder, uint64_t sector, const char* extension);

// Whether the `length` bytes at `offset` from the start of the offered
// sector equal `expected`. Bytes beyond the caller's buffer (a test that
// looks into the sector after the last one of a chunk) are read through the
// source reader; a sector that cannot be read there fails the test.
bool MatchesAt(uint64_t sector, SourceReader& source, SectorBytes bytes, size_t offset,
               const uint8_t* expected, size_t length);

// Renames the closed output file `path` to folder + "/" + name + "." +
// extension, never over an existing file. A name taken from a file's own
// bytes that would leave the folder ("." or "..", or one holding "/") is
// not used, nor one that is not a safe name (platform::IsSafeName: valid
// UTF-8 without control characters). Returns: the new path, or empty when
// the file keeps its old name (on any failure, also a path too long for the
// file system).
std::string RenameInFolder(FileSink& sink, const std::string& path, const std::string& folder,
                           const std::string& name, const char* extension);

// Little-endian fields of a header.
uint32_t ReadLe32(const uint8_t* p);

// Sectors needed for `bytes`: bytes / 512, rounded up.
uint64_t SectorsFor(uint64_t bytes);

}  // namespace carvers
