// Volumes, the boot-sector survey and the volume copies.
#include "app/main_dlg.h"
#include "diskutil/volume_copy.h"
#include "inventory/survey.h"
#include "inventory/volume_list.h"

namespace app {

void CMainDlg::InitVolumeListColumns() { inventory::InitVolumeListColumns(*this); }
void CMainDlg::InitBootListColumns() { inventory::InitBootListColumns(*this); }
void CMainDlg::InitFatListColumns() { inventory::InitFatListColumns(*this); }
void CMainDlg::ListLogicalDrives() { inventory::ListLogicalDrives(*this); }
void CMainDlg::OnGetLogicalDriveInfo() { inventory::GetLogicalDriveInfo(*this); }
void CMainDlg::OnSearchForSuspects() { inventory::SearchForSuspects(*this); }
void CMainDlg::OnVolumeTarget() { diskutil::VolumeTarget(*this); }
void CMainDlg::OnCopy() { diskutil::Copy(*this); }
void CMainDlg::OnDvdCopy() { diskutil::DvdCopy(*this); }
void CMainDlg::OnRawRecovery() { diskutil::RawRecovery(*this); }

}  // namespace app
