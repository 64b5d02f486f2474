// The management console. (Not built yet: the commands do nothing.)
#include "app/main_dlg.h"

namespace app {

void CMainDlg::OnConnect() {}
void CMainDlg::OnEnumDisks() {}
void CMainDlg::OnMakeOffice() {}
void CMainDlg::OnDiskInfo() {}
void CMainDlg::OnMirror() {}

}  // namespace app
