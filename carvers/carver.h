// The contract every carver follows.
//
// A carver is offered one sector of a scan. If the sector's bytes carry its
// file type's signature, it copies the file out of the device, from that
// sector on, into folder + "/" + sector number + "." + extension, in passes of
// up to 512 sectors, and returns 1; otherwise it returns 0 without touching
// anything. Whatever happens, the device is left at the position it had when
// the carver was called, so the calling scan reads on where it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/device.h"
#include "platform/shell.h"

namespace carvers {

constexpr uint32_t kChunkBytes = 0x40000;  // 512 sectors
constexpr uint32_t kChunkSectors = 512;

// The offered sector inside the caller's chunk buffer. `available` counts the
// bytes from the sector's start to the end of that buffer (at least 512), so
// a carver that looks into the next sector knows whether the buffer holds it.
struct SectorBytes {
  const uint8_t* data;
  size_t available;
};

// Who shows a carver's message boxes.
using Owner = platform::Shell;

// The folder is passed by reference: the carvers only read it, and a sector
// that starts no file then costs no copy of the text.
using CarveFn = int (*)(uint64_t sector, platform::Device& device, SectorBytes bytes,
                        const std::string& folder, Owner& owner);

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
  // After the output file was closed (renames).
  virtual void AfterClose(const std::string& path) { (void)path; }
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

// The shared steps after a matched signature: build the output path, save
// the position, create the file ("Create File failed !" with the path when
// that fails), copy up to `boundSectors` sectors in passes of 512, close,
// run the closing step and put the position back. Returns 1 when a file was
// written, 0 when it could not be created. An empty folder text (a type
// ticked while no output folder was set) is refused like a missing folder,
// so that nothing is ever written into the root of the file system.
int CopyOut(uint64_t sector, platform::Device& device, const std::string& folder,
            const char* extension, uint64_t boundSectors, CopyRules& rules, Owner& owner);

// folder + "/" + decimal sector number (empty for 0) + "." + extension.
std::string OutputPath(const std::string& folder, uint64_t sector, const char* extension);

// Whether the `length` bytes at `offset` from the start of the offered
// sector equal `expected`. Bytes beyond the caller's buffer (a test that
// looks into the sector after the last one of a chunk) are read from the
// device, whose position is put back; a sector that cannot be read there
// fails the test.
bool MatchesAt(uint64_t sector, platform::Device& device, SectorBytes bytes, size_t offset,
               const uint8_t* expected, size_t length);

// Renames the closed output file `path` to folder + "/" + name + "." +
// extension, never over an existing file. A name taken from a file's own
// bytes that would leave the folder ("." or "..", or one holding "/") is
// not used. Returns whether the file now has the new name; on any failure
// (also a path too long for the file system) it keeps its old one.
bool RenameInFolder(const std::string& path, const std::string& folder, const std::string& name,
                    const char* extension);

// Little-endian fields of a header.
uint32_t ReadLe32(const uint8_t* p);

// Sectors needed for `bytes`: bytes / 512, rounded up.
uint64_t SectorsFor(uint64_t bytes);

}  // namespace carvers
