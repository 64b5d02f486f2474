// The physical drive list: the window's commands, over inventory/.
#include "app/main_dlg.h"
#include "inventory/drive_list.h"

namespace app {

void CMainDlg::InitDriveListColumns() { inventory::InitDriveListColumns(*this); }
bool CMainDlg::ConnectNamespace() { return inventory::ConnectNamespace(*this); }
bool CMainDlg::ListDiskDrives() { return inventory::ListDiskDrives(*this); }
bool CMainDlg::ConnectAndListDisks() { return inventory::ConnectAndListDisks(*this); }
void CMainDlg::FillDriveList() { inventory::FillDriveList(*this); }
void CMainDlg::OnDiskInfo1() { inventory::OnDiskInfo1(*this); }

}  // namespace app
