// The machine's whole-disk block devices and how a drive name is opened.
//
// A drive is named as the drive list shows it: physicaldriveN names a whole
// disk under <sysfs>/block (sd*, mmcblk*, nvme*n*, vd*, hd*, xvd*, and loop
// devices that have a backing file, except those of mounted squashfs images).
// N is the disk's number in the per-boot table (platform/drive_numbers.h),
// or, when a disk tells no sequence number, its place in name order. A name
// may also be a path: an image file or a block device node. "X:" names a volume by its
// drive letter (see platform/volumes.h).
#pragma once

#include <string>
#include <vector>

#include "platform/device.h"

namespace platform {

// "\\.\" – what the window puts in front of a drive name to open it.
inline constexpr const char* kDevicePrefix = "\\\\.\\";

struct WholeDisk {
  std::string name;  // sda
  std::string node;  // /dev/sda
  int number = 0;    // N of physicaldriveN
};

// The whole disks, by number. The mount table tells which loop devices hold
// mounted squashfs images (software packages, not drives to recover).
std::vector<WholeDisk> ListWholeDisks(const std::string& sysRoot,
                                      const std::string& mountInfo = "/proc/self/mountinfo");

class DeviceOpener {
 public:
  explicit DeviceOpener(std::string sysRoot = "/sys", std::string devRoot = "/dev",
                        std::string mountInfo = "/proc/self/mountinfo");
  virtual ~DeviceOpener() = default;

  // Opens "\\.\" + name (the prefix is optional). Null on failure, errno set.
  // A mounted volume ("X:") is not opened for writing (EBUSY).
  virtual DeviceHandle Open(const std::string& path, Access access);

  // The file a drive name stands for: /dev/sdb for physicaldrive1, the
  // volume's device for "D:", the path itself for a path; empty when the
  // name is unknown.
  virtual std::string Resolve(const std::string& name) const;

  const std::string& sysRoot() const { return sysRoot_; }

 private:
  std::string sysRoot_;
  std::string devRoot_;
  std::string mountInfo_;
};

// "physicaldrive" followed by digits: the index, else -1.
int PhysicalDriveIndex(const std::string& name);

// The name without a leading "\\.\".
std::string StripDevicePrefix(const std::string& path);

}  // namespace platform
