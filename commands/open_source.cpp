#include "commands/open_source.h"

#include "platform/drives.h"

namespace app {

platform::DeviceHandle OpenSelectedSource(WindowModel& w, platform::Access access) {
  platform::DeviceHandle device = w.opener().Open(platform::kDevicePrefix + w.m_sourceDrive, access);
  if (!device) w.AppMessageBox("open source disk error");
  return device;
}

}  // namespace app
