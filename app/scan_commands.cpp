// The scan commands of the window: Start Recovery, the type check boxes and
// the two single-type scans. Each reads the window's fields into the scan
// engine's settings, runs it, and shows what it reports in the fields and
// message boxes.
#include <optional>
#include <set>

#include "app/main_dlg.h"
#include "base/numbers.h"
#include "platform/fs.h"
#include "scan/file_types.h"
#include "scan/scan_engine.h"
#include "window/drive_checks.h"
#include "window/progress_strip.h"

namespace app {
namespace {

using platform::BoxKind;
using platform::Buttons;

// Shows a scan's events in the window, and passes them on to the caller's
// reporter (the command line's progress bar and summary).
class WindowReporter : public base::Reporter {
 public:
  WindowReporter(CMainDlg& w, base::Reporter* observer, bool marksPictureTypes)
      : w_(w), observer_(observer), marks_(marksPictureTypes) {}

  void OnProgress(const base::Progress& p) override {
    // The picture types are carved whatever their boxes say; once a scan has
    // read a chunk their flags read 1.
    if (marks_) {
      marks_ = false;
      for (const scan::TypeEntry& e : scan::FileTypes()) {
        if (int* flag = e.type->always ? w_.TypeFlag(e.boxId) : nullptr) *flag = 1;
      }
    }
    w_.SetText(id::kProgress, base::FormatDecimal(p.at * platform::kSectorSize));
    w_.SetText(id::kSectorNum, base::FormatDecimal(p.at));
    if (observer_) observer_->OnProgress(p);
  }
  void OnFile(const base::FileRecord& f) override {
    if (observer_) observer_->OnFile(f);
  }
  void OnUnreadable(uint64_t s, uint64_t n) override {
    if (observer_) observer_->OnUnreadable(s, n);
  }
  void OnNotice(base::Notice notice, const std::string& detail) override {
    switch (notice) {
      case base::Notice::kCreateFailed:
        w_.MessageBox(detail, "Create File failed !", Buttons::kOk, BoxKind::kError);
        break;
      case base::Notice::kEndOfDrive:
        w_.MessageBox("hit the end of the drive !", "the end", Buttons::kOk, BoxKind::kNotice);
        break;
    }
    if (observer_) observer_->OnNotice(notice, detail);
  }
  void OnEnd(const base::RunEnd& e) override {
    if (observer_) observer_->OnEnd(e);
  }

 private:
  CMainDlg& w_;
  base::Reporter* observer_;
  bool marks_;
};

// The sector range of a scan, checked against the source drive, and the
// source opened read-only. Null device when the scan ends here (the message
// was shown).
struct OpenRange {
  uint64_t start = 0;
  uint64_t end = 0;
  platform::DeviceHandle device;
};

OpenRange OpenScanRange(CMainDlg& w, const ScanRange& range) {
  OpenRange open;
  if (!ConfirmSystemDriveRead(w, w.Text(id::kSourceDrive))) return open;
  open.start = range.start.value_or(0);
  const uint64_t n = w.m_sourceCapacity / platform::kSectorSize;
  if (open.start >= n) {
    w.MessageBox("start sector number > dirve size !", "error");
    return open;
  }
  open.end = range.end.value_or(n);
  if (open.end > n) open.end = n;
  // Scans only read, so the drive is opened read-only: a write-protected
  // card can be scanned, and nothing can be written to it by mistake.
  open.device = OpenSelectedSource(w, platform::Access::kRead);
  return open;
}

void RunEngine(CMainDlg& w, OpenRange& open, scan::LoopEnd loopEnd,
               std::vector<scan::TypeToScan> types, base::Reporter* observer, bool marks) {
  BusyScope busy(w.shell());
  scan::ScanSettings settings;
  settings.source = open.device.get();
  settings.start = open.start;
  settings.end = open.end;
  settings.loopEnd = loopEnd;
  settings.types = std::move(types);
  StripReporter strip(w, platform::kSectorSize, true);
  settings.stop = &w.runStop;
  base::TeeReporter shown(strip, observer);
  WindowReporter reporter(w, &shown, marks);
  scan::RunScan(settings, reporter);
  open.device.reset();
}

}  // namespace

ScanRange CMainDlg::RangeFromFields() const {
  ScanRange range;
  const std::string& start = Text(id::kStartSector);
  const std::string& end = Text(id::kEndSector);
  if (!start.empty()) range.start = base::ParseDecimal(start);
  if (!end.empty()) range.end = base::ParseDecimal(end);
  return range;
}

int* CMainDlg::TypeFlag(int boxId) {
  for (const CheckBinding& b : kCheckBindings) {
    if (b.id == boxId) return &(this->*(b.flag));
  }
  return nullptr;
}

bool CMainDlg::TypeEnabled(size_t index) {
  const scan::TypeEntry& e = scan::FileTypes()[index];
  if (e.type->always) return true;
  if (const int* flag = TypeFlag(e.boxId)) return *flag == 1;
  return m_types.ticked.count(index) != 0;
}

void CMainDlg::OnStartRecovery() { StartRecovery(RangeFromFields(), nullptr); }

void CMainDlg::StartRecovery(const ScanRange& range, base::Reporter* observer) {
  m_types.root = Text(id::kOutputFolder);
  const std::string& root = m_types.root;
  if (root.empty()) {
    MessageBox("please pick up  a directory to save recovered files.", "error");
    return;
  }
  if (MessageBox(root, "Save Picture in this folder ?", Buttons::kYesNo, BoxKind::kQuestion) !=
      platform::Answer::kYes) {
    return;
  }
  platform::CreateFolder(root);
  // The folders inside the output folder (the pictures', and those of the
  // photo and video types asked for) are made afresh by every scan; the
  // other types keep the folder their box made.
  const auto types = scan::FileTypes();
  m_types.folders.resize(types.size());
  for (size_t i = types.size(); i-- > 0;) {
    const carvers::FileType& t = *types[i].type;
    if (t.folderRule != carvers::FolderRule::kInside || t.folderName == nullptr) continue;
    if (!TypeEnabled(i)) continue;
    std::string& folder = m_types.folders[scan::FolderSlot(i)];
    folder = root + "/" + t.folderName;
    platform::CreateFolder(folder);
  }

  if (Text(id::kSourceDrive).empty()) {
    MessageBox("please select a SD card to recover.", "error");
    return;
  }
  OpenRange open = OpenScanRange(*this, range);
  if (!open.device) return;

  std::vector<scan::TypeToScan> chosen;
  lastScanFolders_.clear();
  std::set<std::string> seen;
  for (size_t i = 0; i < types.size(); ++i) {
    if (types[i].type->carve == nullptr || !TypeEnabled(i)) continue;
    const std::string& folder = m_types.folders[scan::FolderSlot(i)];
    chosen.push_back({types[i].type, folder});
    if (seen.insert(folder).second) lastScanFolders_.push_back(folder);
  }
  RunEngine(*this, open, scan::LoopEnd::kOneChunkPastEnd, std::move(chosen), observer, true);
}

void CMainDlg::OnTypeCheckBox(int boxId) {
  const int index = scan::FindTypeOfBox(boxId);
  if (index < 0) return;
  const carvers::FileType& t = *scan::FileTypes()[static_cast<size_t>(index)].type;
  // The WAV box only carries its check mark: no type of its own is searched.
  if (t.folderName == nullptr) return;
  // A field that fails its check stops the exchange; the flags then keep
  // their values and the command goes on with them.
  UpdateData(true);
  m_types.root = Text(id::kOutputFolder);
  if (m_types.root.empty()) {
    AppMessageBox("Please input Directory to output files");
    return;
  }
  if (const int* flag = TypeFlag(boxId); flag == nullptr || *flag == 0) return;
  m_types.folders.resize(scan::FileTypes().size());
  std::string& folder = m_types.folders[scan::FolderSlot(static_cast<size_t>(index))];
  folder = m_types.root + t.folderName;
  platform::CreateFolder(folder);
}

std::string CMainDlg::SingleTypeFolder(const char* folderName) const {
  return Text(id::kOutputFolder) + folderName;
}

void CMainDlg::RunSingleTypeScan(const char* typeName, const char* folderName,
                                 const ScanRange& range, base::Reporter* observer) {
  if (Text(id::kOutputFolder).empty()) {
    MessageBox("please pick up  a directory to save recovery files.", "error");
    return;
  }
  if (Text(id::kSourceDrive).empty()) {
    MessageBox("please pick up a suorce drive to recover files.", "error");
    return;
  }
  // No question, and neither the root nor a picture folder is made.
  const std::string folder = SingleTypeFolder(folderName);
  platform::CreateFolder(folder);
  lastScanFolders_ = {folder};

  OpenRange open = OpenScanRange(*this, range);
  if (!open.device) return;
  const int index = scan::FindType(typeName);
  std::vector<scan::TypeToScan> chosen = {
      {scan::FileTypes()[static_cast<size_t>(index)].type, folder}};
  RunEngine(*this, open, scan::LoopEnd::kAtEnd, std::move(chosen), observer, false);
}

void CMainDlg::OnPstRecovery() { RunSingleTypeScan("pst", "pst", RangeFromFields(), nullptr); }
void CMainDlg::OnOffice() { RunSingleTypeScan("office", "Office", RangeFromFields(), nullptr); }

}  // namespace app
