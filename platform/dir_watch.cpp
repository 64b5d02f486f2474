#include "platform/dir_watch.h"

#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace platform {
namespace {

uint32_t MaskOf(uint32_t filter) {
  uint32_t mask = 0;
  if (filter & (kChangeFileName | kChangeDirName)) {
    mask |= IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
  }
  return mask | IN_DELETE_SELF;
}

}  // namespace

ChangeWatch::ChangeWatch(int fd, std::string folder, bool subtree, uint32_t mask)
    : fd_(fd), folder_(std::move(folder)), subtree_(subtree), mask_(mask) {}

ChangeWatch::~ChangeWatch() { ::close(fd_); }

std::unique_ptr<ChangeWatch> ChangeWatch::Start(const std::string& folder, bool subtree,
                                                uint32_t filter, int* error) {
  const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) {
    *error = errno;
    return nullptr;
  }
  std::unique_ptr<ChangeWatch> watch(new ChangeWatch(fd, folder, subtree, MaskOf(filter)));
  struct stat st;
  if (::stat(folder.c_str(), &st) != 0) {
    *error = errno;
    return nullptr;
  }
  watch->device_ = st.st_dev;
  watch->topWatch_ = watch->AddFolder(folder, error);
  if (watch->topWatch_ < 0) return nullptr;
  if (subtree) watch->AddBelow(folder);
  return watch;
}

int ChangeWatch::AddFolder(const std::string& folder, int* error) {
  const int wd = ::inotify_add_watch(fd_, folder.c_str(), mask_ | IN_ONLYDIR);
  if (wd < 0) {
    *error = errno;
    return -1;
  }
  folders_[wd] = folder;
  return wd;
}

void ChangeWatch::AddBelow(const std::string& folder) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
  for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    std::error_code e2;
    if (it->is_symlink(e2) || !it->is_directory(e2)) continue;
    struct stat st;
    if (::lstat(it->path().c_str(), &st) != 0 || st.st_dev != device_) {
      it.disable_recursion_pending();  // another file system, or gone
      continue;
    }
    int ignored = 0;
    AddFolder(it->path().string(), &ignored);
  }
}

bool ChangeWatch::Rearm(int* error) {
  alignas(inotify_event) char buffer[16384];
  for (;;) {
    const ssize_t n = ::read(fd_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // EAGAIN: everything pending was taken in
    for (ssize_t off = 0; off < n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + off);
      off += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      auto folder = folders_.find(event->wd);
      if (event->mask & IN_IGNORED) {
        if (folder != folders_.end()) folders_.erase(folder);
        continue;
      }
      if (subtree_ && folder != folders_.end() && (event->mask & IN_ISDIR) &&
          (event->mask & (IN_CREATE | IN_MOVED_TO)) && event->len > 0) {
        const std::string added = folder->second + "/" + event->name;
        int ignored = 0;
        if (AddFolder(added, &ignored) >= 0) AddBelow(added);
      }
    }
  }
  if (folders_.count(topWatch_) != 0) return true;
  // The watched folder itself went away: watch it again, which fails unless
  // a folder of that name is back.
  topWatch_ = AddFolder(folder_, error);
  return topWatch_ >= 0;
}

int ChangeWatch::WaitForEither(ChangeWatch& a, ChangeWatch& b, int* error) {
  pollfd fds[2] = {{a.fd_, POLLIN, 0}, {b.fd_, POLLIN, 0}};
  for (;;) {
    const int n = ::poll(fds, 2, -1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = errno;
      return -1;
    }
    if (fds[0].revents & POLLIN) return 0;
    if (fds[1].revents & POLLIN) return 1;
    *error = EIO;
    return -1;
  }
}

void ExitProcess(int code) { ::_exit(code); }

}  // namespace platform
