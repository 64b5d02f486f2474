// Whose files a run makes. Started through pkexec or sudo, Lumisave runs as
// root on behalf of a user: the folders and files it creates are given to
// that user, by the open descriptor (never by path, which a link could
// redirect), so the person whose photos they are can use them.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace platform {

struct InvokingUser {
  uid_t uid = 0;
  gid_t gid = 0;
  std::string home;  // from the password database; empty when unknown
};

// The user who started this root process: PKEXEC_UID (group and home from the
// password database), else SUDO_UID with SUDO_GID. Nothing when the process is
// not root, the variables are missing or malformed, or they name root.
std::optional<InvokingUser> FindInvokingUser();

// Gives the file or folder open at `fd`, just created by this run, to the
// invoking user; does nothing without one. Returns 0, or the errno of fchown.
int GiveToInvokingUser(int fd);

// The home of the person using the program: the invoking user's home when
// there is one, else HomeFolder() (platform/fs.h).
std::string UserHomeFolder();

// Creates folder `path` (mode 0755) and gives it to the invoking user.
// Returns 0, or the errno of mkdir (EEXIST for anything already there, which
// is left as it is) or of the hand-over.
int MakeOwnedFolder(const std::string& path);

}  // namespace platform
