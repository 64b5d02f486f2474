#include "platform/owner.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/fs.h"

namespace platform {
namespace {

// A user or group id written in decimal digits only; nothing otherwise.
std::optional<unsigned long> ParseId(const char* text) {
  if (text == nullptr || *text == '\0') return std::nullopt;
  unsigned long value = 0;
  for (const char* p = text; *p; ++p) {
    if (*p < '0' || *p > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned long>(*p - '0');
    if (value > 0xFFFFFFFEul) return std::nullopt;  // (uid_t)-1 means "unchanged"
  }
  return value;
}

// The password entry of `uid`: its group and home, when the database knows it.
bool LookUp(uid_t uid, gid_t* gid, std::string* home) {
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
  passwd entry;
  passwd* found = nullptr;
  if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found) return false;
  *gid = found->pw_gid;
  if (found->pw_dir) *home = found->pw_dir;
  return true;
}

// The invoking user; their home is looked up only when `withHome` (a run
// gives every file it makes away, so the lookups are kept to what is needed).
std::optional<InvokingUser> Find(bool withHome) {
  if (::geteuid() != 0) return std::nullopt;
  InvokingUser user;
  if (auto uid = ParseId(std::getenv("PKEXEC_UID"))) {
    user.uid = static_cast<uid_t>(*uid);
    // pkexec names only the user: the group comes from the password database.
    if (!LookUp(user.uid, &user.gid, &user.home)) return std::nullopt;
  } else {
    auto sudoUid = ParseId(std::getenv("SUDO_UID"));
    auto sudoGid = ParseId(std::getenv("SUDO_GID"));
    if (!sudoUid || !sudoGid) return std::nullopt;
    user.uid = static_cast<uid_t>(*sudoUid);
    user.gid = static_cast<gid_t>(*sudoGid);
    gid_t ignored = 0;
    if (withHome) LookUp(user.uid, &ignored, &user.home);
  }
  if (user.uid == 0) return std::nullopt;
  return user;
}

}  // namespace

std::optional<InvokingUser> FindInvokingUser() { return Find(true); }

int GiveToInvokingUser(int fd) {
  const std::optional<InvokingUser> user = Find(false);
  if (!user) return 0;
  return ::fchown(fd, user->uid, user->gid) == 0 ? 0 : errno;
}

std::string UserHomeFolder() {
  if (std::optional<InvokingUser> user = FindInvokingUser(); user && !user->home.empty()) {
    return user->home;
  }
  return HomeFolder();
}

int MakeOwnedFolder(const std::string& path) {
  if (path.empty()) return ENOENT;
  if (::mkdir(path.c_str(), 0755) != 0) return errno;
  if (!Find(false)) return 0;
  // The folder just made, opened without following a link: a link swapped in
  // at its name meanwhile is refused rather than its target handed over.
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return errno;
  const int error = GiveToInvokingUser(fd);
  ::close(fd);
  return error;
}

}  // namespace platform
