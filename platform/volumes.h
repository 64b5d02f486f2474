// The machine's volumes and their drive letters.
//
// A volume is a block device that holds a file system libblkid recognises: a
// partition, or a whole device without partitions. Mounted or not, each gets
// a drive letter: C: for the volume mounted at /, then D:, E:, ... for the
// others in device-name order (sda2 before sda10). A volume keeps its letter
// for the life of the process; one that appears later takes the first letter
// never given. Mount points come from the
// mount table, free space from statvfs, the drive type from the removable flag
// in sysfs. All of it is read from the MachineSources, so tests run on fixture
// trees.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/wbem.h"

namespace platform {

// Drive type codes of the volume list.
enum DriveTypeCode : uint32_t {
  kDriveUnknown = 0,
  kDriveNoRootDir = 1,
  kDriveRemovable = 2,
  kDriveFixed = 3,
  kDriveRemote = 4,
  kDriveCdrom = 5,
  kDriveRamdisk = 6,
};

struct Volume {
  char letter = 0;          // 'C'
  std::string name;         // sda1
  std::string node;         // <devRoot>/sda1
  std::string disk;         // sda: the whole device the volume lies on
  int partition = 0;        // partition number (1, 2, ...); 0 for a whole device
  uint64_t start = 0;       // byte offset on the whole device
  uint64_t size = 0;        // bytes
  std::string fileSystem;   // "FAT32", "NTFS", "ext4"
  std::string label;
  std::string mountPoint;   // empty when not mounted
  uint32_t driveType = kDriveFixed;
};

// "D:", "D:\" or "d:" -> 'D'; 0 for any other text.
char DriveLetterOf(const std::string& text);

// A snapshot of the volumes, taken when the table is made.
class VolumeTable {
 public:
  explicit VolumeTable(const MachineSources& sources);

  // In letter order.
  const std::vector<Volume>& volumes() const { return volumes_; }
  // The volume of a drive root or name ("D:\", "D:"); null when there is none.
  const Volume* Find(const std::string& root) const;

  // The roots "C:\", "D:\", ... in letter order.
  std::vector<std::string> LogicalDriveStrings() const;
  // Label and file system name of a root; false for an unknown root.
  bool VolumeInformation(const std::string& root, std::string* label,
                         std::string* fileSystem) const;
  // kDriveNoRootDir for an unknown root.
  uint32_t DriveType(const std::string& root) const;
  // Bytes free for the caller, total bytes and free bytes. A mounted volume
  // reports its file system's figures; an unmounted one its size, with
  // nothing free. False for an unknown root.
  bool DiskFreeSpace(const std::string& root, uint64_t* freeForCaller, uint64_t* total,
                     uint64_t* totalFree) const;
  // The local folder a path such as "C:\WINDOWS" names: the mount point of
  // the letter's volume, then each component matched without regard to case
  // when no entry of the exact name exists. False (errno set) when the
  // letter has no mounted volume.
  bool LocalPath(const std::string& windowsPath, std::string* local) const;

 private:
  std::vector<Volume> volumes_;
};

}  // namespace platform
