// Clones and their controls. (Not built yet: the commands do nothing.)
#include "app/main_dlg.h"

namespace app {

void CMainDlg::OnTarget() {}
void CMainDlg::OnClone() {}
void CMainDlg::OnStopRun() {}
void CMainDlg::On512SecJmp() {}
void CMainDlg::OnErrBreakClone() {}
void CMainDlg::OnOneSectorClone() {}
void CMainDlg::OnErrPauseOneSec() {}
void CMainDlg::OnAdd() {}
void CMainDlg::OnIncStartSecNum() {}
void CMainDlg::OnSectorPlusOne() {}
void CMainDlg::OnClear123() {}
void CMainDlg::OnCopyLayout() {}
// DriveSignature: its command does nothing.
void CMainDlg::OnDriveSignature() {}

}  // namespace app
