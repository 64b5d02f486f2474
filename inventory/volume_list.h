// The logical drive list (List2) and the map of drive letters onto the
// physical drives (column 12 of List1).
#pragma once

#include <string>

#include "window/window_model.h"

namespace inventory {

// Column 12 of the physical drive list: the drive letters of its volumes.
inline constexpr size_t kLetterColumn = 12;

void InitVolumeListColumns(app::WindowModel& w);
// Rebuilds the rows: one per drive root, in letter order.
void ListLogicalDrives(app::WindowModel& w);
// Type, space, file system and label of every row. Returns true.
bool FillVolumeDetails(app::WindowModel& w);
// Writes each physical drive's letters into column 12 from the management
// service's partition associations. False when they cannot be enumerated.
bool MapDrivesToLetters(app::WindowModel& w);
// The GetLogicalDriveInfo command: details, then the letter map.
void GetLogicalDriveInfo(app::WindowModel& w);

// Whether an association path names the disk of `key` ("Disk #1"): the key
// must stand whole, so that Disk #1 does not match Disk #10.
bool PathNamesDisk(const std::string& path, const std::string& key);

}  // namespace inventory
