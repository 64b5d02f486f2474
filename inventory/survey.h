// The boot-sector survey: reads the source drive from sector 0 and lists the
// sectors that look like NTFS or FAT32 boot sectors (List3) and like the
// start of a FAT32 allocation table (List4).
#pragma once

#include <cstdint>

#include "window/window_model.h"

namespace inventory {

// The number of the sector being examined: 0 when a survey starts, one up
// after every sector.
extern uint64_t g_surveySector;

void InitBootListColumns(app::WindowModel& w);
void InitFatListColumns(app::WindowModel& w);

// Appends a List3 row when `sector` (512 bytes) is an NTFS or FAT32 boot
// sector; true when it did.
bool CheckBootSector(app::WindowModel& w, const uint8_t* sector);
// Appends a List4 row when `sector` begins a FAT32 allocation table.
void CheckFatStart(app::WindowModel& w, const uint8_t* sector);

// Search For Suspects: the byte count comes from the progress field, which
// shows the count still to go while the survey runs and "0" at its end.
void SearchForSuspects(app::WindowModel& w);

}  // namespace inventory
