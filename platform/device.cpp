#include "platform/device.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/owner.h"

namespace platform {
namespace {

int OpenRetrying(const char* path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(path, flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Reads `count` bytes at `offset`, reading on after short counts until the
// count is met or the file ends. Returns the count, or -1 on an error;
// `*filled` tells how much of the buffer was written either way.
int64_t PreadFully(int fd, uint8_t* buffer, uint64_t count, uint64_t offset,
                   uint64_t* filled) {
  uint64_t& done = *filled;
  done = 0;
  while (done < count) {
    ssize_t n = ::pread(fd, buffer + done, count - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<uint64_t>(n);
  }
  return static_cast<int64_t>(done);
}

int64_t PwriteFully(int fd, const uint8_t* buffer, uint64_t count, uint64_t offset) {
  uint64_t done = 0;
  while (done < count) {
    ssize_t n = ::pwrite(fd, buffer + done, count - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return done > 0 ? static_cast<int64_t>(done) : -1;
    done += static_cast<uint64_t>(n);
  }
  return static_cast<int64_t>(done);
}

// A file or a block device, with the position kept here so that every read
// and write is one positioned call.
class FdDevice : public Device {
 public:
  FdDevice(int fd, bool blockDevice) : fd_(fd), block_(blockDevice) {}
  ~FdDevice() override { ::close(fd_); }

  bool Read(void* buffer, uint32_t count, uint32_t* got) override {
    *got = 0;
    uint64_t filled = 0;
    int64_t n = PreadFully(fd_, static_cast<uint8_t*>(buffer), count, pos_, &filled);
    if (n < 0) {
      // A plain file is read straight into the caller's buffer; the part
      // this failed read filled is zeroed again, so no half read is left.
      std::memset(buffer, 0, filled);
      return false;
    }
    pos_ += static_cast<uint64_t>(n);
    *got = static_cast<uint32_t>(n);
    return true;
  }

  bool Write(const void* buffer, uint32_t count, uint32_t* written) override {
    *written = 0;
    dirty_ = true;
    int64_t n = PwriteFully(fd_, static_cast<const uint8_t*>(buffer), count, pos_);
    if (n < 0) return false;
    pos_ += static_cast<uint64_t>(n);
    *written = static_cast<uint32_t>(n);
    return static_cast<uint32_t>(n) == count;
  }

  bool Seek(uint64_t offset) override {
    if (offset > static_cast<uint64_t>(INT64_MAX)) return false;
    pos_ = offset;
    return true;
  }
  bool Skip(int64_t delta) override {
    if (delta < 0 && static_cast<uint64_t>(-delta) > pos_) return false;
    pos_ += static_cast<uint64_t>(delta);
    return true;
  }
  bool SeekEnd() override {
    uint64_t length;
    if (!Length(&length)) return false;
    pos_ = length;
    return true;
  }
  uint64_t Position() const override { return pos_; }
  // Makes what this handle wrote reach the device: the data and what is
  // needed to read it back (the file's size), not times. A handle that wrote
  // nothing since its last flush has nothing to flush, so flushing a drive
  // that is only read costs no device cache flush.
  bool Flush() override {
    if (!dirty_) return true;
    int r;
    do {
      r = ::fdatasync(fd_);
    } while (r < 0 && errno == EINTR);
    // Read-only devices and some pseudo files refuse fsync: nothing to flush.
    bool ok = r == 0 || errno == EINVAL || errno == EROFS || errno == EBADF;
    if (ok) dirty_ = false;
    return ok;
  }
  bool Length(uint64_t* bytes) override {
    if (block_) return ::ioctl(fd_, BLKGETSIZE64, bytes) == 0;
    struct stat st;
    if (::fstat(fd_, &st) != 0) return false;
    *bytes = static_cast<uint64_t>(st.st_size);
    return true;
  }
  void RereadPartitions() override {
    if (block_) ::ioctl(fd_, BLKRRPART);
  }

 protected:
  int fd_;
  bool block_;
  uint64_t pos_ = 0;
  bool dirty_ = false;  // written since the last flush
};

// A block device opened with O_DIRECT. Transfers go through a buffer aligned
// to the device's logical block size, covering whole blocks, so that callers
// may pass any buffer and position. A failed read leaves the caller's buffer
// untouched. Requests that are not whole logical blocks (a 512-byte write to a
// 4 KiB-sector drive) go through a buffered descriptor.
class DirectDevice : public FdDevice {
 public:
  DirectDevice(int directFd, int bufferedFd, uint32_t blockSize)
      : FdDevice(bufferedFd, true), direct_(directFd), blockSize_(blockSize) {}
  ~DirectDevice() override {
    ::close(direct_);
    std::free(bounce_);
  }

  bool Read(void* buffer, uint32_t count, uint32_t* got) override {
    *got = 0;
    uint64_t first = pos_ / blockSize_ * blockSize_;
    uint64_t span = RoundUp(pos_ + count) - first;
    if (!Reserve(span)) return false;
    uint64_t filled = 0;
    int64_t n = PreadFully(direct_, bounce_, span, first, &filled);
    if (n < 0) return false;
    uint64_t lead = pos_ - first;
    uint64_t avail = static_cast<uint64_t>(n) > lead ? static_cast<uint64_t>(n) - lead : 0;
    uint32_t take = static_cast<uint32_t>(std::min<uint64_t>(avail, count));
    std::memcpy(buffer, bounce_ + lead, take);
    pos_ += take;
    *got = take;
    return true;
  }

  bool Write(const void* buffer, uint32_t count, uint32_t* written) override {
    *written = 0;
    if (pos_ % blockSize_ != 0 || count % blockSize_ != 0) {
      return FdDevice::Write(buffer, count, written);
    }
    if (!Reserve(count)) return false;
    std::memcpy(bounce_, buffer, count);
    dirty_ = true;
    int64_t n = PwriteFully(direct_, bounce_, count, pos_);
    if (n < 0) return false;
    pos_ += static_cast<uint64_t>(n);
    *written = static_cast<uint32_t>(n);
    return static_cast<uint32_t>(n) == count;
  }

  bool Flush() override {
    if (!dirty_) return true;
    // The drive's own write cache is flushed through either descriptor.
    bool direct = ::fsync(direct_) == 0;
    bool buffered = FdDevice::Flush();
    return direct && buffered;
  }

 private:
  uint64_t RoundUp(uint64_t v) const { return (v + blockSize_ - 1) / blockSize_ * blockSize_; }
  bool Reserve(uint64_t bytes) {
    if (bytes <= capacity_) return true;
    std::free(bounce_);
    bounce_ = nullptr;
    capacity_ = 0;
    void* p = nullptr;
    if (::posix_memalign(&p, 4096, bytes) != 0) return false;
    bounce_ = static_cast<uint8_t*>(p);
    capacity_ = bytes;
    return true;
  }

  int direct_;
  uint32_t blockSize_;
  uint8_t* bounce_ = nullptr;
  uint64_t capacity_ = 0;
};

DeviceHandle OpenBlockDevice(const std::string& path, int flags) {
  int buffered = OpenRetrying(path.c_str(), flags);
  if (buffered < 0) return nullptr;
  int direct = OpenRetrying(path.c_str(), (flags & ~O_EXCL) | O_DIRECT);
  int blockSize = 0;
  if (direct < 0 || ::ioctl(buffered, BLKSSZGET, &blockSize) != 0 || blockSize <= 0) {
    if (direct >= 0) ::close(direct);
    return std::make_unique<FdDevice>(buffered, true);
  }
  return std::make_unique<DirectDevice>(direct, buffered, static_cast<uint32_t>(blockSize));
}

}  // namespace

DeviceHandle OpenPath(const std::string& path, Access access) {
  if (path.empty()) {
    errno = ENOENT;
    return nullptr;
  }
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return nullptr;
  int flags = access == Access::kRead ? O_RDONLY : O_RDWR;
  if (S_ISBLK(st.st_mode)) {
    return OpenBlockDevice(path, access == Access::kReadWrite ? flags | O_EXCL : flags);
  }
  if (S_ISDIR(st.st_mode)) {
    errno = EISDIR;
    return nullptr;
  }
  int fd = OpenRetrying(path.c_str(), flags);
  if (fd < 0) return nullptr;
  return std::make_unique<FdDevice>(fd, false);
}

DeviceHandle CreateOutputFile(const std::string& path) {
  // Only a file this call creates is handed to the invoking user; an existing
  // one is emptied and keeps its owner.
  int fd = OpenRetrying(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0644);
  if (fd >= 0) {
    GiveToInvokingUser(fd);
  } else if (errno == EEXIST) {
    fd = OpenRetrying(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  }
  if (fd < 0) return nullptr;
  return std::make_unique<FdDevice>(fd, false);
}

DeviceHandle OpenExistingFile(const std::string& path) {
  int fd = OpenRetrying(path.c_str(), O_RDWR);
  if (fd < 0) return nullptr;
  return std::make_unique<FdDevice>(fd, false);
}

DeviceHandle OpenLogFile(const std::string& path, bool create) {
  // O_NONBLOCK: opening a FIFO for writing would otherwise wait for a reader.
  const int flags = O_WRONLY | O_NOFOLLOW | O_NONBLOCK | (create ? O_CREAT : 0);
  int fd = OpenRetrying(path.c_str(), flags, 0644);
  if (fd < 0) return nullptr;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    errno = EINVAL;
    return nullptr;
  }
  const int fileFlags = ::fcntl(fd, F_GETFL);
  if (fileFlags < 0 || ::fcntl(fd, F_SETFL, fileFlags & ~O_NONBLOCK) != 0 ||
      (create && ::ftruncate(fd, 0) != 0)) {
    const int error = errno;
    ::close(fd);
    errno = error;
    return nullptr;
  }
  auto device = std::make_unique<FdDevice>(fd, false);
  if (!device->SeekEnd()) return nullptr;
  return device;
}

bool GeometryOf(Device& device, DiskGeometry* geometry) {
  uint64_t length = 0;
  if (!device.Length(&length)) return false;
  *geometry = GeometryForLength(length);
  return true;
}

DiskGeometry GeometryForLength(uint64_t length) {
  DiskGeometry g;
  g.cylinders = static_cast<int64_t>(length / kSectorSize);
  g.tracksPerCylinder = 1;
  g.sectorsPerTrack = 1;
  g.bytesPerSector = kSectorSize;
  return g;
}

}  // namespace platform
