// The management console: Make Office, Disk Info and the Mirror watch.
#pragma once

#include <string>

#include "window/window_model.h"

namespace inventory {

// Opens the namespace "SAMPLE_Office" below the connected one, making it
// first when it does not exist; tells the outcome in the output list.
void MakeOffice(app::WindowModel& w);

// Lists the properties of the object the output list's selected line names,
// each as "Name (type)".
void DiskInfo(app::WindowModel& w);

// Mirror: watches the folders "C:\WINDOWS" (file names) and "C:\" with its
// subtree (folder names) on a thread of its own, so that the window stays
// usable. The process ends with the error code when a watch cannot be set or
// armed again. A second Mirror while one runs does nothing.
void StartMirror(app::WindowModel& w);
bool MirrorRunning();

// The watch loop over two local folders; never returns.
[[noreturn]] void WatchFolders(const std::string& windowsFolder, const std::string& rootFolder);

}  // namespace inventory
