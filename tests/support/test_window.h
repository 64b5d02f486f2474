// A main window for tests: a scripted front end, an opener that knows
// fault-injecting drives, and an empty folder table.
#pragma once

#include "app/main_dlg.h"
#include "scan/folders.h"
#include "tests/support/fixtures.h"
#include "tests/support/scripted_shell.h"

namespace testing_support {

struct TestWindow {
  TestWindow() { scan::ResetFolderTable(); }
  ScriptedShell shell;
  TestOpener opener;
  app::CMainDlg dlg{shell, opener};

  // Clicks the row of `drive` (an image path or a registered name).
  void PickSource(const std::string& drive) { dlg.SelectDriveRow(dlg.AttachDrive(drive)); }
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
