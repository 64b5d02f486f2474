// Small commands around the clones: moving the start sector (field 1041),
// clearing the bad-sector log, and CopyLayout.
#pragma once

#include "window/window_model.h"

namespace diskutil {

// Field 1041 := field 1041 + field 1052 (empty fields count as 0).
void Add(app::WindowModel& w);
// Field 1041 := field 1041 + 10.
void IncStartSecNum(app::WindowModel& w);
// Field 1041 := field 1041 + 1.
void SectorPlusOne(app::WindowModel& w);
// Creates "123.txt", or empties it.
void Clear123();
// Reads sector 0 of the source drive; nothing is kept or written.
void CopyLayout(app::WindowModel& w);

}  // namespace diskutil
