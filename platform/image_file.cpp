#include "platform/image_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/owner.h"

namespace platform {

int CreateSparseFile(const std::string& path, uint64_t bytes) {
  if (bytes > static_cast<uint64_t>(INT64_MAX)) return EFBIG;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return errno;
  GiveToInvokingUser(fd);
  int error = ::ftruncate(fd, static_cast<off_t>(bytes)) != 0 ? errno : 0;
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error != 0) ::unlink(path.c_str());
  return error;
}

int ReadWholeFile(const std::string& path, std::string* text, size_t limit) {
  // O_NONBLOCK: a FIFO at the name fails instead of waiting for a writer.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno;
  struct stat st;
  int error = ::fstat(fd, &st) != 0 ? errno : 0;
  if (error == 0 && !S_ISREG(st.st_mode)) error = EINVAL;
  if (error == 0 && static_cast<uint64_t>(st.st_size) > limit) error = EFBIG;
  text->clear();
  char buffer[65536];
  while (error == 0) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno != EINTR) error = errno;
      continue;
    }
    if (n == 0) break;
    if (text->size() + static_cast<size_t>(n) > limit) {
      error = EFBIG;
      break;
    }
    text->append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return error;
}

bool FreeSpace(const std::string& folder, uint64_t* bytes) {
  struct statvfs fs;
  if (::statvfs(folder.c_str(), &fs) != 0) return false;
  uint64_t free = 0;
  if (__builtin_mul_overflow(static_cast<uint64_t>(fs.f_bavail),
                             static_cast<uint64_t>(fs.f_frsize), &free)) {
    free = UINT64_MAX;
  }
  *bytes = free;
  return true;
}

bool IsFolder(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

}  // namespace platform
