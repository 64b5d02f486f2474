// Fixture machines: a sysfs tree and a /dev folder built in a temp folder,
// shaped as real machines lay them out, with image files standing in for
// the device nodes.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "platform/drives.h"
#include "platform/wbem.h"
#include "tests/support/fixtures.h"

namespace testing_support {

class FixtureMachine {
 public:
  FixtureMachine();

  // A device folder (with its uevent) at `path` under sys/devices, with its
  // attributes, and optional "driver" and "subsystem" links.
  void AddDevice(const std::string& path, const std::map<std::string, std::string>& attributes = {},
                 const std::string& driver = "", const std::string& subsystem = "");
  // A whole disk `name` at `path` (ending in /NAME) with `sectors` sectors:
  // its size attribute, sys/block/NAME, and dev/NAME filled with `sectors`
  // sectors of zeros. `hardware` (a device path) becomes its "device" link.
  void AddDisk(const std::string& path, const std::string& hardware, uint64_t sectors,
               bool removable = false);
  // Replaces an attribute with a folder, so that reading it fails (for root too).
  void BreakAttribute(const std::string& path, const std::string& attribute);

  // The usual machine: a USB card reader with a 4 MiB card in it (one
  // partition), a SATA disk, an NVMe disk and a loop device over an image.
  void AddUsualDrives();
  // Devices whose identifiers begin with one another's, each with its name
  // as "model": loop1, loop10 and its partition loop10p1 under
  // virtual/block; USB port 1-2 (with an interface) beside hub port 1-2.1
  // (with one) under kUsbBus, and a link 1-2.9 to loop1 there; upper-case
  // LNXSYSTM:00 ("system bus") with LNXPWRBN:00 ("power button").
  void AddLookAlikeDevices();

  platform::MachineSources sources() const;
  std::string sysRoot() const { return dir_ / "sys"; }
  std::string devRoot() const { return dir_ / "dev"; }
  std::string DevFile(const std::string& name) const { return devRoot() + "/" + name; }
  const TempDir& dir() const { return dir_; }

  // Paths of the usual drives under sys/devices.
  static constexpr const char* kCardReader =
      "pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/host6/target6:0:0/6:0:0:0";
  static constexpr const char* kSata = "pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0";
  static constexpr const char* kNvme = "pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0";
  static constexpr const char* kUsbBus = "pci0000:00/0000:00:14.0/usb1";
  static constexpr uint64_t kCardSectors = 8192;
  static constexpr uint64_t kSataSectors = 4096;
  static constexpr uint64_t kNvmeSectors = 2048;
  static constexpr uint64_t kLoopSectors = 1024;

 private:
  TempDir dir_;
};

}  // namespace testing_support
