#include "commands/open_source.h"

#include <cerrno>

#include "platform/drives.h"

namespace app {

platform::DeviceHandle OpenSelectedSource(WindowModel& w, platform::Access access) {
  platform::DeviceHandle device = w.opener().Open(platform::kDevicePrefix + w.m_sourceDrive, access);
  if (!device) {
    const int error = errno;
    if (error == EACCES || error == EPERM) {
      w.Enable(id::kGetRights, true);
      w.SetText(id::kStatusLine, "Reading " + w.m_sourceDrive +
                                     " needs administrator rights: press Get rights.");
    }
    w.AppMessageBox("open source disk error");
  }
  return device;
}

}  // namespace app
