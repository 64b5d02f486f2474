// Whether writing to one drive (or file) can change another: the test that
// keeps a clone off its own source and a scan's output off the drive it
// reads.
//
// Each side is traced down to the storage it finally lies on, with byte
// ranges: a partition to its disk (sysfs start and size), a loop device to
// its backing file (offset and size; a file compared by device and inode,
// by its sysfs path when it cannot be looked at), a stacked device (device
// mapper, RAID) to all of each of its slaves. Two sides overlap when any of
// their pieces share storage with overlapping ranges.
#pragma once

#include <string>

namespace platform {

// Whether `a` and `b` (block device nodes or regular files) share storage:
// the same device or file; one a partition of, or a device stacked on, the
// other; loop devices (or a loop device and a file) over one file with
// overlapping byte ranges; a file on a file system of the block device on
// the other side. When they do, `why` (if given) says so in plain words.
bool DrivesOverlap(const std::string& a, const std::string& b, std::string* why,
                   const std::string& sysRoot = "/sys");

// Whether files written into `folder` can land on the source `sourcePath`.
// For a block device: the folder's file system (of the nearest existing
// folder above it, where it would be created) lies on a device that
// overlaps the source. For an image file: only the image lying inside the
// folder counts (an image and its output on one file system is normal).
bool FolderOnDrive(const std::string& folder, const std::string& sourcePath, std::string* why,
                   const std::string& sysRoot = "/sys");

// Whether the block devices named as in <sysRoot>/class/block (sdb, sdb1,
// loop0) share storage; `why` as above.
bool BlockDevicesOverlap(const std::string& a, const std::string& b, std::string* why,
                         const std::string& sysRoot = "/sys");

// Whether files written on a file system of the block device `fsDevice` can
// land on storage of the block device `drive` (both named as above). As
// BlockDevicesOverlap, except that a file `drive` lies on (a loop device's
// backing file) counts as itself only: the file system never writes new
// files over another file's bytes.
bool FileSystemOverlaps(const std::string& fsDevice, const std::string& drive, std::string* why,
                        const std::string& sysRoot = "/sys");

// The name in <sysRoot>/class/block of the block device with this device
// number (from /dev/block/MAJ:MIN, else by each device's dev attribute);
// empty when there is none.
std::string BlockNameOfDevice(unsigned major, unsigned minor,
                              const std::string& sysRoot = "/sys");

}  // namespace platform
