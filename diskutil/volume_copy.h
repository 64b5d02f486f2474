// Volume copies and the read pass: Target (1013), Copy, DVDCopy and
// RawRecovery. Volumes are named by their roots ("D:\") and opened as
// "\\.\D:".
#pragma once

#include "window/window_model.h"

namespace diskutil {

// Puts the root of the selected row of the logical drive list into field
// 1029; with no row selected the field is emptied, so that no copy writes to
// a volume nobody picked.
void VolumeTarget(app::WindowModel& w);

// Copies the volume of field 1021 raw onto the volume of field 1029, after
// a size check; stops at the first unreadable chunk.
void Copy(app::WindowModel& w);

// Like Copy without the size check; an unreadable chunk is read again sector
// by sector and its unreadable sectors reach the target as zeros.
void DvdCopy(app::WindowModel& w);

// Reads the volume of field 1029 through in 10 MiB blocks and shows how many
// bytes of each unreadable block could not be read. Writes nothing.
void RawRecovery(app::WindowModel& w);

}  // namespace diskutil
