// The one-file FUSE file system with failing sectors (tests/fuse), mounted
// for a test: it serves an image as MOUNTPOINT/disk.img and is unmounted, its
// server ended, when the object goes. Root only.
#pragma once

#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>
#include <thread>

namespace testing_support {

class FaultyMount {
 public:
  // `server`: the file system's program; `bad`: failing sectors as "3,600";
  // `control`: when not empty, the folder through which the test steers it
  // (a log of the reads served, a pause at a chosen sector); `env`: more of
  // the server's settings (LUMISAVE_FAULTY_LOG, LUMISAVE_FAULTY_DIE_AT).
  FaultyMount(const std::string& server, const std::string& image, const std::string& bad,
              const std::string& mountPoint, const std::string& control = "",
              const std::vector<std::pair<std::string, std::string>>& env = {})
      : mountPoint_(mountPoint) {
    ::mkdir(mountPoint.c_str(), 0755);
    pid_ = ::fork();
    if (pid_ == 0) {
      if (!control.empty()) ::setenv("FAULTY_FS_CONTROL", control.c_str(), 1);
      for (const auto& [name, value] : env) ::setenv(name.c_str(), value.c_str(), 1);
      ::execl(server.c_str(), server.c_str(), image.c_str(), bad.c_str(), mountPoint.c_str(),
              "-f", "-s", static_cast<char*>(nullptr));
      ::_exit(98);
    }
    struct stat st {};
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (pid_ > 0 && std::chrono::steady_clock::now() < deadline) {
      if (::stat(file().c_str(), &st) == 0) {
        ready_ = true;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  ~FaultyMount() {
    if (pid_ <= 0) return;
    // Detached: a server that ended itself (a card pulled) leaves a mount
    // that no longer answers.
    ::umount2(mountPoint_.c_str(), MNT_DETACH);
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  FaultyMount(const FaultyMount&) = delete;
  FaultyMount& operator=(const FaultyMount&) = delete;
  bool ready() const { return ready_; }
  std::string file() const { return mountPoint_ + "/disk.img"; }

 private:
  std::string mountPoint_;
  pid_t pid_ = -1;
  bool ready_ = false;
};

}  // namespace testing_support
