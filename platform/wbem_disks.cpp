// Win32_DiskDrive instances from the drive inventory: the machine's whole
// disks (physicaldriveN by the numbers of ListWholeDisks), then the image files
// and device nodes the user attached, whose DeviceID is "\\.\" + their path.
#include <algorithm>
#include <cctype>
#include <string>

#include "platform/devtree.h"
#include "platform/drives.h"
#include "platform/wbem.h"

namespace platform {
namespace {

WbemProperty Text(const char* name, const std::string& value) {
  return {name, value, "string", false};
}

WbemProperty Number(const char* name, const char* cimType, uint64_t value, bool known = true) {
  return {name, known ? std::to_string(value) : std::string(), cimType, !known};
}

// The object path of a drive as its __RELPATH reads: backslashes doubled.
std::string RelPath(const std::string& deviceId) {
  std::string escaped;
  for (char c : deviceId) {
    if (c == '\\' || c == '"') escaped += '\\';
    escaped += c;
  }
  return "Win32_DiskDrive.DeviceID=\"" + escaped + "\"";
}

std::string InterfaceType(const std::string& pnpId) {
  if (pnpId.find("/usb") != std::string::npos) return "USB";
  if (pnpId.find("/mmc_host/") != std::string::npos) return "SD";
  if (pnpId.find("/nvme/") != std::string::npos) return "NVMe";
  if (pnpId.find("/ata") != std::string::npos) return "IDE";
  if (pnpId.find("virtual/") == 0) return "Virtual";
  if (pnpId.rfind("image:", 0) == 0) return "File";
  return "SCSI";
}

std::string MediaType(const MachineSources& sources, const std::string& blockName) {
  std::string removable;
  if (!blockName.empty() &&
      ReadAttribute(sources.sysRoot + "/block/" + blockName + "/removable", &removable) &&
      removable == "1") {
    return "Removable Media";
  }
  return "Fixed hard disk media";
}

// `disks` is the listing the drive's number was taken from.
WbemClassObject DiskDrive(const MachineSources& sources, const std::vector<WholeDisk>& disks,
                          const DeviceTree& tree, const std::string& deviceId, uint32_t index,
                          const std::string& pnpId, const std::string& blockName) {
  std::string model;
  if (!tree.FriendlyName(pnpId, &model)) model.clear();
  DiskGeometry g;
  const bool sized = QueryGeometry(sources, disks, deviceId, &g);
  const uint64_t sectors = sized ? static_cast<uint64_t>(g.cylinders) : 0;
  return WbemClassObject(
      "Win32_DiskDrive",
      {Text("__CLASS", "Win32_DiskDrive"), Text("__RELPATH", RelPath(deviceId)),
       Text("__NAMESPACE", "root\\cimv2"), Number("BytesPerSector", "uint32", kSectorSize),
       Text("Caption", model), Text("DeviceID", deviceId), Number("Index", "uint32", index),
       Text("InterfaceType", InterfaceType(pnpId)),
       Text("MediaType", MediaType(sources, blockName)), Text("Model", model),
       Text("Name", deviceId), Text("PNPDeviceID", pnpId),
       Number("Size", "uint64", sectors * kSectorSize, sized),
       Number("TotalSectors", "uint64", sectors, sized)});
}

class DiskDriveProvider : public WbemProvider {
 public:
  explicit DiskDriveProvider(const MachineSources& sources) : sources_(sources) {}

  bool Instances(const std::string& className,
                 std::vector<WbemClassObject>* instances) override {
    if (!SameClass(className)) return false;
    const DeviceTree tree(sources_);
    uint32_t index = 0;
    const std::vector<WholeDisk> disks = ListWholeDisks(sources_.sysRoot, sources_.mountInfo);
    for (const WholeDisk& disk : disks) {
      std::string pnpId;
      if (!tree.BlockDeviceId(disk.name, &pnpId)) pnpId = "virtual/block/" + disk.name;
      const auto number = static_cast<uint32_t>(disk.number);
      instances->push_back(DiskDrive(sources_, disks, tree,
                                     "\\\\.\\PHYSICALDRIVE" + std::to_string(number), number,
                                     pnpId, disk.name));
      index = std::max(index, number + 1);
    }
    for (const std::string& path : sources_.attachedImages) {
      std::string pnpId;
      tree.PathDeviceId(path, &pnpId);
      instances->push_back(
          DiskDrive(sources_, disks, tree, kDevicePrefix + path, index, pnpId, ""));
      ++index;
    }
    return true;
  }

 private:
  static bool SameClass(const std::string& name) {
    static const std::string kClass = "win32_diskdrive";
    if (name.size() != kClass.size()) return false;
    for (size_t i = 0; i < name.size(); ++i) {
      if (std::tolower(static_cast<unsigned char>(name[i])) != kClass[i]) return false;
    }
    return true;
  }

  MachineSources sources_;
};

}  // namespace

std::unique_ptr<WbemProvider> MakeDiskDriveProvider(const MachineSources& sources) {
  return std::make_unique<DiskDriveProvider>(sources);
}

}  // namespace platform
