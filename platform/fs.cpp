#include "platform/fs.h"

#include <fcntl.h>
#include <pwd.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/owner.h"

namespace platform {

bool CreateFolder(const std::string& path) { return MakeOwnedFolder(path) == 0; }

int CreateFolderPath(const std::string& path) {
  if (path.empty()) return ENOENT;
  std::error_code error;
  std::filesystem::create_directories(path, error);
  return error ? error.value() : 0;
}

bool RenameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
    return true;
  }
  if (errno != EINVAL && errno != ENOSYS) return false;
  // File systems without RENAME_NOREPLACE: link fails when `to` exists.
  if (::link(from.c_str(), to.c_str()) != 0) return false;
  ::unlink(from.c_str());
  return true;
}

namespace {

// Writes all of `data` to `fd`; 0 or the errno of the failed write.
int WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return EIO;
    data.remove_prefix(static_cast<size_t>(n));
  }
  return 0;
}

// The folder holding `path`: what comes before its last slash.
std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

int ReplaceFileAtomically(const std::string& path, std::string_view contents) {
  if (path.empty()) return ENOENT;
  const std::string fresh = path + ".new";
  // O_NONBLOCK: a FIFO left at the name fails instead of waiting for a reader.
  const int fd = ::open(fresh.c_str(),
                        O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) return errno;
  struct stat st;
  int error = ::fstat(fd, &st) != 0 ? errno : 0;
  if (error == 0 && !S_ISREG(st.st_mode)) error = EINVAL;
  if (error == 0) GiveToInvokingUser(fd);
  if (error != 0) {
    // Not a file we made (a FIFO or a device at the name): leave it there.
    ::close(fd);
    return error;
  }
  error = WriteAll(fd, contents);
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && ::rename(fresh.c_str(), path.c_str()) != 0) error = errno;
  if (error != 0) {
    ::unlink(fresh.c_str());
    return error;
  }
  const int folder = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) return errno;
  if (::fsync(folder) != 0) error = errno;
  if (::close(folder) != 0 && error == 0) error = errno;
  return error;
}

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir && *pw->pw_dir) {
    return pw->pw_dir;
  }
  return "/";
}

bool IsBlockDevice(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode);
}

std::vector<std::filesystem::path> FolderEntries(const std::filesystem::path& folder) {
  std::vector<std::filesystem::path> entries;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder, ec);
       !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    entries.push_back(it->path());
  }
  return entries;
}

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

std::string AbsolutePath(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  char buf[4096];
  if (!::getcwd(buf, sizeof buf)) return path;
  std::string cwd = buf;
  std::string rest = path;
  while (rest.rfind("./", 0) == 0) rest = rest.substr(2);
  return cwd == "/" ? "/" + rest : cwd + "/" + rest;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  if (a.empty() || b.empty() || ::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) {
    return false;
  }
  if (S_ISBLK(sa.st_mode) && S_ISBLK(sb.st_mode)) return sa.st_rdev == sb.st_rdev;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::string OpenFailureReason(const std::string& path, int error) {
  std::string reason = std::strerror(error);
  if ((error == EACCES || error == EPERM) && IsBlockDevice(path) && ::geteuid() != 0) {
    reason += " (reading a drive needs root: run with sudo)";
  } else if (error == EBUSY) {
    reason += " (the drive is mounted or in use)";
  }
  return reason;
}

int SetModificationTime(const std::string& path, int64_t seconds) {
  struct timespec times[2];
  times[0].tv_sec = static_cast<time_t>(seconds);
  times[0].tv_nsec = 0;
  times[1] = times[0];
  if (::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) return errno;
  return 0;
}

bool IsSafeName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  const auto* s = reinterpret_cast<const unsigned char*>(name.data());
  const size_t n = name.size();
  // The least code point each sequence length may carry: anything less is
  // an overlong form.
  static constexpr uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  for (size_t i = 0; i < n;) {
    const unsigned lead = s[i];
    uint32_t cp = 0;
    size_t len = 0;
    if (lead < 0x80) {
      cp = lead, len = 1;
    } else if (lead >= 0xC0 && lead <= 0xDF) {
      cp = lead & 0x1F, len = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      cp = lead & 0x0F, len = 3;
    } else if (lead >= 0xF0 && lead <= 0xF7) {
      cp = lead & 0x07, len = 4;
    } else {
      return false;  // a continuation byte without a lead, or 0xF8 and above
    }
    if (n - i < len) return false;
    for (size_t k = 1; k < len; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (s[i + k] & 0x3F);
    }
    if (cp < kLeast[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    if (cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp <= 0x9F) || cp == '/') return false;
    i += len;
  }
  return true;
}

Folder::~Folder() {
  if (fd_ >= 0) ::close(fd_);
}

Folder& Folder::operator=(Folder&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

Folder OpenFolder(const std::string& path) {
  if (path.empty()) {
    errno = ENOENT;
    return Folder();
  }
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return Folder(fd);
}

NewFile::NewFile(int fd, int folderFd, std::string name)
    : fd_(fd), folderFd_(folderFd), name_(std::move(name)) {}

NewFile::~NewFile() {
  if (fd_ >= 0) ::close(fd_);
  if (folderFd_ >= 0) ::close(folderFd_);
}

bool NewFile::Fail(int error) {
  if (error_ == 0) error_ = error;
  errno = error;
  return false;
}

bool NewFile::Read(void*, uint32_t, uint32_t* got) {
  *got = 0;
  return Fail(EBADF);  // opened for writing only
}

bool NewFile::Write(const void* buffer, uint32_t count, uint32_t* written) {
  const uint64_t before = pos_;
  const bool ok = WriteAll(buffer, count);
  *written = static_cast<uint32_t>(pos_ - before);
  return ok;
}

bool NewFile::WriteAll(const void* data, size_t count) {
  if (fd_ < 0) return Fail(EBADF);
  const auto* p = static_cast<const uint8_t*>(data);
  while (count > 0) {
    const ssize_t n = ::pwrite(fd_, p, count, static_cast<off_t>(pos_));
    if (n < 0) {
      if (errno == EINTR) continue;
      return Fail(errno);
    }
    if (n == 0) return Fail(ENOSPC);
    p += n;
    count -= static_cast<size_t>(n);
    pos_ += static_cast<uint64_t>(n);
  }
  return true;
}

bool NewFile::Seek(uint64_t offset) {
  if (offset > static_cast<uint64_t>(INT64_MAX)) return false;
  pos_ = offset;
  return true;
}

bool NewFile::Skip(int64_t delta) {
  if (delta < 0 && static_cast<uint64_t>(-delta) > pos_) return false;
  pos_ += static_cast<uint64_t>(delta);
  return true;
}

bool NewFile::SeekEnd() {
  uint64_t length = 0;
  if (!Length(&length)) return false;
  pos_ = length;
  return true;
}

bool NewFile::Flush() {
  if (fd_ < 0) return Fail(EBADF);
  int r;
  do {
    r = ::fdatasync(fd_);
  } while (r < 0 && errno == EINTR);
  return r == 0 || errno == EINVAL || Fail(errno);
}

bool NewFile::Length(uint64_t* bytes) {
  struct stat st;
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) return false;
  *bytes = static_cast<uint64_t>(st.st_size);
  return true;
}

bool NewFile::Close() {
  if (fd_ < 0) return error_ == 0;
  const int fd = fd_;
  fd_ = -1;
  // close() is not retried on EINTR: the descriptor is gone either way.
  if (::close(fd) != 0 && errno != EINTR) return Fail(errno);
  return error_ == 0;
}

bool NewFile::Remove() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (folderFd_ < 0 || name_.empty()) return Fail(EBADF);
  if (::unlinkat(folderFd_, name_.c_str(), 0) != 0) return Fail(errno);
  name_.clear();
  return true;
}

CreatedFile CreateNewFile(const Folder& folder, const std::string& base, const std::string& ext) {
  CreatedFile result;
  if (!folder) {
    result.error = EBADF;
    return result;
  }
  // An empty base with an extension names ".ext" (a file found at sector 0).
  const bool baseOk = base.empty() ? !ext.empty() : IsSafeName(base);
  if (!baseOk || (!ext.empty() && !IsSafeName(ext))) {
    result.error = EINVAL;
    return result;
  }
  const std::string dotExt = ext.empty() ? "" : "." + ext;
  // Far more than any folder of recovered files holds under one name.
  constexpr unsigned kMostTries = 100000;
  for (unsigned i = 0; i < kMostTries; ++i) {
    const std::string name = base + (i == 0 ? "" : "_" + std::to_string(i)) + dotExt;
    int fd;
    do {
      fd = ::openat(folder.fd(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
      // Anything at the name (a file, a folder, a link, even a dangling
      // one) makes O_EXCL fail with EEXIST: the next name is tried.
      if (errno == EEXIST) continue;
      result.error = errno;
      return result;
    }
    GiveToInvokingUser(fd);
    const int folderFd = ::fcntl(folder.fd(), F_DUPFD_CLOEXEC, 0);
    if (folderFd < 0) {
      result.error = errno;
      ::close(fd);
      ::unlinkat(folder.fd(), name.c_str(), 0);
      return result;
    }
    result.file = std::make_unique<NewFile>(fd, folderFd, name);
    result.name = name;
    return result;
  }
  result.error = EEXIST;
  return result;
}

CreatedFile CreateNewFile(const std::string& folderPath, const std::string& base,
                          const std::string& ext) {
  Folder folder = OpenFolder(folderPath);
  if (!folder) {
    CreatedFile result;
    result.error = errno;
    return result;
  }
  return CreateNewFile(folder, base, ext);
}

}  // namespace platform
