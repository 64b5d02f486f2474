// A main window over a fixture machine, with a scripted front end and the
// home folder moved into the fixture (the default output folder goes there).
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/main_dlg.h"
#include "tests/support/machine_fixture.h"
#include "tests/support/scripted_shell.h"

namespace testing_support {

class ScopedHome {
 public:
  explicit ScopedHome(const std::string& home) {
    if (const char* old = std::getenv("HOME")) old_ = old;
    ::setenv("HOME", home.c_str(), 1);
  }
  ~ScopedHome() { ::setenv("HOME", old_.c_str(), 1); }

 private:
  std::string old_ = "/";
};

struct FixtureWindow {
  explicit FixtureWindow(bool usualDrives = true) {
    std::filesystem::create_directories(home());
    if (usualDrives) machine.AddUsualDrives();
    dlg.SetManagement(&layer);
  }
  std::string home() const { return machine.dir() / "home"; }

  FixtureMachine machine;
  ScopedHome scopedHome{machine.dir() / "home"};
  ScriptedShell shell;
  platform::ManagementLayer layer{machine.sources()};
  platform::DeviceOpener opener{machine.sysRoot(), machine.devRoot()};
  app::CMainDlg dlg{shell, opener};
};

}  // namespace testing_support
