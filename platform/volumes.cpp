#include "platform/volumes.h"

#include <blkid/blkid.h>
#include <dirent.h>
#include <libmount/libmount.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <sys/types.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>

#include "platform/fs.h"
#include "base/text.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

bool ReadLine(const fs::path& file, std::string* line) {
  std::ifstream in(file);
  return in && std::getline(in, *line);
}

uint64_t ReadNumber(const fs::path& file) {
  std::string line;
  if (!ReadLine(file, &line)) return 0;
  uint64_t v = 0;
  for (char c : line) {
    if (!std::isdigit(static_cast<unsigned char>(c))) break;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  return v;
}

// "8:1" from a sysfs "dev" file.
bool ReadDevno(const fs::path& file, dev_t* devno) {
  std::string line;
  unsigned major = 0, minor = 0;
  if (!ReadLine(file, &line) || std::sscanf(line.c_str(), "%u:%u", &major, &minor) != 2) {
    return false;
  }
  *devno = makedev(major, minor);
  return true;
}

// Names in the order people read them: sda2 before sda10.
bool NaturalLess(const std::string& a, const std::string& b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const bool da = std::isdigit(static_cast<unsigned char>(a[i]));
    const bool db = std::isdigit(static_cast<unsigned char>(b[j]));
    if (da && db) {
      size_t ei = i, ej = j;
      while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei]))) ++ei;
      while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej]))) ++ej;
      std::string na = a.substr(i, ei - i), nb = b.substr(j, ej - j);
      na.erase(0, std::min(na.find_first_not_of('0'), na.size()));
      nb.erase(0, std::min(nb.find_first_not_of('0'), nb.size()));
      if (na.size() != nb.size()) return na.size() < nb.size();
      if (na != nb) return na < nb;
      i = ei;
      j = ej;
      continue;
    }
    if (a[i] != b[j]) return a[i] < b[j];
    ++i;
    ++j;
  }
  return a.size() - i < b.size() - j;
}

// File system names as the volume list shows them.
std::string FileSystemName(const std::string& type, const std::string& version) {
  if (type == "vfat" || type == "msdos") return version == "FAT32" ? "FAT32" : "FAT";
  if (type == "ntfs" || type == "ntfs3") return "NTFS";
  if (type == "exfat") return "exFAT";
  if (type == "iso9660") return "CDFS";
  if (type == "udf") return "UDF";
  return type;
}

// What libblkid finds on a device: a file system's type, version and label.
// False when it finds no file system (or cannot read the device).
bool ProbeFileSystem(const std::string& node, std::string* name, std::string* label) {
  blkid_probe probe = blkid_new_probe_from_filename(node.c_str());
  if (!probe) return false;
  blkid_probe_enable_superblocks(probe, 1);
  blkid_probe_set_superblocks_flags(
      probe, BLKID_SUBLKS_TYPE | BLKID_SUBLKS_LABEL | BLKID_SUBLKS_VERSION | BLKID_SUBLKS_USAGE);
  bool found = false;
  if (blkid_do_safeprobe(probe) == 0) {
    auto value = [probe](const char* key) {
      const char* data = nullptr;
      return blkid_probe_lookup_value(probe, key, &data, nullptr) == 0 && data ? std::string(data)
                                                                             : std::string();
    };
    if (value("USAGE") == "filesystem") {
      *name = FileSystemName(value("TYPE"), value("VERSION"));
      *label = value("LABEL");
      found = !name->empty();
    }
  }
  blkid_free_probe(probe);
  return found;
}

struct Mount {
  std::string target;
  std::string type;
};

// The mount table by device number: where each device is mounted (its first
// mount of the whole file system), and which device is mounted at /.
struct MountTable {
  std::map<dev_t, Mount> byDevice;
  bool hasRoot = false;
  dev_t root = 0;
};

MountTable ReadMountTable(const std::string& path) {
  MountTable table;
  libmnt_table* tb = mnt_new_table_from_file(path.c_str());
  if (!tb) return table;
  libmnt_iter* it = mnt_new_iter(MNT_ITER_FORWARD);
  libmnt_fs* entry = nullptr;
  while (it && mnt_table_next_fs(tb, it, &entry) == 0) {
    const dev_t devno = mnt_fs_get_devno(entry);
    const char* target = mnt_fs_get_target(entry);
    const char* root = mnt_fs_get_root(entry);
    const char* type = mnt_fs_get_fstype(entry);
    if (devno == 0 || !target) continue;
    if (std::string(target) == "/") {
      // The last mount at / is the one in effect.
      table.hasRoot = true;
      table.root = devno;
      table.byDevice[devno] = {target, type ? type : ""};
      continue;
    }
    if (root && std::string(root) != "/") continue;  // a bind mount of a folder
    table.byDevice.emplace(devno, Mount{target, type ? type : ""});
  }
  mnt_free_iter(it);
  mnt_unref_table(tb);
  return table;
}

bool IsCandidateDevice(const fs::path& dir, const std::string& name) {
  if (name.rfind("loop", 0) == 0) {
    std::string backing;
    return ReadLine(dir / "loop" / "backing_file", &backing) && !backing.empty();
  }
  return true;
}

struct Candidate {
  Volume volume;
  dev_t devno = 0;
};

// The partitions of a device, or the device itself when it has none.
void CollectCandidates(const fs::path& blockDir, const std::string& name,
                       std::vector<Candidate>* out) {
  const fs::path dir = blockDir / name;
  const bool removable = ReadNumber(dir / "removable") == 1;
  const uint32_t type = name.rfind("sr", 0) == 0 ? kDriveCdrom
                        : removable              ? kDriveRemovable
                                                 : kDriveFixed;
  std::vector<Candidate> parts;
  std::error_code ec;
  for (const fs::path& p : FolderEntries(dir)) {
    if (!fs::exists(p / "partition", ec)) continue;
    Candidate c;
    c.volume.name = p.filename().string();
    c.volume.disk = name;
    c.volume.partition = static_cast<int>(ReadNumber(p / "partition"));
    c.volume.start = ReadNumber(p / "start") * 512;
    c.volume.size = ReadNumber(p / "size") * 512;
    c.volume.driveType = type;
    if (ReadDevno(p / "dev", &c.devno)) parts.push_back(std::move(c));
  }
  if (parts.empty()) {
    Candidate c;
    c.volume.name = name;
    c.volume.disk = name;
    c.volume.size = ReadNumber(dir / "size") * 512;
    c.volume.driveType = type;
    if (ReadDevno(dir / "dev", &c.devno)) parts.push_back(std::move(c));
  }
  for (Candidate& c : parts) {
    if (c.volume.size > 0) out->push_back(std::move(c));
  }
}

using base::Lower;

// `name` in `folder`: the exact entry when there is one, else the first
// entry whose name differs only in case; empty when none.
std::string EntryIn(const std::string& folder, const std::string& name) {
  std::error_code ec;
  if (fs::exists(fs::path(folder) / name, ec)) return name;
  const std::string wanted = Lower(name);
  for (const fs::path& entry : FolderEntries(folder)) {
    const std::string n = entry.filename().string();
    if (Lower(n) == wanted) return n;
  }
  return "";
}

// The letters given so far, per machine (the sources it is read from): a
// device keeps its letter for the life of the process, and a letter once
// given is not given to another device, so that a letter picked in the window
// goes on naming the same volume after devices come and go.
struct LetterBook {
  std::mutex mutex;
  std::map<std::string, std::map<std::string, char>> byMachine;  // node -> letter
};

LetterBook& Letters() {
  static LetterBook book;
  return book;
}

// C: is kept for the volume at /. The others, in device-name order, keep the
// letter they had or take the first letter from D: that was never given; a
// volume finds none beyond Z:.
void AssignLetters(const MachineSources& sources, std::vector<Volume>* others) {
  LetterBook& book = Letters();
  std::lock_guard<std::mutex> lock(book.mutex);
  auto& given = book.byMachine[sources.sysRoot + '\n' + sources.devRoot + '\n' + sources.mountInfo];
  std::set<char> used{'C'};
  for (const auto& [node, letter] : given) used.insert(letter);
  for (Volume& v : *others) {
    auto known = given.find(v.node);
    if (known != given.end()) v.letter = known->second;
  }
  char next = 'D';
  for (Volume& v : *others) {
    if (v.letter != 0) continue;
    while (next <= 'Z' && used.count(next) != 0) ++next;
    if (next > 'Z') break;
    v.letter = next;
    used.insert(next);
    given[v.node] = next;
  }
}

}  // namespace

char DriveLetterOf(const std::string& text) {
  if (text.size() < 2 || text.size() > 3 || text[1] != ':') return 0;
  if (text.size() == 3 && text[2] != '\\') return 0;
  const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
  return c >= 'A' && c <= 'Z' ? c : 0;
}

VolumeTable::VolumeTable(const MachineSources& sources) {
  const fs::path blockDir = fs::path(sources.sysRoot) / "block";
  std::vector<Candidate> candidates;
  for (const fs::path& entry : FolderEntries(blockDir)) {
    const std::string name = entry.filename().string();
    if (IsCandidateDevice(entry, name)) CollectCandidates(blockDir, name, &candidates);
  }
  std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
    return NaturalLess(a.volume.name, b.volume.name);
  });

  const MountTable mounts = ReadMountTable(sources.mountInfo);
  std::vector<Volume> others;
  for (Candidate& c : candidates) {
    Volume& v = c.volume;
    v.node = sources.devRoot + "/" + v.name;
    auto mount = mounts.byDevice.find(c.devno);
    if (mount != mounts.byDevice.end()) v.mountPoint = mount->second.target;
    if (!ProbeFileSystem(v.node, &v.fileSystem, &v.label)) {
      // Without the right to read the device, a mounted volume is still
      // known by the mount table.
      if (v.mountPoint.empty()) continue;
      v.fileSystem = FileSystemName(mount->second.type, "");
    }
    if (mounts.hasRoot && c.devno == mounts.root) {
      v.letter = 'C';
      volumes_.push_back(std::move(v));
    } else {
      others.push_back(std::move(v));
    }
  }
  AssignLetters(sources, &others);
  for (Volume& v : others) {
    if (v.letter != 0) volumes_.push_back(std::move(v));
  }
  std::sort(volumes_.begin(), volumes_.end(),
            [](const Volume& a, const Volume& b) { return a.letter < b.letter; });
}

const Volume* VolumeTable::Find(const std::string& root) const {
  const char letter = DriveLetterOf(root);
  if (letter == 0) return nullptr;
  for (const Volume& v : volumes_) {
    if (v.letter == letter) return &v;
  }
  return nullptr;
}

std::vector<std::string> VolumeTable::LogicalDriveStrings() const {
  std::vector<std::string> roots;
  for (const Volume& v : volumes_) roots.push_back(std::string(1, v.letter) + ":\\");
  return roots;
}

bool VolumeTable::VolumeInformation(const std::string& root, std::string* label,
                                    std::string* fileSystem) const {
  const Volume* v = Find(root);
  if (!v) return false;
  *label = v->label;
  *fileSystem = v->fileSystem;
  return true;
}

uint32_t VolumeTable::DriveType(const std::string& root) const {
  const Volume* v = Find(root);
  return v ? v->driveType : kDriveNoRootDir;
}

bool VolumeTable::DiskFreeSpace(const std::string& root, uint64_t* freeForCaller,
                                uint64_t* total, uint64_t* totalFree) const {
  const Volume* v = Find(root);
  if (!v) return false;
  if (v->mountPoint.empty()) {
    *freeForCaller = 0;
    *total = v->size;
    *totalFree = 0;
    return true;
  }
  struct statvfs st;
  if (::statvfs(v->mountPoint.c_str(), &st) != 0) return false;
  *freeForCaller = static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
  *total = static_cast<uint64_t>(st.f_blocks) * st.f_frsize;
  *totalFree = static_cast<uint64_t>(st.f_bfree) * st.f_frsize;
  return true;
}

bool VolumeTable::LocalPath(const std::string& windowsPath, std::string* local) const {
  const Volume* v = windowsPath.size() >= 2 ? Find(windowsPath.substr(0, 2)) : nullptr;
  if (!v || v->mountPoint.empty()) {
    errno = ENOENT;
    return false;
  }
  std::string path = v->mountPoint;
  size_t pos = 2;
  while (pos < windowsPath.size()) {
    size_t end = windowsPath.find('\\', pos);
    if (end == std::string::npos) end = windowsPath.size();
    const std::string part = windowsPath.substr(pos, end - pos);
    pos = end + 1;
    if (part.empty()) continue;
    const std::string entry = EntryIn(path, part);
    // A component that does not exist is kept as written: opening it then
    // fails with the system's own error.
    path = (path == "/" ? "" : path) + "/" + (entry.empty() ? part : entry);
  }
  *local = path;
  return true;
}

}  // namespace platform
