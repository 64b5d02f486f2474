// The scan commands of the window: Start Recovery, the type check boxes and
// the two single-type scans. Each reads the window's fields into the scan
// engine's settings, runs it, and shows what it reports in the fields and
// message boxes.
#include <optional>
#include <set>

#include "app/main_dlg.h"
#include "base/numbers.h"
#include "commands/drive_checks.h"
#include "commands/open_source.h"
#include "platform/drive_facts.h"
#include "platform/drives.h"
#include "platform/fs.h"
#include "platform/overlap.h"
#include "scan/dfxml_report.h"
#include "scan/file_types.h"
#include "scan/scan_engine.h"
#include "window/progress_strip.h"

namespace app {
namespace {

using app::BoxKind;
using app::Buttons;

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

// The file the selected source drive stands for (empty when unknown).
std::string SourcePath(CMainDlg& w) {
  return w.opener().Resolve(platform::StripDevicePrefix(w.m_sourceDrive));
}

// Refuses an output folder whose files could land on the source drive.
// Returns: whether it was refused (the message was shown).
bool RefuseFolderOnSource(CMainDlg& w, const std::string& folder) {
  const std::string source = SourcePath(w);
  std::string why;
  if (source.empty() || !platform::FolderOnDrive(folder, source, &why)) return false;
  w.MessageBox("The output folder " + folder + " lies on the drive being recovered (" + source +
                   "): " + why + ". Files written there would overwrite the deleted files. "
                   "Choose a folder on another drive.",
               "error");
  return true;
}

// A shell word: kept as it is when it is plain, else in single quotes.
std::string ShellWord(const std::string& word) {
  if (!word.empty() && word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                              "0123456789-_./=:,+@%") == std::string::npos) {
    return word;
  }
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// The files a run saved into its report, and how it ended.
ScanResult RunEngine(CMainDlg& w, OpenRange& open, scan::LoopEnd loopEnd,
                     std::vector<scan::TypeToScan> types, base::Reporter* observer, bool marks,
                     const ScanRange& range, const std::string& reportFolder) {
  BusyScope busy(w.shell());
  scan::ScanSettings settings;
  settings.source = open.device.get();
  settings.start = open.start;
  settings.end = open.end;
  settings.loopEnd = loopEnd;
  settings.types = std::move(types);
  // The command line stops on a signal, the window on its Stop button.
  settings.stop = range.stop != nullptr ? range.stop : &w.runStop;

  scan::ReportSettings report;
  report.folder = reportFolder;
  report.version = LUMISAVE_VERSION;
  report.commandLine = "lumisave";
  for (size_t i = 1; i < range.command.size(); ++i) {
    report.commandLine += " " + ShellWord(range.command[i]);
  }
  report.source.path = SourcePath(w);
  report.source.size = w.m_sourceCapacity;
  if (platform::IsBlockDevice(report.source.path)) {
    const platform::DriveFacts drive = platform::ReadDriveFacts(report.source.path);
    report.source.model = drive.model;
    report.source.serial = drive.serial;
  }
  report.hash = range.hash;
  scan::DfxmlReporter dfxml(std::move(report));

  StripReporter strip(w, platform::kSectorSize, true);
  base::TeeReporter shown(strip, observer);
  WindowReporter window(w, &shown, marks);
  base::TeeReporter reporter(dfxml, &window);
  ScanResult result;
  result.ran = true;
  result.end = scan::RunScan(settings, reporter);
  result.filesSaved = dfxml.files();
  result.report = dfxml.written();
  open.device.reset();
  if (result.end.outcome == base::RunOutcome::kFailed && result.end.error != 0 &&
      !result.end.sourceLost) {
    std::string goOn;
    if (range.command.empty()) {
      goOn = "The rest can be recovered from sector " +
             std::to_string(result.end.resumeSector) +
             ": put it in the start sector field and start again on another drive.";
    } else {
      goOn = "Go on, with room on the output drive, with: " +
             GoOnCommand(range.command, result.end.resumeSector);
    }
    w.MessageBox(result.end.why + ". The scan stopped; " + std::to_string(result.filesSaved) +
                     (result.filesSaved == 1 ? " file was" : " files were") + " saved whole. " +
                     goOn,
                 "write error", app::Buttons::kOk, BoxKind::kError);
  }
  return result;
}

}  // namespace

std::string GoOnCommand(const std::vector<std::string>& command, uint64_t start) {
  std::string line;
  for (size_t i = 0; i < command.size(); ++i) {
    const std::string& a = command[i];
    if (a == "--start" && i + 1 < command.size()) {
      ++i;
      continue;
    }
    if (a.rfind("--start=", 0) == 0) continue;
    line += (line.empty() ? "" : " ") + ShellWord(i == 0 ? std::string("lumisave") : a);
  }
  return line + " --start " + std::to_string(start);
}

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
  if (!Text(id::kSourceDrive).empty() && RefuseFolderOnSource(*this, root)) return;
  if (MessageBox(root, "Save Picture in this folder ?", Buttons::kYesNo, BoxKind::kQuestion) !=
      app::Answer::kYes) {
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
  lastScan_ = RunEngine(*this, open, scan::LoopEnd::kOneChunkPastEnd, std::move(chosen), observer,
                        true, range, root);
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
  if (RefuseFolderOnSource(*this, folder)) return;
  platform::CreateFolder(folder);
  lastScanFolders_ = {folder};

  OpenRange open = OpenScanRange(*this, range);
  if (!open.device) return;
  const int index = scan::FindType(typeName);
  std::vector<scan::TypeToScan> chosen = {
      {scan::FileTypes()[static_cast<size_t>(index)].type, folder}};
  lastScan_ =
      RunEngine(*this, open, scan::LoopEnd::kAtEnd, std::move(chosen), observer, false, range, folder);
}

void CMainDlg::OnPstRecovery() { RunSingleTypeScan("pst", "pst", RangeFromFields(), nullptr); }
void CMainDlg::OnOffice() { RunSingleTypeScan("office", "Office", RangeFromFields(), nullptr); }

}  // namespace app
