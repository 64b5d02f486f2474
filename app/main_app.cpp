#include "app/main_app.h"

namespace app {

bool CMainApp::InitInstance(const RunModal& runModal) {
  if (!layer_.Initialize()) {
    shell_.MessageBox("Failed to initialize OLE", kAppName, app::Buttons::kOk,
                      app::BoxKind::kError);
    return false;
  }
  if (platform::wbem::Failed(layer_.InitializeSecurity())) {
    shell_.MessageBox("Failed to fix security", kAppName, app::Buttons::kOk,
                      app::BoxKind::kError);
    return false;
  }
  CMainDlg dlg(shell_, opener_);
  dlg.SetManagement(&layer_);
  windowShown_ = true;
  runModal(dlg);
  return false;
}

}  // namespace app
