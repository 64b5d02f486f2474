// CMainDlg: the main window with its commands. Each command is reached by
// its control's identifier, as the window's message map routes clicks.
//
// The commands live in one file per area: main_dlg.cpp (start, source and
// folder), dlg_types.cpp (type check boxes, single-type scans), dlg_drives.cpp
// (physical drive list), dlg_volumes.cpp (volumes, survey, volume copies),
// dlg_console.cpp (management console), dlg_clone.cpp (clones).
#pragma once

#include <atomic>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/run_report.h"
#include "platform/wbem.h"
#include "window/window_model.h"

namespace app {

// Colours, 0xRRGGBB: every dialog's background, and the physical drive list's.
inline constexpr int kDialogBackground = 0x9CACC6;     // RGB(156, 172, 198)
inline constexpr int kDriveListBackground = 0xD0D7E3;  // RGB(208, 215, 227)

// A scan's sector range as its caller gives it: nothing for the whole drive
// (the start at 0, the end at the drive's end).
// With it, how the run is driven: a stop request (the command line's
// SIGINT and SIGTERM), and what the run's report says.
struct ScanRange {
  std::optional<uint64_t> start;
  std::optional<uint64_t> end;
  const std::atomic<bool>* stop = nullptr;
  bool hash = false;         // the report carries each file's SHA-256
  std::vector<std::string> command;  // the command line's words (argv), empty for the window
};

// The command line `command` (argv) with its --start replaced by `start`:
// the command that goes on where a run stopped.
std::string GoOnCommand(const std::vector<std::string>& command, uint64_t start);

// How the last scan ended, and the report it wrote (empty when none).
struct ScanResult {
  base::RunEnd end;
  bool ran = false;
  uint64_t filesSaved = 0;
  std::string report;
};

// The file types chosen for the recovery scan and their folders, indexed as
// the type table. The boxes and Start Recovery set the folders, which
// outlive the scans, as the window's check marks do.
struct TypeSelection {
  std::string root;
  std::vector<std::string> folders;
  std::set<size_t> ticked;  // types without a check box, ticked elsewhere
};

class CMainDlg : public WindowModel {
 public:
  CMainDlg(app::Shell& shell, platform::DeviceOpener& opener);

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
  // The strip's Stop: the run in hand ends after its chunk. Safe to send
  // while a run is in hand (the window sends it between chunks).
  void OnRunStop();

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

  // --- Scans, type check boxes (scan_commands.cpp) ------------------------
  // Start Recovery with the range given (the window's fields for a click);
  // every event of the scan also reaches `observer` when one is given.
  void StartRecovery(const ScanRange& range, base::Reporter* observer);
  // A single-type scan of type `typeName` into the output folder + `folderName`.
  void RunSingleTypeScan(const char* typeName, const char* folderName, const ScanRange& range,
                         base::Reporter* observer);
  // The range the fields 1041 and 1042 give.
  ScanRange RangeFromFields() const;
  // The folder of a single-type scan into the output folder + `folderName`.
  std::string SingleTypeFolder(const char* folderName) const;
  void OnTypeCheckBox(int boxId);
  void OnPstRecovery();
  void OnOffice();
  // The flag a type's check box is bound to; null when `boxId` is none.
  int* TypeFlag(int boxId);
  // Whether the type of table index `index` is looked for by Start Recovery.
  bool TypeEnabled(size_t index);
  // The folders the last scan wrote into, in scan order.
  const std::vector<std::string>& lastScanFolders() const { return lastScanFolders_; }
  const ScanResult& lastScan() const { return lastScan_; }

  TypeSelection m_types;

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
  // The management service layer over the real machine, until a front end
  // or a test sets another.
  platform::ManagementLayer ownLayer_;
  bool createsDefaultFolder_ = true;
  std::vector<std::string> lastScanFolders_;
  ScanResult lastScan_;
};

// The default output folder: the user's home (the invoking user's under sudo
// or pkexec) followed by "/Lumisave".
std::string DefaultOutputFolder();

}  // namespace app
