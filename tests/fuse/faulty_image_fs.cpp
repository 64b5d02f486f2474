// A one-file FUSE file system for the end-to-end clone tests: it serves an
// image file as "disk.img", and every read that touches one of the chosen
// sectors fails with EIO, as on a failing drive. With a loop device on top,
// a clone meets real I/O errors from a real block device.
//
//   lumisave_faulty_fs IMAGE SECTOR,SECTOR,... MOUNTPOINT [fuse options]
//
// With FAULTY_FS_PAUSE=SECTOR:GATE in the environment, the first read that
// touches SECTOR creates GATE.reached and then waits until GATE exists: a
// test can act at a chosen point of a run (send a signal) and then let it
// go on.
#define FUSE_USE_VERSION 31
#include <fcntl.h>
#include <fuse.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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
bool g_pausing = false;
uint64_t g_pauseSector = 0;
std::string g_gate;

void PauseAt(uint64_t first, uint64_t end) {
  if (!g_pausing || g_pauseSector < first || g_pauseSector >= end) return;
  g_pausing = false;
  const int reached = ::open((g_gate + ".reached").c_str(), O_WRONLY | O_CREAT, 0644);
  if (reached >= 0) ::close(reached);
  while (::access(g_gate.c_str(), F_OK) != 0) ::usleep(10000);
}

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
  const uint64_t first = static_cast<uint64_t>(offset) / 512;
  const uint64_t end = (static_cast<uint64_t>(offset) + size + 511) / 512;
  auto it = g_bad.lower_bound(first);
  if (it != g_bad.end() && *it < end) return -EIO;
  PauseAt(first, end);
  ssize_t n = ::pread(g_image, buffer, size, offset);
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
  std::stringstream list(argv[2]);
  for (std::string item; std::getline(list, item, ',');) {
    if (!item.empty()) g_bad.insert(std::strtoull(item.c_str(), nullptr, 10));
  }
  if (const char* pause = std::getenv("FAULTY_FS_PAUSE")) {
    const char* colon = std::strchr(pause, ':');
    if (colon != nullptr) {
      g_pausing = true;
      g_pauseSector = std::strtoull(pause, nullptr, 10);
      g_gate = colon + 1;
    }
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
