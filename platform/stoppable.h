// Devices that a front end can bring to an end: once the switch is thrown,
// every read reads as the end of the drive, so a running scan or copy ends
// the way it ends at the last sector (its files closed whole, the device
// closed by its owner). The window uses it when it is closed during a run.
#pragma once

#include <memory>

#include "platform/drives.h"

namespace platform {

class StopSwitch {
 public:
  void Request() { requested_ = true; }
  void Reset() { requested_ = false; }
  bool requested() const { return requested_; }

 private:
  bool requested_ = false;
};

// Wraps a device: reads end once `stop` is thrown; everything else passes on.
DeviceHandle MakeStoppable(DeviceHandle device, const StopSwitch& stop);

// Opens drives as DeviceOpener does, each wrapped to obey `stop`.
class StoppableOpener : public DeviceOpener {
 public:
  StoppableOpener(const StopSwitch& stop, std::string sysRoot = "/sys",
                  std::string devRoot = "/dev")
      : DeviceOpener(std::move(sysRoot), std::move(devRoot)), stop_(stop) {}
  DeviceHandle Open(const std::string& path, Access access) override;

 private:
  const StopSwitch& stop_;
};

}  // namespace platform
