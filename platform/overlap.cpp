#include "platform/overlap.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/devtree.h"
#include "platform/fs.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

constexpr uint64_t kAll = UINT64_MAX;
// Deeper stacks than this are not followed (and a loop in sysfs ends here).
constexpr int kMostDepth = 16;

// A file whose file system a piece was reached through.
struct Via {
  std::string file;
  std::string device;  // the block name the file system is on
};

// One stretch of storage a side lies on: bytes [begin, end) of a disk that
// sits on nothing else, or of a regular file.
struct Piece {
  bool isFile = false;
  std::string disk;  // the block name of the disk
  bool haveId = false;
  dev_t dev = 0;
  ino_t ino = 0;
  std::string filePath;
  uint64_t begin = 0;
  uint64_t end = kAll;
  // The block devices passed on the way down, from the top.
  std::vector<std::string> chain;
  // Reached through a file's file system: the file is somewhere on the disk,
  // and two such pieces say nothing about each other (two files of one file
  // system do not overlap).
  Via via;
};

uint64_t Plus(uint64_t a, uint64_t b) { return a > kAll - b ? kAll : a + b; }

bool ReadNumber(const std::string& file, uint64_t* value) {
  std::string text;
  if (!ReadAttribute(file, &text) || text.empty() ||
      text.find_first_not_of("0123456789") != std::string::npos || text.size() > 19) {
    return false;
  }
  *value = std::stoull(text);
  return true;
}

std::string ClassBlock(const std::string& sysRoot, const std::string& name) {
  return sysRoot + "/class/block/" + name;
}

// The block name of the device a file system with device number `dev` is
// mounted from: by number, else (file systems with an anonymous number, such
// as btrfs) by the mount's source in the mount table.
std::string FileSystemDevice(dev_t dev, const std::string& sysRoot) {
  if (::major(dev) != 0) return BlockNameOfDevice(::major(dev), ::minor(dev), sysRoot);
  std::ifstream in("/proc/self/mountinfo");
  const std::string number = std::to_string(::major(dev)) + ":" + std::to_string(::minor(dev));
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::string id, parent, majMin;
    fields >> id >> parent >> majMin;
    const size_t dash = line.find(" - ");
    if (majMin != number || dash == std::string::npos) continue;
    std::istringstream tail(line.substr(dash + 3));
    std::string type, source;
    tail >> type >> source;
    struct stat st;
    if (source.rfind("/dev/", 0) == 0 && ::stat(source.c_str(), &st) == 0 && S_ISBLK(st.st_mode)) {
      return BlockNameOfDevice(::major(st.st_rdev), ::minor(st.st_rdev), sysRoot);
    }
  }
  return "";
}

void TraceBlock(const std::string& name, uint64_t begin, uint64_t end, const std::string& sysRoot,
                std::vector<std::string> chain, const Via& via, int depth,
                std::vector<Piece>* out);

// A regular file: itself, and (through its file system) the device it is on.
void TraceFile(const std::string& path, uint64_t begin, uint64_t end, const std::string& sysRoot,
               const std::vector<std::string>& chain, int depth, std::vector<Piece>* out) {
  Piece piece;
  piece.isFile = true;
  piece.filePath = path;
  piece.begin = begin;
  piece.end = end;
  piece.chain = chain;
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) {
    piece.haveId = true;
    piece.dev = st.st_dev;
    piece.ino = st.st_ino;
  }
  out->push_back(piece);
  if (!piece.haveId) return;
  const std::string fsDevice = FileSystemDevice(st.st_dev, sysRoot);
  if (!fsDevice.empty()) {
    TraceBlock(fsDevice, 0, kAll, sysRoot, chain, Via{path, fsDevice}, depth + 1, out);
  }
}

void TraceBlock(const std::string& name, uint64_t begin, uint64_t end, const std::string& sysRoot,
                std::vector<std::string> chain, const Via& via, int depth,
                std::vector<Piece>* out) {
  if (depth > kMostDepth || name.empty()) return;
  chain.push_back(name);
  const std::string dir = ClassBlock(sysRoot, name);
  uint64_t sectors = 0;
  const bool sized = ReadNumber(dir + "/size", &sectors);
  const uint64_t length = sized ? (sectors > kAll / 512 ? kAll : sectors * 512) : kAll;
  end = std::min(end, length);

  if (fs::exists(dir + "/partition")) {
    std::error_code ec;
    const std::string parent = fs::canonical(dir, ec).parent_path().filename().string();
    uint64_t start = 0;
    if (!ec && ReadNumber(dir + "/start", &start) && start <= kAll / 512) {
      TraceBlock(parent, Plus(begin, start * 512), Plus(end, start * 512), sysRoot, chain, via,
                 depth + 1, out);
      return;
    }
  }
  std::string backing;
  if (ReadAttribute(dir + "/loop/backing_file", &backing) && !backing.empty()) {
    const std::string deleted = " (deleted)";
    if (backing.size() > deleted.size() &&
        backing.compare(backing.size() - deleted.size(), deleted.size(), deleted) == 0) {
      backing.resize(backing.size() - deleted.size());
    }
    uint64_t offset = 0;
    ReadNumber(dir + "/loop/offset", &offset);
    const uint64_t b = Plus(begin, offset), e = Plus(end, offset);
    struct stat st;
    if (::stat(backing.c_str(), &st) == 0 && S_ISBLK(st.st_mode)) {
      TraceBlock(BlockNameOfDevice(::major(st.st_rdev), ::minor(st.st_rdev), sysRoot), b, e,
                 sysRoot, chain, via, depth + 1, out);
    } else {
      const size_t before = out->size();
      TraceFile(backing, b, e, sysRoot, chain, depth, out);
      for (size_t i = before; i < out->size(); ++i) {
        if ((*out)[i].via.file.empty() && !via.file.empty()) (*out)[i].via = via;
      }
    }
    return;
  }
  const std::vector<fs::path> slaves = FolderEntries(dir + "/slaves");
  if (!slaves.empty()) {
    // How a stacked device maps onto its slaves is not in sysfs: all of
    // each slave counts.
    for (const fs::path& slave : slaves) {
      TraceBlock(slave.filename().string(), 0, kAll, sysRoot, chain, via, depth + 1, out);
    }
    return;
  }
  Piece piece;
  piece.disk = name;
  piece.begin = begin;
  piece.end = end;
  piece.chain = chain;
  piece.via = via;
  out->push_back(piece);
}

// A side given by a path: a block device node or a regular file. False when
// it is neither (or cannot be looked at).
bool TracePath(const std::string& path, const std::string& sysRoot, std::vector<Piece>* out) {
  struct stat st;
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return false;
  if (S_ISBLK(st.st_mode)) {
    std::string name = BlockNameOfDevice(::major(st.st_rdev), ::minor(st.st_rdev), sysRoot);
    if (name.empty()) {
      // Unknown to sysfs: the device number alone still tells two nodes of
      // one device apart from others.
      Piece piece;
      piece.disk = "dev " + std::to_string(::major(st.st_rdev)) + ":" +
                   std::to_string(::minor(st.st_rdev));
      out->push_back(piece);
      return true;
    }
    TraceBlock(name, 0, kAll, sysRoot, {}, Via{}, 0, out);
    return true;
  }
  if (S_ISREG(st.st_mode)) {
    TraceFile(AbsolutePath(path), 0, kAll, sysRoot, {}, 0, out);
    return true;
  }
  return false;
}

bool SameStorage(const Piece& x, const Piece& y) {
  if (x.isFile != y.isFile) return false;
  if (!x.via.file.empty() && !y.via.file.empty()) return false;
  if (!x.isFile) return x.disk == y.disk;
  if (x.haveId && y.haveId) return x.dev == y.dev && x.ino == y.ino;
  return x.filePath == y.filePath;
}

std::string Bytes(uint64_t begin, uint64_t end) {
  if (begin == 0 && end == kAll) return "";
  if (end == kAll) return " from byte " + std::to_string(begin);
  return " (bytes " + std::to_string(begin) + " to " + std::to_string(end - 1) + ")";
}

bool InChain(const Piece& piece, const std::string& name) {
  return std::find(piece.chain.begin(), piece.chain.end(), name) != piece.chain.end();
}

// Plain words for two pieces that share storage; `aTop` and `bTop` are the
// block names of the two sides (empty for a file).
std::string Explain(const std::string& a, const std::string& b, const std::string& aTop,
                    const std::string& bTop, const Piece& x, const Piece& y) {
  if (!x.via.file.empty() || !y.via.file.empty()) {
    const Via& via = x.via.file.empty() ? y.via : x.via;
    const std::string& other = x.via.file.empty() ? a : b;
    return "the file " + via.file + " is stored on /dev/" + via.device +
           ", which shares storage with " + other;
  }
  if (!bTop.empty() && aTop != bTop && InChain(x, bTop)) return a + " lies on " + b;
  if (!aTop.empty() && aTop != bTop && InChain(y, aTop)) return b + " lies on " + a;
  const uint64_t lo = std::max(x.begin, y.begin), hi = std::min(x.end, y.end);
  if (x.chain.empty() && y.chain.empty()) {
    return a + " and " + b + (x.isFile ? " are the same file" : " are the same drive");
  }
  if (aTop == bTop && !aTop.empty()) return a + " and " + b + " are the same drive";
  const std::string storage = x.isFile ? "the file " + x.filePath : "/dev/" + x.disk;
  return a + " and " + b + " both use " + storage + Bytes(lo, hi);
}

std::string TopName(const std::vector<Piece>& pieces) {
  for (const Piece& p : pieces) {
    if (p.via.file.empty() && !p.chain.empty()) return p.chain.front();
  }
  return "";
}

bool PiecesOverlap(const std::string& a, const std::string& b, const std::vector<Piece>& as,
                   const std::vector<Piece>& bs, std::string* why) {
  const std::string aTop = TopName(as), bTop = TopName(bs);
  for (const Piece& x : as) {
    for (const Piece& y : bs) {
      if (!SameStorage(x, y) || x.begin >= y.end || y.begin >= x.end) continue;
      if (why) *why = Explain(a, b, aTop, bTop, x, y);
      return true;
    }
  }
  return false;
}

}  // namespace

std::string BlockNameOfDevice(unsigned major, unsigned minor, const std::string& sysRoot) {
  const std::string number = std::to_string(major) + ":" + std::to_string(minor);
  std::error_code ec;
  const fs::path link = fs::read_symlink(sysRoot + "/dev/block/" + number, ec);
  if (!ec && !link.filename().empty()) return link.filename().string();
  for (const fs::path& entry : FolderEntries(sysRoot + "/class/block")) {
    std::string dev;
    if (ReadAttribute(entry.string() + "/dev", &dev) && dev == number) {
      return entry.filename().string();
    }
  }
  return "";
}

bool BlockDevicesOverlap(const std::string& a, const std::string& b, std::string* why,
                         const std::string& sysRoot) {
  std::vector<Piece> as, bs;
  TraceBlock(a, 0, kAll, sysRoot, {}, Via{}, 0, &as);
  TraceBlock(b, 0, kAll, sysRoot, {}, Via{}, 0, &bs);
  return PiecesOverlap("/dev/" + a, "/dev/" + b, as, bs, why);
}

bool FileSystemOverlaps(const std::string& fsDevice, const std::string& drive, std::string* why,
                        const std::string& sysRoot) {
  std::vector<Piece> as, bs;
  TraceBlock(fsDevice, 0, kAll, sysRoot, {}, Via{}, 0, &as);
  TraceBlock(drive, 0, kAll, sysRoot, {}, Via{}, 0, &bs);
  std::erase_if(bs, [](const Piece& p) { return !p.via.file.empty(); });
  return PiecesOverlap("/dev/" + fsDevice, "/dev/" + drive, as, bs, why);
}

bool DrivesOverlap(const std::string& a, const std::string& b, std::string* why,
                   const std::string& sysRoot) {
  std::vector<Piece> as, bs;
  if (!TracePath(a, sysRoot, &as) || !TracePath(b, sysRoot, &bs)) return false;
  return PiecesOverlap(a, b, as, bs, why);
}

bool FolderOnDrive(const std::string& folder, const std::string& sourcePath, std::string* why,
                   const std::string& sysRoot) {
  struct stat source;
  if (folder.empty() || ::stat(sourcePath.c_str(), &source) != 0) return false;
  std::error_code ec;
  if (S_ISREG(source.st_mode)) {
    struct stat out;
    if (::stat(folder.c_str(), &out) != 0) return false;  // a new folder holds nothing yet
    fs::path p = fs::weakly_canonical(AbsolutePath(sourcePath), ec).parent_path();
    for (int depth = 0; !ec && depth < 4096; ++depth) {
      struct stat st;
      if (::stat(p.c_str(), &st) == 0 && st.st_dev == out.st_dev && st.st_ino == out.st_ino) {
        if (why) *why = "the image " + sourcePath + " lies inside the folder " + folder;
        return true;
      }
      if (p == p.root_path() || p.empty()) break;
      p = p.parent_path();
    }
    return false;
  }
  if (!S_ISBLK(source.st_mode)) return false;
  // The folder may not exist yet: it would be made on the file system of
  // the nearest folder above it that does.
  fs::path p = AbsolutePath(folder);
  struct stat st;
  while (::stat(p.c_str(), &st) != 0) {
    if (p == p.root_path() || p.empty()) return false;
    p = p.parent_path();
  }
  const std::string fsDevice = FileSystemDevice(st.st_dev, sysRoot);
  const std::string sourceName =
      BlockNameOfDevice(::major(source.st_rdev), ::minor(source.st_rdev), sysRoot);
  if (fsDevice.empty() || sourceName.empty()) return false;
  if (!FileSystemOverlaps(fsDevice, sourceName, nullptr, sysRoot)) return false;
  if (why) {
    *why = "the folder " + folder + " is on a file system of /dev/" + fsDevice +
           (fsDevice == sourceName ? ", the source itself"
                                   : ", which shares storage with the source " + sourcePath);
  }
  return true;
}

}  // namespace platform
