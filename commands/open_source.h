// Opening the drive the window has picked, for the command adapters.
#pragma once

#include "platform/device.h"
#include "window/window_model.h"

namespace app {

// Opens the drive picked as the source (m_sourceDrive) with `access`; when
// that fails, shows "open source disk error" in the application's box, and
// when the reason is missing rights, says so on the status line and offers
// the Get rights button.
// Returns: the open drive, or null.
platform::DeviceHandle OpenSelectedSource(WindowModel& w, platform::Access access);

}  // namespace app
