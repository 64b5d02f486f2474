// The check that keeps a clone or a volume copy off its own source: a target
// that shares storage with the source (the same drive, a partition of it, a
// loop device over the same bytes) is refused before it is opened.
#pragma once

#include <string>

#include "window/window_model.h"

namespace diskutil {

// Whether the drive named `target` (a name as the window has it, with or
// without the device prefix) may not be written because it shares storage
// with `source`; when so, a message naming both was shown. Names the opener
// cannot resolve, and the source itself as target, are left to the open
// that follows.
bool RefuseOverlap(app::WindowModel& w, const std::string& source, const std::string& target);

}  // namespace diskutil
