// The machine's device tree, as the drive list names its devices: every
// present device with its instance identifier, its parent, a friendly name
// and a description. Read from the sysfs device tree under a root that is a
// parameter, so that tests run on fixture trees.
//
// - instance identifier: the device's path under <sysfs>/devices
//   ("pci0000:00/0000:00:14.0/usb1/1-2/.../block/sdb");
// - parent: the nearest directory above it that is a device itself;
// - friendly name: vendor and model (an SD card: its type and name; a loop
//   device: its backing file), taken from the hardware a block device sits on
//   when the block device has none of its own;
// - description: the device's product text, else its model or name, else
//   its driver, else its subsystem.
//
// Image files and device nodes the user attached are devices of their own:
// an image's identifier is "image:" followed by its path.
#pragma once

#include <string>
#include <vector>

#include "platform/device.h"
#include "platform/drives.h"
#include "platform/wbem.h"

namespace platform {

// Identifiers are read into buffers of this size; a longer one cannot be read.
constexpr size_t kDeviceIdBytes = 1024;

// Whether `text` begins with the device identifier `id`, letter case aside,
// and does not go on below it: "a/b-1" and "a/b" begin with "a/b", "a/b/c"
// (a child's path) does not.
bool BeginsWithDeviceId(const std::string& text, const std::string& id);

// What a walk of the device tree looks for; empty texts are passed over.
struct DeviceQuery {
  // A device matches when one of these texts begins with its identifier.
  std::vector<std::string> prefixOf;
  // A device matches when its identifier begins with one of these.
  std::vector<std::string> startingWith;
};

class DeviceTree {
 public:
  explicit DeviceTree(const MachineSources& sources);

  // Every present device, parents before their children, in path order;
  // attached images last. The tree is walked at the first call, once.
  const std::vector<std::string>& PresentDevices() const;

  // The present devices that match `query` (BeginsWithDeviceId), in the
  // order of PresentDevices; walks only the folders that can hold a match.
  std::vector<std::string> MatchingDevices(const DeviceQuery& query) const;

  // Each returns false when the device has no such property (or it cannot be
  // read); the output is then left as it was.
  bool FriendlyName(const std::string& id, std::string* name) const;
  bool Description(const std::string& id, std::string* text) const;
  bool Parent(const std::string& id, std::string* parentId) const;

  // The identifier of a whole disk of <sysfs>/block (sdb), or of an attached
  // path (an image file; a block device node is found in the tree).
  bool BlockDeviceId(const std::string& blockName, std::string* id) const;
  bool PathDeviceId(const std::string& path, std::string* id) const;

 private:
  std::string DevicesRoot() const;
  std::string SysPathOf(const std::string& id) const;
  bool IsImage(const std::string& id) const;

  MachineSources sources_;
  mutable bool walked_ = false;
  mutable std::vector<std::string> ids_;
};

// The geometry of a drive named as the drive list names it ("\\.\" is
// optional): physicaldriveN from the size attribute of the disk numbered N,
// as a query that needs no access to the drive itself; a path from the size
// of the file, or of the block device it is. False when the drive is unknown
// or its size cannot be read.
bool QueryGeometry(const MachineSources& sources, const std::string& path,
                   DiskGeometry* geometry);
// As above, with `disks` (what ListWholeDisks gave) as the listing that
// physicaldriveN is looked up in, so that a caller asking for many drives
// lists the disks once.
bool QueryGeometry(const MachineSources& sources, const std::vector<WholeDisk>& disks,
                   const std::string& path, DiskGeometry* geometry);

// Reads a sysfs attribute: its first line, trailing blanks cut. False when
// it is missing or cannot be read.
bool ReadAttribute(const std::string& file, std::string* value);

}  // namespace platform
