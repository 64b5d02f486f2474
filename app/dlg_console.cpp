// The management console.
#include "app/main_dlg.h"
#include "inventory/console.h"

namespace app {

void CMainDlg::OnConnect() {
  shell().Busy(true);
  ConnectNamespace();
  shell().Busy(false);
}

void CMainDlg::OnEnumDisks() {
  shell().Busy(true);
  ListDiskDrives();
  shell().Busy(false);
}

void CMainDlg::OnMakeOffice() { inventory::MakeOffice(*this); }
void CMainDlg::OnDiskInfo() { inventory::DiskInfo(*this); }
void CMainDlg::OnMirror() { inventory::StartMirror(*this); }

}  // namespace app
