// Checks made before a run touches a drive: reading the drive that holds the
// running system is asked about first; writing to it, or to a drive with a
// mounted file system, is refused with the reason in words.
#pragma once

#include <string>

#include "window/window_model.h"

namespace app {

// "Samsung SSD 860, 256.1 GB": how a drive is named to a person (the parts
// known; empty when nothing is).
std::string DriveDescription(WindowModel& w, const std::string& driveName);

// When `driveName` (as the drive list names it) holds the running system,
// asks whether to read it all the same. True to go on.
bool ConfirmSystemDriveRead(WindowModel& w, const std::string& driveName);

// When `driveName` holds the running system or has a mounted file system,
// says why it is not written to (naming the mounted partition and its mount
// point) and returns true; false when it may be written.
bool RefuseWriteTarget(WindowModel& w, const std::string& driveName);

}  // namespace app
