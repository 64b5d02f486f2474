// The window's boot-sector survey: lists the sectors that look like NTFS or
// FAT32 boot sectors (List3) and like the start of a FAT32 allocation table
// (List4), as the survey engine finds them.
#pragma once

#include <atomic>
#include <cstdint>

#include "base/run_report.h"
#include "inventory/survey_engine.h"
#include "window/window_model.h"

namespace inventory {

// The sectors the last survey examined (while one runs: 0, then the sector
// of its latest find).
extern uint64_t g_surveySector;

void InitBootListColumns(app::WindowModel& w);
void InitFatListColumns(app::WindowModel& w);

// Search For Suspects: runs the survey engine (inventory/survey_engine.h)
// over the selected source and adds its finds to List3 and List4. The byte
// count comes from the progress field, which shows the count still to go
// while the survey runs and "0" at its end. Every event of the engine also
// reaches `observer` when one is given. When `stop` is set and turns true,
// the survey ends after the chunk in hand. Returns: how it ended (outcome
// kNotStarted when the drive could not be opened).
base::RunEnd SearchForSuspects(app::WindowModel& w, base::Reporter* observer = nullptr,
                               const std::atomic<bool>* stop = nullptr);

}  // namespace inventory
