// The physical drive list. (Not built yet: the list stays empty.)
#include "app/main_dlg.h"

namespace app {

void CMainDlg::InitDriveListColumns() {}
bool CMainDlg::ConnectNamespace() { return false; }
bool CMainDlg::ListDiskDrives() { return false; }
bool CMainDlg::ConnectAndListDisks() { return false; }
void CMainDlg::FillDriveList() {}
void CMainDlg::OnDiskInfo1() {}

}  // namespace app
