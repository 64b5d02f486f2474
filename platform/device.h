// Raw access to drives, image files and output files.
//
// A Device is an open drive or file with a byte position, in the manner the
// rest of Lumisave expects of a raw drive: reads and writes at the position,
// absolute and relative positioning, flush. Reads are all or nothing: a read
// that meets an error after part of its count fails whole, leaves the
// position where it began, and leaves the caller's buffer as it was (or, for
// a plain file, zeroes again the part it had filled). A read at or past the
// end returns 0 bytes; a read across the end returns what remains.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

constexpr uint32_t kSectorSize = 512;

// What the drive-geometry request reports. Linux has no cylinders, so the
// whole length is given as cylinders of one 512-byte sector: the capacity
// (the product of the four fields) is the device's length rounded down to
// whole sectors, and no tail beyond a last whole cylinder is lost.
struct DiskGeometry {
  int64_t cylinders = 0;
  uint32_t tracksPerCylinder = 0;
  uint32_t sectorsPerTrack = 0;
  uint32_t bytesPerSector = 0;
};

class Device {
 public:
  virtual ~Device() = default;
  Device() = default;
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  // Reads up to `count` bytes at the position into `buffer`; `*got` is the
  // count read (less than `count` only at the end of the device).
  virtual bool Read(void* buffer, uint32_t count, uint32_t* got) = 0;
  // Writes `count` bytes at the position; `*written` is the count written.
  virtual bool Write(const void* buffer, uint32_t count, uint32_t* written) = 0;
  virtual bool Seek(uint64_t offset) = 0;  // from the beginning
  virtual bool Skip(int64_t delta) = 0;    // from the position
  virtual bool SeekEnd() = 0;
  virtual uint64_t Position() const = 0;
  virtual bool Flush() = 0;
  // Length in bytes (a block device's size, an image's file size).
  virtual bool Length(uint64_t* bytes) = 0;
  // Re-reads the partition table after sector 0 was rewritten (block devices
  // only; a no-op elsewhere).
  virtual void RereadPartitions() {}
};

using DeviceHandle = std::unique_ptr<Device>;

// A device over another that passes every call on; wrappers override what
// they change.
class DeviceWrapper : public Device {
 public:
  explicit DeviceWrapper(DeviceHandle inner) : inner_(std::move(inner)) {}
  bool Read(void* buffer, uint32_t count, uint32_t* got) override {
    return inner_->Read(buffer, count, got);
  }
  bool Write(const void* buffer, uint32_t count, uint32_t* written) override {
    return inner_->Write(buffer, count, written);
  }
  bool Seek(uint64_t offset) override { return inner_->Seek(offset); }
  bool Skip(int64_t delta) override { return inner_->Skip(delta); }
  bool SeekEnd() override { return inner_->SeekEnd(); }
  uint64_t Position() const override { return inner_->Position(); }
  bool Flush() override { return inner_->Flush(); }
  bool Length(uint64_t* bytes) override { return inner_->Length(bytes); }
  void RereadPartitions() override { inner_->RereadPartitions(); }

 protected:
  DeviceHandle inner_;
};

enum class Access { kRead, kReadWrite };

// Opens an existing image file or block device node. Block devices are read
// with O_DIRECT so that an unreadable sector fails on its own. A writable open
// of a block device is exclusive (O_EXCL): a mounted device is refused.
// Returns null on failure with errno set.
DeviceHandle OpenPath(const std::string& path, Access access);

// Creates (or empties) an output file for writing; a file it creates is given
// to the invoking user (platform/owner.h).
DeviceHandle CreateOutputFile(const std::string& path);

// Opens an existing file for reading and writing; null when it does not exist.
DeviceHandle OpenExistingFile(const std::string& path);

// Opens a log file for writing at its end: with `create`, made when missing
// and emptied; without, only an existing one. A symbolic link at `path` is
// not followed, and anything but a regular file (a FIFO, a device, a folder)
// is refused with EINVAL, without blocking. Null with errno set on failure.
DeviceHandle OpenLogFile(const std::string& path, bool create);

bool GeometryOf(Device& device, DiskGeometry* geometry);

// The geometry reported for a device of `length` bytes.
DiskGeometry GeometryForLength(uint64_t length);

}  // namespace platform
