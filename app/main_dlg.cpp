#include "app/main_dlg.h"

#include <cctype>
#include <map>

#include "app/file_types_dialog.h"
#include "base/numbers.h"
#include "platform/drives.h"
#include "platform/fs.h"
#include "platform/owner.h"
#include "scan/file_types.h"

#include "base/text.h"

namespace app {
namespace {

using Command = void (*)(CMainDlg&);

// The message map: which command each control sends.
const std::map<int, Command>& MessageMap() {
  static const std::map<int, Command> map = {
      {id::kDriveList, [](CMainDlg& d) { d.OnDriveListClick(); }},
      {id::kStartRe, [](CMainDlg& d) { d.OnStartRecovery(); }},
      {id::kSelectDir, [](CMainDlg& d) { d.OnSelectFolder(); }},
      {id::kViewPhoto, [](CMainDlg& d) { d.OnViewPhotos(); }},
      {id::kExit, [](CMainDlg& d) { d.OnCancel(); }},
      {id::kPstRecovery, [](CMainDlg& d) { d.OnPstRecovery(); }},
      {id::kOffice, [](CMainDlg& d) { d.OnOffice(); }},
      {id::kDiskInfo1, [](CMainDlg& d) { d.OnDiskInfo1(); }},
      {id::kGetLogicalDriveInfo, [](CMainDlg& d) { d.OnGetLogicalDriveInfo(); }},
      {id::kSearchForSuspects, [](CMainDlg& d) { d.OnSearchForSuspects(); }},
      {id::kVolumeTarget, [](CMainDlg& d) { d.OnVolumeTarget(); }},
      {id::kCopy, [](CMainDlg& d) { d.OnCopy(); }},
      {id::kDvdCopy, [](CMainDlg& d) { d.OnDvdCopy(); }},
      {id::kRawRecovery, [](CMainDlg& d) { d.OnRawRecovery(); }},
      {id::kConnect, [](CMainDlg& d) { d.OnConnect(); }},
      {id::kEnumDisks, [](CMainDlg& d) { d.OnEnumDisks(); }},
      {id::kMakeOffice, [](CMainDlg& d) { d.OnMakeOffice(); }},
      {id::kDiskInfo, [](CMainDlg& d) { d.OnDiskInfo(); }},
      {id::kMirror, [](CMainDlg& d) { d.OnMirror(); }},
      {id::kCloneTarget, [](CMainDlg& d) { d.OnTarget(); }},
      {id::kClone, [](CMainDlg& d) { d.OnClone(); }},
      {id::kStopRun, [](CMainDlg& d) { d.OnStopRun(); }},
      {id::k512SecJmp, [](CMainDlg& d) { d.On512SecJmp(); }},
      {id::kErrBreakClone, [](CMainDlg& d) { d.OnErrBreakClone(); }},
      {id::kOneSectorClone, [](CMainDlg& d) { d.OnOneSectorClone(); }},
      {id::kErrPauseOneSec, [](CMainDlg& d) { d.OnErrPauseOneSec(); }},
      {id::kAdd, [](CMainDlg& d) { d.OnAdd(); }},
      {id::kIncStartSecNum, [](CMainDlg& d) { d.OnIncStartSecNum(); }},
      {id::kSectorPlusOne, [](CMainDlg& d) { d.OnSectorPlusOne(); }},
      {id::kClear123, [](CMainDlg& d) { d.OnClear123(); }},
      {id::kCopyLayout, [](CMainDlg& d) { d.OnCopyLayout(); }},
      {id::kDriveSignature, [](CMainDlg& d) { d.OnDriveSignature(); }},
      {id::kFileTypes, [](CMainDlg& d) { ShowFileTypes(d); }},
      {id::kRunStop, [](CMainDlg& d) { d.OnRunStop(); }},
      {id::kGetRights, [](CMainDlg& d) { d.shell().GetRights(); }},
  };
  return map;
}

constexpr size_t kCapacityColumn = 7;
constexpr size_t kNameColumn = 2;

using base::Lower;

}  // namespace

std::string DefaultOutputFolder() { return platform::UserHomeFolder() + "/Lumisave"; }

CMainDlg::CMainDlg(app::Shell& shell, platform::DeviceOpener& opener)
    : WindowModel(shell, opener) {
  SetManagement(&ownLayer_);
}

bool CMainDlg::OnInitDialog() {
  // The controls exist (the front end made them); the first loading exchange.
  UpdateData(false);
  volumeList().fullRowSelect = true;
  driveList().fullRowSelect = true;
  m_sectorsPerCluster = 8;
  UpdateData(false);
  const std::string folder = DefaultOutputFolder();
  if (createsDefaultFolder_) platform::CreateFolder(folder);
  SetText(id::kOutputFolder, folder);

  InitFatListColumns();
  InitDriveListColumns();
  InitVolumeListColumns();
  InitBootListColumns();
  ConnectAndListDisks();
  FillDriveList();
  ListLogicalDrives();
  driveList().background = kDriveListBackground;
  return true;
}

// Every type check box sends the type-box command with its identifier.
bool CMainDlg::HasCommand(int id) {
  return MessageMap().count(id) != 0 || scan::FindTypeOfBox(id) >= 0;
}

bool CMainDlg::Press(int id) {
  if (HasControl(id) && control(id).kind == ControlKind::kCheckBox) {
    SetChecked(id, !IsChecked(id));
  }
  if (scan::FindTypeOfBox(id) >= 0) {
    OnTypeCheckBox(id);
    return true;
  }
  auto it = MessageMap().find(id);
  if (it == MessageMap().end()) return false;
  it->second(*this);
  return true;
}

void CMainDlg::OnDriveListClick() {
  Control& list = driveList();
  std::string name, friendly, capacity;
  if (list.selected >= 0 && static_cast<size_t>(list.selected) < list.rows.size()) {
    const auto& row = list.rows[static_cast<size_t>(list.selected)];
    auto cell = [&row](size_t i) { return i < row.size() ? row[i] : std::string(); };
    name = cell(0);
    friendly = cell(kNameColumn);
    capacity = cell(kCapacityColumn);
  }
  // With no row selected the source texts are emptied, so that a scan says
  // that no drive is selected rather than reading a drive nobody picked.
  m_sourceDrive = name;
  SetText(id::kSourceDrive, name);
  SetText(id::kSourceName, friendly);
  m_sourceCapacity = base::ParseDecimal(capacity);
  SetText(id::kEndSector, base::FormatDecimal(m_sourceCapacity / platform::kSectorSize));
  SetText(id::kStartSector, "0");
}


void CMainDlg::OnSelectFolder() {
  // A cancelled picker keeps the folder the field had.
  if (auto folder = shell().PickFolder()) SetText(id::kOutputFolder, *folder);
}

void CMainDlg::OnViewPhotos() { shell().OpenFolder(Text(id::kOutputFolder)); }

void CMainDlg::OnCancel() { shell().EndDialog(); }

void CMainDlg::OnRunStop() {
  runStop = true;
  OnStopRun();  // a clone's own stop request
}

int CMainDlg::FindDriveRow(const std::string& name) {
  const Control& list = driveList();
  const std::string wanted = platform::StripDevicePrefix(name);
  const std::string file = opener().Resolve(wanted);
  for (size_t r = 0; r < list.rows.size(); ++r) {
    const std::string& cell = list.rows[r].empty() ? std::string() : list.rows[r][0];
    if (cell.empty()) continue;
    const bool physical = platform::PhysicalDriveIndex(cell) >= 0;
    if (cell == wanted || (physical && cell == Lower(wanted)) ||
        platform::SameFile(opener().Resolve(cell), file)) {
      return static_cast<int>(r);
    }
  }
  return -1;
}

int CMainDlg::AttachDrive(const std::string& name) {
  const int listed = FindDriveRow(name);
  if (listed >= 0) return listed;
  const std::string stripped = platform::StripDevicePrefix(name);
  // physicaldriveN that is not in the list: no such drive on this machine.
  if (stripped.empty() || platform::PhysicalDriveIndex(Lower(stripped)) >= 0) return -1;
  const std::string path = platform::AbsolutePath(stripped);
  if (!platform::Exists(path)) return -1;  // nothing there to list
  management().sources().attachedImages.push_back(path);
  ConnectAndListDisks();
  FillDriveList();
  return FindDriveRow(path);
}

void CMainDlg::SelectDriveRow(int row) {
  driveList().selected = row;
  OnDriveListClick();
}

}  // namespace app
