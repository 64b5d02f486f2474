// Clones and their controls: the work is in diskutil/.
#include "app/main_dlg.h"
#include "diskutil/clone.h"
#include "diskutil/clone_controls.h"

namespace app {

void CMainDlg::OnTarget() { diskutil::Target(*this); }
void CMainDlg::OnClone() { diskutil::Clone(*this); }
void CMainDlg::OnStopRun() { diskutil::StopRun(); }
void CMainDlg::On512SecJmp() { diskutil::Clone512SecJmp(*this); }
void CMainDlg::OnErrBreakClone() { diskutil::ErrBreakClone(*this); }
void CMainDlg::OnOneSectorClone() { diskutil::OneSectorClone(*this); }
void CMainDlg::OnErrPauseOneSec() { diskutil::ErrPauseOneSec(*this); }
void CMainDlg::OnAdd() { diskutil::Add(*this); }
void CMainDlg::OnIncStartSecNum() { diskutil::IncStartSecNum(*this); }
void CMainDlg::OnSectorPlusOne() { diskutil::SectorPlusOne(*this); }
void CMainDlg::OnClear123() { diskutil::Clear123(); }
void CMainDlg::OnCopyLayout() { diskutil::CopyLayout(*this); }
// DriveSignature: its command does nothing.
void CMainDlg::OnDriveSignature() {}

}  // namespace app
