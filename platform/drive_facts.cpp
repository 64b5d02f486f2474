#include "platform/drive_facts.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <fstream>

#include "platform/fs.h"
#include "platform/mounts.h"
#include "platform/overlap.h"

namespace platform {
namespace {

// The longest attribute taken as a fact: model and serial texts are short.
constexpr std::streamsize kMostAttributeBytes = 256;

std::string BaseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Join(const std::string& a, const std::string& b) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  return a + " " + b;
}

// The disk's name in <sysRoot>/block: by the node's device number, else (a
// fixture tree, a node not made yet) by the node's own name.
std::string DiskName(const std::string& devicePath, const std::string& sysRoot) {
  struct stat st;
  if (::stat(devicePath.c_str(), &st) == 0 && S_ISBLK(st.st_mode)) {
    const std::string name = BlockNameOfDevice(::major(st.st_rdev), ::minor(st.st_rdev), sysRoot);
    if (!name.empty() && Exists(sysRoot + "/block/" + name)) return name;
  }
  // A node in a folder named dev (/dev/sdb, or a stand-in of a test machine).
  const std::string name = BaseName(devicePath);
  const std::string folder = devicePath.substr(0, devicePath.size() - name.size());
  if (name.empty() || folder.size() < 5 || folder.compare(folder.size() - 5, 5, "/dev/") != 0) {
    return "";
  }
  return Exists(sysRoot + "/block/" + name) ? name : "";
}

std::string ModelOf(const std::string& disk, const std::string& sysRoot) {
  const std::string block = sysRoot + "/block/" + disk;
  const std::string backing = ReadTextAttribute(block + "/loop/backing_file");
  if (!backing.empty()) return BaseName(backing);
  const std::string device = block + "/device/";
  // A card: its type and name ("SD SC32G").
  const std::string cardName = ReadTextAttribute(device + "name");
  if (!cardName.empty()) return Join(ReadTextAttribute(device + "type"), cardName);
  std::string vendor = ReadTextAttribute(device + "vendor");
  // The ATA layer's vendor word, and a bus's vendor number (virtio's
  // "0x1af4"), say nothing a person knows the drive by.
  if (vendor == "ATA" || vendor.rfind("0x", 0) == 0) vendor.clear();
  return Join(vendor, ReadTextAttribute(device + "model"));
}

}  // namespace

std::string ReadTextAttribute(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return "";
  std::string text(static_cast<size_t>(kMostAttributeBytes) + 1, '\0');
  in.read(text.data(), kMostAttributeBytes + 1);
  text.resize(static_cast<size_t>(in.gcount()));
  if (text.size() > static_cast<size_t>(kMostAttributeBytes)) return "";
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '\t')) {
    text.pop_back();
  }
  size_t first = 0;
  while (first < text.size() && (text[first] == ' ' || text[first] == '\t')) ++first;
  text.erase(0, first);
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u > 0x7E) return "";
  }
  return text;
}

DriveFacts ReadDriveFacts(const std::string& devicePath, const std::string& sysRoot,
                          const std::string& mountInfo) {
  DriveFacts facts;
  const std::string disk = DiskName(devicePath, sysRoot);
  if (disk.empty()) {
    struct stat st;
    if (::stat(devicePath.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      facts.model = BaseName(devicePath);
      facts.sizeBytes = static_cast<uint64_t>(st.st_size);
    }
    return facts;
  }
  const std::string block = sysRoot + "/block/" + disk;
  facts.model = ModelOf(disk, sysRoot);
  facts.serial = ReadTextAttribute(block + "/device/serial");
  facts.removable = ReadTextAttribute(block + "/removable") == "1";
  const std::string sectors = ReadTextAttribute(block + "/size");
  uint64_t count = 0;
  bool digits = !sectors.empty() && sectors.size() <= 19;
  for (char c : sectors) {
    if (c < '0' || c > '9') digits = false;
  }
  if (digits) {
    for (char c : sectors) count = count * 10 + static_cast<uint64_t>(c - '0');
    // Sizes are counted in 512-byte sectors whatever the drive's own.
    if (count <= UINT64_MAX / 512) facts.sizeBytes = count * 512;
  }
  facts.holdsRoot = HoldsRootFileSystem(disk, mountInfo, sysRoot);
  return facts;
}

}  // namespace platform
