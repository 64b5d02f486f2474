// Getting the rights to read drives, and giving the desktop back to the user:
// the window restarts itself through pkexec, and a folder is opened in the
// user's own session, never in a file manager running as root.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace platform {

// Starts `pkexec PROGRAM ARGS...` (pkexec found on PATH) as a child and
// returns its process id, or -1 with errno set.
pid_t StartWithRights(const std::string& program, const std::vector<std::string>& args);

// Whether child `pid` has ended; then `*status` is its exit status (128 +
// the signal when a signal ended it). Never waits.
bool ChildEnded(pid_t pid, int* status);

// pkexec's exit status when the user was not authorised or dismissed the
// question.
inline constexpr int kNotAuthorised = 126;
inline constexpr int kDismissed = 127;

// Opens `folder` with xdg-open (found on PATH) in the desktop session of the
// person using the program: as the invoking user (platform/owner.h) with
// their home, name and session bus, when run through sudo or pkexec; as this
// process otherwise. Does not wait for it; a failure is not reported.
void OpenFolderForUser(const std::string& folder);

}  // namespace platform
