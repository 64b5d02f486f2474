// CMainDlg: the main window with its commands. Each command is reached by
// its control's identifier, as the window's message map routes clicks.
//
// The commands live in one file per area: main_dlg.cpp (start, source and
// folder), dlg_types.cpp (type check boxes, single-type scans), dlg_drives.cpp
// (physical drive list), dlg_volumes.cpp (volumes, survey, volume copies),
// dlg_console.cpp (management console), dlg_clone.cpp (clones).
#pragma once

#include <string>

#include "window/window_model.h"

namespace app {

// Colours, 0xRRGGBB: every dialog's background, and the physical drive list's.
inline constexpr int kDialogBackground = 0x9CACC6;     // RGB(156, 172, 198)
inline constexpr int kDriveListBackground = 0xD0D7E3;  // RGB(208, 215, 227)

class CMainDlg : public WindowModel {
 public:
  CMainDlg(platform::Shell& shell, platform::DeviceOpener& opener);

  // Window initialisation: field defaults, the default output folder, then
  // the list set-ups in their fixed order.
  // The command line leaves the default output folder uncreated: its
  // commands name their own folders, and a scan makes the folder it uses.
  void SetCreatesDefaultFolder(bool creates) { createsDefaultFolder_ = creates; }
  bool OnInitDialog();

  // Sends the command of control `id`, as a click on it would: an automatic
  // check box toggles first. Returns false when no command is bound to `id`.
  bool Press(int id);
  static bool HasCommand(int id);

  // --- Source, folder and the recovery scan (main_dlg.cpp) ----------------
  void OnDriveListClick();
  void OnStartRecovery();
  void OnSelectFolder();
  void OnViewPhotos();
  void OnCancel();  // Exit, Escape, the close box

  // The row of a drive given by name or path (an image file, a device node).
  // A path not in the list yet is attached to the management service's
  // drives and the list is built again, so that it comes last with every
  // column filled. Returns the row's index, -1 when it cannot be listed.
  int AttachDrive(const std::string& name);
  // The drive-list row of a drive given by its device name (physicaldrive1),
  // a path in the list, or a device node of a listed drive; -1 when none.
  int FindDriveRow(const std::string& name);
  // Selects row `row` of the drive list (-1: none), as a click would.
  void SelectDriveRow(int row);

  // --- Type check boxes and single-type scans (dlg_types.cpp) -------------
  void OnTypeCheckBox(int boxId);
  void OnPstRecovery();
  void OnOffice();

  // --- Physical drive list (dlg_drives.cpp) --------------------------------
  void InitDriveListColumns();
  bool ConnectNamespace();
  bool ListDiskDrives();
  bool ConnectAndListDisks();
  void FillDriveList();
  void OnDiskInfo1();

  // --- Volumes, boot-sector survey, volume copies (dlg_volumes.cpp) --------
  void InitVolumeListColumns();
  void InitBootListColumns();
  void InitFatListColumns();
  void ListLogicalDrives();
  void OnGetLogicalDriveInfo();
  void OnSearchForSuspects();
  void OnVolumeTarget();
  void OnCopy();
  void OnDvdCopy();
  void OnRawRecovery();

  // --- Management console (dlg_console.cpp) --------------------------------
  void OnConnect();
  void OnEnumDisks();
  void OnMakeOffice();
  void OnDiskInfo();
  void OnMirror();

  // --- Clones (dlg_clone.cpp) -----------------------------------------------
  void OnTarget();
  void OnClone();
  void OnStopRun();
  void On512SecJmp();
  void OnErrBreakClone();
  void OnOneSectorClone();
  void OnErrPauseOneSec();
  void OnAdd();
  void OnIncStartSecNum();
  void OnSectorPlusOne();
  void OnClear123();
  void OnCopyLayout();
  void OnDriveSignature();
 private:
  bool createsDefaultFolder_ = true;
};

// The default output folder: the user's home followed by "/Lumisave".
std::string DefaultOutputFolder();

}  // namespace app
