// The model and serial number a block device's disk gives in sysfs, for a
// run's report.
#pragma once

#include <string>

namespace platform {

struct ModelSerial {
  std::string model;
  std::string serial;
};

// For a block device node (or a partition's node: its disk's), the model and
// serial from <sysRoot>/class/block/X/device/{model,serial}, trimmed of
// surrounding blanks; empty texts for what is unknown or for a plain file.
ModelSerial DriveModelSerial(const std::string& path, const std::string& sysRoot = "/sys");

}  // namespace platform
