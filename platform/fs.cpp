#include "platform/fs.h"

#include <fcntl.h>
#include <pwd.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace platform {

bool CreateFolder(const std::string& path) {
  return !path.empty() && ::mkdir(path.c_str(), 0755) == 0;
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

}  // namespace platform
