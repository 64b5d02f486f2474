// Volumes, the boot-sector survey and the volume copies. (Not built yet: the commands do nothing.)
#include "app/main_dlg.h"

namespace app {

void CMainDlg::InitVolumeListColumns() {}
void CMainDlg::InitBootListColumns() {}
void CMainDlg::InitFatListColumns() {}
void CMainDlg::ListLogicalDrives() {}
void CMainDlg::OnGetLogicalDriveInfo() {}
void CMainDlg::OnSearchForSuspects() {}
void CMainDlg::OnVolumeTarget() {}
void CMainDlg::OnCopy() {}
void CMainDlg::OnDvdCopy() {}
void CMainDlg::OnRawRecovery() {}

}  // namespace app
