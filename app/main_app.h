// CMainApp: the application. It starts the management layer (the component
// library and its process-wide security), then runs the main window modally;
// when the window closes, the application ends.
#pragma once

#include <functional>

#include "app/main_dlg.h"
#include "platform/drives.h"
#include "window/shell.h"
#include "platform/wbem.h"

namespace app {

class CMainApp {
 public:
  CMainApp(platform::ManagementLayer& layer, app::Shell& shell,
           platform::DeviceOpener& opener)
      : layer_(layer), shell_(shell), opener_(opener) {}

  // Shows the window: the front end makes its controls, runs the window's
  // OnInitDialog, and returns when the window has closed.
  using RunModal = std::function<void(CMainDlg&)>;

  // Runs the whole application and returns false, so that the caller leaves
  // the process: on a failed start-up after its message, the window never
  // shown; otherwise after the window has closed.
  bool InitInstance(const RunModal& runModal);

  // Whether the window was shown (start-up succeeded).
  bool windowShown() const { return windowShown_; }

 private:
  platform::ManagementLayer& layer_;
  app::Shell& shell_;
  platform::DeviceOpener& opener_;
  bool windowShown_ = false;
};

}  // namespace app
