// The bad-sector log: "123.txt" in the working directory, one record per
// line, each ended by CR LF. The clones only append to a log that exists;
// Clear 123.txt is what creates (or empties) it and so switches logging on.
// A symbolic link at the name is never followed, and anything but a regular
// file there (a FIFO, a device) is left alone.
#pragma once

#include <string>

namespace diskutil {

inline constexpr const char* kBadSectorLog = "123.txt";

// Appends `record` and CR LF to the log. False when the log does not exist,
// cannot be opened, or the write failed.
bool AppendBadSectorLog(const std::string& record);

// Creates the log, or empties it when it exists.
void ClearBadSectorLog();

}  // namespace diskutil
