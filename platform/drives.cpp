#include "platform/drives.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "platform/drive_facts.h"
#include "platform/drive_numbers.h"
#include "platform/fs.h"
#include "platform/overlap.h"
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

// The block names of the loop devices with a squashfs image mounted.
std::set<std::string> SquashfsDevices(const std::string& mountInfo, const std::string& sysRoot) {
  std::set<std::string> names = {""};  // never empty once looked at
  std::ifstream in(mountInfo);
  for (std::string line; std::getline(in, line);) {
    // ID PARENT MAJ:MIN ROOT POINT OPTIONS [OPTIONAL...] - TYPE SOURCE SUPER
    const size_t dash = line.find(" - ");
    if (dash == std::string::npos || line.compare(dash + 3, 9, "squashfs ") != 0) continue;
    std::istringstream fields(line);
    std::string id, parent, majMin;
    fields >> id >> parent >> majMin;
    unsigned major = 0, minor = 0;
    if (std::sscanf(majMin.c_str(), "%u:%u", &major, &minor) != 2) continue;
    const std::string name = BlockNameOfDevice(major, minor, sysRoot);
    if (!name.empty()) names.insert(name);
  }
  return names;
}

bool ReadSequence(const std::string& file, uint64_t* seq) {
  const std::string text = ReadTextAttribute(file);
  if (text.empty() || text.size() > 19) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  *seq = v;
  return true;
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

std::vector<WholeDisk> ListWholeDisks(const std::string& sysRoot, const std::string& mountInfo) {
  std::vector<WholeDisk> disks;
  std::set<std::string> squashfs;
  for (const std::filesystem::path& entry : FolderEntries(std::filesystem::path(sysRoot) / "block")) {
    std::string name = entry.filename().string();
    bool take = IsWholeDiskName(name);
    if (StartsWith(name, "loop")) {
      std::string backing;
      take = ReadFirstLine(entry / "loop" / "backing_file", &backing) && !backing.empty();
      if (take && squashfs.empty()) squashfs = SquashfsDevices(mountInfo, sysRoot);
      if (take && squashfs.count(name)) take = false;
    }
    if (take) disks.push_back({name, "/dev/" + name, 0});
  }
  std::sort(disks.begin(), disks.end(),
            [](const WholeDisk& a, const WholeDisk& b) { return a.name < b.name; });
  // The table's numbers when every disk has a sequence number; else the
  // place in name order.
  std::vector<uint64_t> seqs;
  for (const WholeDisk& disk : disks) {
    uint64_t seq = 0;
    if (!ReadSequence(sysRoot + "/block/" + disk.name + "/diskseq", &seq)) break;
    seqs.push_back(seq);
  }
  std::vector<int> numbers;
  if (!disks.empty() && seqs.size() == disks.size()) {
    numbers = NumberDisks(seqs, DriveNumberFolder());
  }
  for (size_t i = 0; i < disks.size(); ++i) {
    disks[i].number = numbers.size() == disks.size() ? numbers[i] : static_cast<int>(i);
  }
  std::stable_sort(disks.begin(), disks.end(),
                   [](const WholeDisk& a, const WholeDisk& b) { return a.number < b.number; });
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
  for (const WholeDisk& disk : ListWholeDisks(sysRoot_, mountInfo_)) {
    if (disk.number == index) return devRoot_ + "/" + disk.name;
  }
  return "";
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
