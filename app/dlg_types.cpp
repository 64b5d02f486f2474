// Type check boxes and the single-type scans. (Not built yet: the commands do nothing.)
#include "app/main_dlg.h"

namespace app {

void CMainDlg::OnTypeCheckBox(int) {}
void CMainDlg::OnPstRecovery() {}
void CMainDlg::OnOffice() {}

}  // namespace app
