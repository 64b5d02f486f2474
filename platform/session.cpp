#include "platform/session.h"

#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "platform/owner.h"

namespace platform {
namespace {

// What a child needs to become `user` in their desktop session, worked out
// before the fork (a child of a program with threads may only make system
// calls): their groups and their session's environment.
struct UserSession {
  uid_t uid = 0;
  gid_t gid = 0;
  std::vector<gid_t> groups;
  std::vector<std::string> environment;  // NAME=VALUE
};

UserSession SessionOf(const InvokingUser& user) {
  UserSession session;
  session.uid = user.uid;
  session.gid = user.gid;
  std::string name;
  if (const passwd* pw = ::getpwuid(user.uid); pw && pw->pw_name) name = pw->pw_name;
  if (!name.empty()) {
    int count = 64;
    session.groups.resize(static_cast<size_t>(count));
    if (::getgrouplist(name.c_str(), user.gid, session.groups.data(), &count) < 0) {
      session.groups.resize(static_cast<size_t>(count));
      ::getgrouplist(name.c_str(), user.gid, session.groups.data(), &count);
    }
    session.groups.resize(static_cast<size_t>(count > 0 ? count : 0));
  }
  if (session.groups.empty()) session.groups.push_back(user.gid);
  const std::string runtime = "/run/user/" + std::to_string(user.uid);
  // Root's own settings must not reach the user's programs; the display stays.
  static const char* kDropped[] = {"HOME", "USER", "LOGNAME", "XDG_RUNTIME_DIR",
                                   "DBUS_SESSION_BUS_ADDRESS", "SUDO_UID", "SUDO_GID",
                                   "SUDO_USER", "SUDO_COMMAND", "PKEXEC_UID", "XDG_CONFIG_HOME",
                                   "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME", "MAIL"};
  for (char** e = environ; e && *e; ++e) {
    const std::string entry = *e;
    const std::string key = entry.substr(0, entry.find('='));
    bool dropped = false;
    for (const char* d : kDropped) dropped = dropped || key == d;
    if (!dropped) session.environment.push_back(entry);
  }
  session.environment.push_back("HOME=" + (user.home.empty() ? std::string("/") : user.home));
  if (!name.empty()) {
    session.environment.push_back("USER=" + name);
    session.environment.push_back("LOGNAME=" + name);
  }
  session.environment.push_back("XDG_RUNTIME_DIR=" + runtime);
  session.environment.push_back("DBUS_SESSION_BUS_ADDRESS=unix:path=" + runtime + "/bus");
  return session;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& t : texts) pointers.push_back(t.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

pid_t StartWithRights(const std::string& program, const std::vector<std::string>& args) {
  std::vector<std::string> texts = {"pkexec", program};
  texts.insert(texts.end(), args.begin(), args.end());
  std::vector<char*> argv = Pointers(texts);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  return pid;
}

bool ChildEnded(pid_t pid, int* status) {
  int raw = 0;
  pid_t r;
  do {
    r = ::waitpid(pid, &raw, WNOHANG);
  } while (r < 0 && errno == EINTR);
  if (r != pid) return false;
  *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  return true;
}

void OpenFolderForUser(const std::string& folder) {
  if (folder.empty()) return;
  const std::optional<InvokingUser> user = FindInvokingUser();
  UserSession session;
  if (user) session = SessionOf(*user);
  std::vector<std::string> argvTexts = {"xdg-open", folder};
  std::vector<char*> argv = Pointers(argvTexts);
  std::vector<char*> envp = Pointers(session.environment);
  const pid_t child = ::fork();
  if (child < 0) return;
  if (child == 0) {
    // A grandchild opens the folder, so that nobody has to wait for it and
    // no zombie is left when it ends.
    if (::fork() != 0) ::_exit(0);
    ::setsid();
    if (!user) {
      ::execvp(argv[0], argv.data());
      ::_exit(127);
    }
    // Root is given up for good before the user's programs run: groups,
    // then group, then user.
    if (::setgroups(session.groups.size(), session.groups.data()) != 0 ||
        ::setgid(session.gid) != 0 || ::setuid(session.uid) != 0 || ::setuid(0) == 0) {
      ::_exit(126);
    }
    ::execvpe(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  int status;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace platform
