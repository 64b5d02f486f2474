// A main window for tests: a scripted front end, an opener that knows
// fault-injecting drives, and an empty folder table.
#pragma once

#include "app/main_dlg.h"
#include "base/numbers.h"
#include "tests/support/fixtures.h"
#include "tests/support/scripted_shell.h"

namespace testing_support {

// Adds a drive-list row for `name` (an image path or a name the test's
// opener knows), with its capacity from the opened drive, and returns its
// index. The scans and clones only read columns 0, 2 and 7 of a row; the
// drive list itself is tested on fixture machines.
inline int AddDriveRow(app::CMainDlg& dlg, const std::string& name) {
  std::vector<std::string> row(13);
  row[0] = name;
  row[2] = name;
  if (platform::DeviceHandle d = dlg.opener().Open(platform::kDevicePrefix + name,
                                                   platform::Access::kRead)) {
    platform::DiskGeometry g;
    if (platform::GeometryOf(*d, &g)) {
      row[7] = base::FormatDecimal(static_cast<uint64_t>(g.cylinders) * g.bytesPerSector);
    }
  }
  dlg.driveList().rows.push_back(std::move(row));
  return static_cast<int>(dlg.driveList().rows.size() - 1);
}

struct TestWindow {
  // As the window starts: an empty folder table, and field 1033 showing 8 so
  // that the data exchange of the type boxes succeeds.
  TestWindow() {
    dlg.m_sectorsPerCluster = 8;
    dlg.UpdateData(false);
  }
  ScriptedShell shell;
  TestOpener opener;
  app::CMainDlg dlg{shell, opener};

  // Clicks the row of `drive` (an image path or a registered name).
  void PickSource(const std::string& drive) { dlg.SelectDriveRow(AddDriveRow(dlg, drive)); }
  // The texts a field took during the command, in order.
  std::vector<std::string> History(int id) const {
    std::vector<std::string> texts;
    for (const auto& [field, text] : shell.changes) {
      if (field == id) texts.push_back(text);
    }
    return texts;
  }
};

}  // namespace testing_support
