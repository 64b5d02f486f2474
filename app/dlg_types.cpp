// Type check boxes and the single-type scans.
#include "app/main_dlg.h"
#include "scan/single_type_scan.h"
#include "scan/type_boxes.h"

namespace app {

void CMainDlg::OnTypeCheckBox(int boxId) { scan::OnTypeCheckBox(*this, boxId); }
void CMainDlg::OnPstRecovery() { scan::PstRecovery(*this); }
void CMainDlg::OnOffice() { scan::OfficeRecovery(*this); }

}  // namespace app
