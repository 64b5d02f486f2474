// A one-file FUSE file system for the end-to-end clone tests: it serves an
// image file as "disk.img", and every read that touches one of the chosen
// sectors fails with EIO, as on a failing drive. With a loop device on top,
// a clone meets real I/O errors from a real block device.
//
//   lumisave_faulty_fs IMAGE SECTOR,FIRST-LAST,... MOUNTPOINT [fuse options]
//
// With LUMISAVE_FAULTY_LOG=FILE every read is logged there as "OFFSET SIZE";
// with LUMISAVE_FAULTY_DIE_AT=BYTES the server ends itself at the first read
// that holds the byte at that offset, as a card pulled from its reader (a read
// of the drive's end, such as a probe of its labels, leaves it running).
//
// With FAULTY_FS_CONTROL=FOLDER in the environment, the tests steer it
// through files in FOLDER:
//   reads   every read served is appended as "FIRST_SECTOR SECTORS ok|bad"
//   pause   holds "SECTOR [SECTORS]": the next read of at least SECTORS
//           sectors (default 1) that touches SECTOR renames pause to paused
//           and waits until paused is removed, so a test can act while a
//           reader is held at a point it chose
#define FUSE_USE_VERSION 31
#include <fcntl.h>
#include <fuse.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr const char* kName = "/disk.img";
int g_image = -1;
std::set<uint64_t> g_bad;
std::string g_control;  // the control folder, or empty

// Holds a read of [first, end) while the control folder asks for a pause
// at one of its sectors.
void MaybePause(uint64_t first, uint64_t end) {
  if (g_control.empty()) return;
  const std::string pause = g_control + "/pause";
  const std::string paused = g_control + "/paused";
  FILE* f = std::fopen(pause.c_str(), "r");
  if (f == nullptr) return;
  unsigned long long sector = 0, least = 1;
  const bool read = std::fscanf(f, "%llu %llu", &sector, &least) >= 1;
  std::fclose(f);
  if (!read || sector < first || sector >= end || end - first < least) return;
  if (std::rename(pause.c_str(), paused.c_str()) != 0) return;
  struct stat st;
  while (::stat(paused.c_str(), &st) == 0) ::usleep(2000);
}

void LogRead(uint64_t first, uint64_t end, bool ok) {
  if (g_control.empty()) return;
  const std::string reads = g_control + "/reads";
  if (FILE* f = std::fopen(reads.c_str(), "a")) {
    std::fprintf(f, "%llu %llu %s\n", static_cast<unsigned long long>(first),
                 static_cast<unsigned long long>(end - first), ok ? "ok" : "bad");
    std::fclose(f);
  }
}
int g_log = -1;
uint64_t g_dieAt = UINT64_MAX;

int GetAttr(const char* path, struct stat* st, fuse_file_info*) {
  std::memset(st, 0, sizeof *st);
  if (std::strcmp(path, "/") == 0) {
    st->st_mode = S_IFDIR | 0755;
    st->st_nlink = 2;
    return 0;
  }
  if (std::strcmp(path, kName) != 0) return -ENOENT;
  struct stat image;
  if (::fstat(g_image, &image) != 0) return -errno;
  st->st_mode = S_IFREG | 0644;
  st->st_nlink = 1;
  st->st_size = image.st_size;
  return 0;
}

int ReadDir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*,
            fuse_readdir_flags) {
  if (std::strcmp(path, "/") != 0) return -ENOENT;
  fill(buffer, ".", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  fill(buffer, "..", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  fill(buffer, kName + 1, nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  return 0;
}

int Open(const char* path, fuse_file_info* fi) {
  if (std::strcmp(path, kName) != 0) return -ENOENT;
  // No page cache: every read reaches Read with its own offset and size, so
  // a bad sector fails alone.
  fi->direct_io = 1;
  return 0;
}

int Read(const char*, char* buffer, size_t size, off_t offset, fuse_file_info*) {
  if (g_log >= 0) dprintf(g_log, "%lld %zu\n", static_cast<long long>(offset), size);
  if (static_cast<uint64_t>(offset) <= g_dieAt && static_cast<uint64_t>(offset) + size > g_dieAt) {
    ::_exit(0);
  }
  const uint64_t first = static_cast<uint64_t>(offset) / 512;
  const uint64_t end = (static_cast<uint64_t>(offset) + size + 511) / 512;
  MaybePause(first, end);
  auto it = g_bad.lower_bound(first);
  if (it != g_bad.end() && *it < end) {
    LogRead(first, end, false);
    return -EIO;
  }
  ssize_t n = ::pread(g_image, buffer, size, offset);
  LogRead(first, end, n >= 0);
  return n < 0 ? -errno : static_cast<int>(n);
}

int Write(const char*, const char* buffer, size_t size, off_t offset, fuse_file_info*) {
  ssize_t n = ::pwrite(g_image, buffer, size, offset);
  return n < 0 ? -errno : static_cast<int>(n);
}

int Fsync(const char*, int, fuse_file_info*) { return ::fsync(g_image) == 0 ? 0 : -errno; }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s IMAGE SECTOR,SECTOR,... MOUNTPOINT [fuse options]\n",
                 argv[0]);
    return 2;
  }
  g_image = ::open(argv[1], O_RDWR);
  if (g_image < 0) {
    std::perror(argv[1]);
    return 1;
  }
  if (const char* control = std::getenv("FAULTY_FS_CONTROL")) g_control = control;
  std::stringstream list(argv[2]);
  for (std::string item; std::getline(list, item, ',');) {
    if (item.empty()) continue;
    const size_t dash = item.find('-');
    const uint64_t first = std::strtoull(item.c_str(), nullptr, 10);
    const uint64_t last =
        dash == std::string::npos ? first : std::strtoull(item.c_str() + dash + 1, nullptr, 10);
    for (uint64_t s = first; s <= last; ++s) g_bad.insert(s);
  }
  if (const char* log = std::getenv("LUMISAVE_FAULTY_LOG")) {
    g_log = ::open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  }
  if (const char* die = std::getenv("LUMISAVE_FAULTY_DIE_AT")) {
    g_dieAt = std::strtoull(die, nullptr, 10);
  }
  fuse_operations ops{};
  ops.getattr = GetAttr;
  ops.readdir = ReadDir;
  ops.open = Open;
  ops.read = Read;
  ops.write = Write;
  ops.fsync = Fsync;
  std::vector<char*> args{argv[0]};
  for (int i = 3; i < argc; ++i) args.push_back(argv[i]);
  return fuse_main(static_cast<int>(args.size()), args.data(), &ops, nullptr);
}
