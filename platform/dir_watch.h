// Directory change notifications, over inotify: a watch is signalled when a
// change of the kinds asked for happens in its folder (or, for a subtree
// watch, in any folder below it on the same file system), and is re-armed
// after each signal.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

namespace platform {

// Kinds of change.
enum ChangeFilter : uint32_t {
  kChangeFileName = 1,  // a file created, deleted or renamed
  kChangeDirName = 2,   // a folder created, deleted or renamed
};

class ChangeWatch {
 public:
  ~ChangeWatch();
  ChangeWatch(const ChangeWatch&) = delete;
  ChangeWatch& operator=(const ChangeWatch&) = delete;

  // Starts a watch of `folder`. Null with `*error` (an errno value) when the
  // folder cannot be watched. In a subtree, folders that cannot be watched
  // (no access, the watch limit reached) are left out.
  static std::unique_ptr<ChangeWatch> Start(const std::string& folder, bool subtree,
                                            uint32_t filter, int* error);

  // Takes in the changes that signalled the watch and arms it again: new
  // folders of a subtree are watched too. False with `*error` when the watch
  // cannot go on (its folder was deleted).
  bool Rearm(int* error);

  // Waits without a time limit until `a` or `b` is signalled: 0 for `a` (also
  // when both are), 1 for `b`, -1 with `*error` when the wait fails.
  static int WaitForEither(ChangeWatch& a, ChangeWatch& b, int* error);

 private:
  ChangeWatch(int fd, std::string folder, bool subtree, uint32_t mask);
  // The new watch descriptor, or -1 with `*error`.
  int AddFolder(const std::string& folder, int* error);
  void AddBelow(const std::string& folder);

  int fd_;
  std::string folder_;
  bool subtree_;
  uint32_t mask_;
  unsigned long device_ = 0;  // the file system a subtree stays on
  int topWatch_ = -1;
  std::map<int, std::string> folders_;  // watch descriptor -> folder
};

// Ends the process at once with `code` as its exit status.
[[noreturn]] void ExitProcess(int code);

}  // namespace platform
