#include "platform/drive_numbers.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>

#include "platform/drive_facts.h"

namespace platform {
namespace {

constexpr const char* kTableName = "drive-numbers";
constexpr const char* kHeader = "lumisave drive numbers 1";
// More numbers than any machine has disks: a larger one marks a garbled table.
constexpr int kMostNumbers = 1 << 20;

// The boot this table belongs to; /run is emptied at boot, but a runtime
// folder of another kind might not be.
std::string BootId() { return ReadTextAttribute("/proc/sys/kernel/random/boot_id"); }

bool ParseNumber(const std::string& text, uint64_t limit, uint64_t* value) {
  if (text.empty() || text.size() > 20) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (v > (limit - digit) / 10) return false;
    v = v * 10 + digit;
  }
  *value = v;
  return true;
}

// The table's entries, diskseq -> number; empty for anything not in the
// exact form this file writes (then it is rebuilt from what is attached now).
std::map<uint64_t, int> ParseTable(const std::string& text, const std::string& bootId) {
  std::map<uint64_t, int> table;
  std::set<int> numbers;
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || line != std::string(kHeader) + " " + bootId) return {};
  while (std::getline(in, line)) {
    const size_t space = line.find(' ');
    uint64_t seq = 0, number = 0;
    if (space == std::string::npos || !ParseNumber(line.substr(0, space), UINT64_MAX, &seq) ||
        !ParseNumber(line.substr(space + 1), kMostNumbers, &number) ||
        !table.emplace(seq, static_cast<int>(number)).second ||
        !numbers.insert(static_cast<int>(number)).second) {
      return {};
    }
  }
  if (!text.empty() && text.back() != '\n') return {};
  return table;
}

bool ReadAll(int fd, std::string* text) {
  char buffer[4096];
  for (off_t at = 0;;) {
    const ssize_t n = ::pread(fd, buffer, sizeof buffer, at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    text->append(buffer, static_cast<size_t>(n));
    at += n;
    if (text->size() > (1u << 20)) return false;
  }
}

bool WriteAll(int fd, const std::string& text) {
  if (::ftruncate(fd, 0) != 0) return false;
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::pwrite(fd, text.data() + done, text.size() - done,
                               static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::string DriveNumberFolder() {
  if (const char* own = std::getenv("LUMISAVE_RUNTIME_DIR"); own && *own) return own;
  if (::geteuid() == 0) return "/run/lumisave";
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime == '/') {
    return std::string(runtime) + "/lumisave";
  }
  return "";
}

std::vector<int> NumberDisks(const std::vector<uint64_t>& diskSeqs, const std::string& folder) {
  if (folder.empty()) return {};
  ::mkdir(folder.c_str(), 0700);  // an existing folder is fine
  const std::string path = folder + "/" + kTableName;
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return {};
  int locked;
  do {
    locked = ::flock(fd, LOCK_EX);
  } while (locked != 0 && errno == EINTR);
  struct stat st;
  if (locked != 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return {};
  }
  const std::string bootId = BootId();
  std::string text;
  std::map<uint64_t, int> table;
  if (ReadAll(fd, &text)) table = ParseTable(text, bootId);

  // Disks that are gone give their numbers back.
  const std::set<uint64_t> present(diskSeqs.begin(), diskSeqs.end());
  for (auto it = table.begin(); it != table.end();) {
    it = present.count(it->first) ? std::next(it) : table.erase(it);
  }
  std::set<int> used;
  for (const auto& [seq, number] : table) used.insert(number);
  std::vector<int> numbers;
  for (uint64_t seq : diskSeqs) {
    auto it = table.find(seq);
    if (it == table.end()) {
      int lowest = 0;
      while (used.count(lowest)) ++lowest;
      used.insert(lowest);
      it = table.emplace(seq, lowest).first;
    }
    numbers.push_back(it->second);
  }
  std::string out = std::string(kHeader) + " " + bootId + "\n";
  for (const auto& [seq, number] : table) {
    out += std::to_string(seq) + " " + std::to_string(number) + "\n";
  }
  // A table that cannot be written is rebuilt by the next listing; the
  // numbers given now still hold for this one.
  if (out != text) WriteAll(fd, out);
  ::close(fd);  // closing lets go of the lock
  return numbers;
}

}  // namespace platform
