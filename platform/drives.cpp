#include "platform/drives.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <fstream>

#include "platform/fs.h"
#include "platform/volumes.h"

namespace platform {
namespace {

bool StartsWith(const std::string& s, const char* prefix) {
  return s.rfind(prefix, 0) == 0;
}

bool ReadFirstLine(const std::filesystem::path& file, std::string* line) {
  std::ifstream in(file);
  return in && std::getline(in, *line);
}

bool IsWholeDiskName(const std::string& name) {
  static const char* kPrefixes[] = {"sd", "mmcblk", "vd", "hd", "xvd"};
  for (const char* p : kPrefixes) {
    if (StartsWith(name, p)) return true;
  }
  // nvme0n1, but not the per-controller paths (nvme0c0n1) of multipath.
  if (StartsWith(name, "nvme")) {
    return name.find('n', 4) != std::string::npos && name.find('c', 4) == std::string::npos;
  }
  return false;
}

}  // namespace

std::vector<WholeDisk> ListWholeDisks(const std::string& sysRoot) {
  std::vector<WholeDisk> disks;
  for (const std::filesystem::path& entry : FolderEntries(std::filesystem::path(sysRoot) / "block")) {
    std::string name = entry.filename().string();
    bool take = IsWholeDiskName(name);
    if (StartsWith(name, "loop")) {
      std::string backing;
      take = ReadFirstLine(entry / "loop" / "backing_file", &backing) && !backing.empty();
    }
    if (take) disks.push_back({name, "/dev/" + name});
  }
  std::sort(disks.begin(), disks.end(),
            [](const WholeDisk& a, const WholeDisk& b) { return a.name < b.name; });
  return disks;
}

int PhysicalDriveIndex(const std::string& name) {
  static const std::string kWord = "physicaldrive";
  if (name.size() <= kWord.size() || name.compare(0, kWord.size(), kWord) != 0) return -1;
  int index = 0;
  for (size_t i = kWord.size(); i < name.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(name[i])) || index > 100000) return -1;
    index = index * 10 + (name[i] - '0');
  }
  return index;
}

std::string StripDevicePrefix(const std::string& path) {
  return StartsWith(path, kDevicePrefix) ? path.substr(4) : path;
}

DeviceOpener::DeviceOpener(std::string sysRoot, std::string devRoot, std::string mountInfo)
    : sysRoot_(std::move(sysRoot)), devRoot_(std::move(devRoot)), mountInfo_(std::move(mountInfo)) {}

namespace {
bool IsVolumeName(const std::string& name) { return name.size() == 2 && DriveLetterOf(name) != 0; }
}  // namespace

std::string DeviceOpener::Resolve(const std::string& name) const {
  if (IsVolumeName(name)) {
    const VolumeTable table(MachineSources{sysRoot_, devRoot_, mountInfo_, "", {}});
    const Volume* volume = table.Find(name);
    return volume ? volume->node : "";
  }
  int index = PhysicalDriveIndex(name);
  if (index < 0) return name;
  std::vector<WholeDisk> disks = ListWholeDisks(sysRoot_);
  if (static_cast<size_t>(index) >= disks.size()) return "";
  return devRoot_ + "/" + disks[static_cast<size_t>(index)].name;
}

DeviceHandle DeviceOpener::Open(const std::string& path, Access access) {
  const std::string name = StripDevicePrefix(path);
  std::string file;
  if (IsVolumeName(name)) {
    const VolumeTable table(MachineSources{sysRoot_, devRoot_, mountInfo_, "", {}});
    const Volume* volume = table.Find(name);
    // A mounted volume belongs to its file system: writing under it would
    // corrupt it. (A block device is also opened exclusively, which the
    // kernel refuses while it is mounted; this covers every kind of node.)
    if (volume && access == Access::kReadWrite && !volume->mountPoint.empty()) {
      errno = EBUSY;
      return nullptr;
    }
    if (volume) file = volume->node;
  } else {
    file = Resolve(name);
  }
  if (file.empty()) {
    errno = ENOENT;
    return nullptr;
  }
  return OpenPath(file, access);
}

}  // namespace platform
