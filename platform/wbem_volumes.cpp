// Win32_LogicalDisk and Win32_LogicalDiskToPartition instances from the
// volumes and the mount table.
//
// Object paths have the form the window's callers parse: an association's
// __RELPATH reads
//   Win32_LogicalDiskToPartition.Antecedent="\\\\HOST\\root\\cimv2:
//   Win32_DiskPartition.DeviceID=\"Disk #1, Partition #0\"",Dependent=
//   "\\\\HOST\\root\\cimv2:Win32_LogicalDisk.DeviceID=\"D:\""
// (one line), where Disk #N is physicaldriveN of the drive list and the
// partition number counts from 0.
#include <unistd.h>

#include <cctype>

#include "platform/drives.h"
#include "platform/volumes.h"
#include "platform/wbem.h"

namespace platform {
namespace {

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "LOCALHOST";
  std::string host(name);
  for (char& c : host) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return host;
}

// A value inside a quoted key of an object path: backslashes and quotation
// marks get a backslash before them.
std::string Quoted(const std::string& value) {
  std::string out = "\"";
  for (char c : value) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string Description(uint32_t driveType) {
  switch (driveType) {
    case kDriveRemovable: return "Removable Disk";
    case kDriveCdrom: return "CD-ROM Disc";
    default: return "Local Fixed Disk";
  }
}

WbemClassObject LogicalDisk(const VolumeTable& table, const Volume& v) {
  const std::string id = std::string(1, v.letter) + ":";
  uint64_t caller = 0, total = 0, free = 0;
  const bool space = table.DiskFreeSpace(id, &caller, &total, &free);
  return WbemClassObject(
      "Win32_LogicalDisk",
      {{"__CLASS", "Win32_LogicalDisk", "string", false},
       {"__RELPATH", "Win32_LogicalDisk.DeviceID=" + Quoted(id), "string", false},
       {"Caption", id, "string", false},
       {"Description", Description(v.driveType), "string", false},
       {"DeviceID", id, "string", false},
       {"DriveType", std::to_string(v.driveType), "uint32", false},
       {"FileSystem", v.fileSystem, "string", v.fileSystem.empty()},
       {"FreeSpace", std::to_string(free), "uint64", !space},
       {"Name", id, "string", false},
       {"Size", std::to_string(total), "uint64", !space},
       {"VolumeName", v.label, "string", false}});
}

WbemClassObject DiskToPartition(const std::string& host, const Volume& v, size_t diskIndex) {
  const std::string prefix = "\\\\" + host + "\\root\\cimv2:";
  const int partition = v.partition > 0 ? v.partition - 1 : 0;
  const std::string antecedent =
      prefix + "Win32_DiskPartition.DeviceID=\"Disk #" + std::to_string(diskIndex) +
      ", Partition #" + std::to_string(partition) + "\"";
  const std::string dependent =
      prefix + "Win32_LogicalDisk.DeviceID=\"" + std::string(1, v.letter) + ":\"";
  const std::string relpath = "Win32_LogicalDiskToPartition.Antecedent=" + Quoted(antecedent) +
                              ",Dependent=" + Quoted(dependent);
  return WbemClassObject(
      "Win32_LogicalDiskToPartition",
      {{"__CLASS", "Win32_LogicalDiskToPartition", "string", false},
       {"__RELPATH", relpath, "string", false},
       {"Antecedent", antecedent, "ref:Win32_DiskPartition", false},
       {"Dependent", dependent, "ref:Win32_LogicalDisk", false},
       {"EndingAddress", std::to_string(v.start + v.size - 1), "uint64", false},
       {"StartingAddress", std::to_string(v.start), "uint64", false}});
}

class LogicalDiskProvider : public WbemProvider {
 public:
  explicit LogicalDiskProvider(MachineSources sources) : sources_(std::move(sources)) {}

  bool Instances(const std::string& className, std::vector<WbemClassObject>* out) override {
    if (className == "Win32_LogicalDisk") {
      const VolumeTable table(sources_);
      for (const Volume& v : table.volumes()) out->push_back(LogicalDisk(table, v));
      return true;
    }
    if (className == "Win32_LogicalDiskToPartition") {
      // Only volumes on the disks of the drive list have a partition there.
      const VolumeTable table(sources_);
      const std::vector<WholeDisk> disks = ListWholeDisks(sources_.sysRoot, sources_.mountInfo);
      const std::string host = HostName();
      for (const WholeDisk& disk : disks) {
        for (const Volume& v : table.volumes()) {
          if (v.disk == disk.name) {
            out->push_back(DiskToPartition(host, v, static_cast<size_t>(disk.number)));
          }
        }
      }
      return true;
    }
    return false;
  }

 private:
  MachineSources sources_;
};

}  // namespace

std::unique_ptr<WbemProvider> MakeLogicalDiskProvider(const MachineSources& sources) {
  return std::make_unique<LogicalDiskProvider>(sources);
}

}  // namespace platform
