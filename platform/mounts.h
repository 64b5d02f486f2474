// Mounted file systems on a drive, so that a drive being read can be named
// as in use, and unmounted on request.
#pragma once

#include <string>
#include <vector>

namespace platform {

struct MountedFileSystem {
  std::string device;      // the mount's source, as the mount table gives it
  std::string mountPoint;  // where it is mounted
};

// The file systems mounted read-write on storage shared with the block device
// `devicePath` (the device itself, its partitions, devices stacked on it,
// loop devices over parts of it), in mount table order. The file system that
// holds a loop device's backing file is not one of them. Empty for anything
// that is not a block device.
std::vector<MountedFileSystem> ReadWriteMounts(const std::string& devicePath,
                                               const std::string& mountInfo = "/proc/self/mountinfo",
                                               const std::string& sysRoot = "/sys");

// The same for every mount, read-only ones too: what makes writing the whole
// device unsafe.
std::vector<MountedFileSystem> AllMounts(const std::string& devicePath,
                                         const std::string& mountInfo = "/proc/self/mountinfo",
                                         const std::string& sysRoot = "/sys");

// Whether the file system mounted at / lies on storage of the block device
// `blockName` (as in <sysRoot>/class/block: sda, nvme0n1), through a
// partition or a stacked device (LVM, encryption) too. False for an overlay
// or memory root, and when the table cannot be read.
bool HoldsRootFileSystem(const std::string& blockName,
                         const std::string& mountInfo = "/proc/self/mountinfo",
                         const std::string& sysRoot = "/sys");

// Unmounts the file system at `mountPoint` (umount2, no force). False with
// `*error` set to the errno (EBUSY while files on it are open).
bool Unmount(const std::string& mountPoint, int* error);

}  // namespace platform
