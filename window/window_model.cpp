#include "window/window_model.h"

#include <cctype>
#include <cerrno>
#include <stdexcept>

namespace app {

const CheckBinding kCheckBindings[17] = {
    {id::kCheckQbb, &WindowModel::m_recoverQbb},
    {id::kCheckJpeg, &WindowModel::m_recoverJpeg},
    {id::kCheckPst, &WindowModel::m_recoverPst},
    {id::kCheckDbx, &WindowModel::m_recoverDbx},
    {id::kCheckOffice, &WindowModel::m_recoverOffice},
    {id::kCheckWav, &WindowModel::m_recoverWav},
    {id::kCheckBmp, &WindowModel::m_recoverBmp},
    {id::kCheckJpeg0, &WindowModel::m_recoverJpeg0},
    {id::kCheckAccess, &WindowModel::m_recoverAccess},
    {id::kCheckMp3, &WindowModel::m_recoverMp3},
    {id::kCheckCorelDraw, &WindowModel::m_recoverCorelDraw},
    {id::kCheckAvi, &WindowModel::m_recoverAvi},
    {id::kCheckDoc, &WindowModel::m_recoverDoc},
    {id::kCheckExcel, &WindowModel::m_recoverExcel},
    {id::kCheckPdf, &WindowModel::m_recoverPdf},
    {id::kCheckMcd, &WindowModel::m_recoverMcd},
    {id::kCheckProgress, &WindowModel::m_recoverProgress},
};

namespace {

// The text members and their edits, in the order of the data exchange.
struct TextBinding {
  int id;
  std::string WindowModel::*member;
};
const TextBinding kTextBindings[] = {
    {id::kNamespace, &WindowModel::m_namespace},
    {id::kSourceDrive, &WindowModel::m_sourceDrive},
    {id::kTargetDrive, &WindowModel::m_targetDrive},
    {id::kSignatureDrive, &WindowModel::m_signatureDrive},
    {id::kText1018, &WindowModel::m_text1018},
    {id::kSourceName, &WindowModel::m_sourceName},
    {id::kVolumeRoot, &WindowModel::m_volumeRoot},
};

Control Shown(int id, ControlKind kind, const char* caption, Rect rect) {
  Control c;
  c.id = id;
  c.kind = kind;
  c.caption = caption;
  c.visible = true;
  c.rect = rect;
  return c;
}

Control Hidden(int id, ControlKind kind, const char* caption, bool enabled = true) {
  Control c;
  c.id = id;
  c.kind = kind;
  c.caption = caption;
  c.enabled = enabled;
  // Buttons, check boxes and statics show their caption as their text.
  if (kind == ControlKind::kButton || kind == ControlKind::kCheckBox ||
      kind == ControlKind::kStatic) {
    c.text = caption;
  }
  return c;
}

// The framework's reading of an unsigned field: blanks around digits only.
bool ParseUnsigned(const std::string& text, unsigned int* value) {
  size_t i = 0, n = text.size();
  while (i < n && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  while (n > i && std::isspace(static_cast<unsigned char>(text[n - 1]))) --n;
  if (i == n) return false;
  unsigned long long v = 0;
  for (; i < n; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    v = v * 10 + static_cast<unsigned>(text[i] - '0');
    if (v > 0xFFFFFFFFull) return false;
  }
  *value = static_cast<unsigned int>(v);
  return true;
}

}  // namespace

WindowModel::WindowModel(app::Shell& shell, platform::DeviceOpener& opener)
    : shell_(shell), opener_(opener) {
  BuildTemplate();
}

WindowModel::~WindowModel() = default;

Control& WindowModel::Add(Control c) {
  if (c.id != id::kNone) index_[c.id] = controls_.size();
  controls_.push_back(std::move(c));
  return controls_.back();
}

void WindowModel::BuildTemplate() {
  using K = ControlKind;
  // Shown controls, with their places in dialog units.
  Add(Shown(id::kNone, K::kPicture, "Select the SD card you want to recover", {0, 0, 420, 25}));
  Add(Shown(id::kDriveList, K::kListView, "List1", {6, 33, 407, 102}));
  Add(Shown(id::kNone, K::kPicture, "Selected SD card|Progress", {5, 149, 333, 12}));
  Add(Shown(id::kSourceDrive, K::kEdit, "", {6, 161, 95, 12})).readOnly = true;
  Add(Shown(id::kSourceName, K::kEdit, "", {105, 161, 100, 12})).readOnly = true;
  Add(Shown(id::kProgress, K::kStatic, "", {207, 160, 100, 14})).sunken = true;
  Add(Shown(id::kNone, K::kPicture, "Save recovered photos under the folder below(recommend):",
            {5, 179, 333, 12}));
  Add(Shown(id::kOutputFolder, K::kEdit, "", {5, 196, 302, 14})).readOnly = true;
  Add(Shown(id::kSelectDir, K::kPictureButton, "SELECTDIR", {323, 191, 88, 20}));
  Add(Shown(id::kStartRe, K::kPictureButton, "STARTRE", {5, 219, 89, 19}));
  Add(Shown(id::kViewPhoto, K::kPictureButton, "VIEWPHOTO", {112, 219, 88, 19}));
  Add(Shown(id::kFileTypes, K::kButton, "File types...", {218, 219, 88, 19}));
  // The run strip.
  Add(Shown(id::kRunBar, K::kProgressBar, "", {5, 245, 302, 10})).text = "0";
  Add(Shown(id::kRunStop, K::kButton, "Stop", {323, 244, 88, 12})).text = "Stop";
  Add(Shown(id::kRunFacts, K::kStatic, "", {5, 258, 406, 9}));
  Add(Shown(id::kStatusLine, K::kStatic, "", {5, 269, 318, 9}));
  Control& rights = Add(Shown(id::kGetRights, K::kButton, "Get rights", {323, 268, 88, 12}));
  rights.text = "Get rights";
  rights.enabled = false;  // offered when a drive could not be opened for want of rights

  // Hidden command buttons.
  Add(Hidden(id::kConnect, K::kButton, "&Connect")).defaultButton = true;
  Add(Hidden(id::kEnumDisks, K::kButton, "&Enum Disks", false));
  Add(Hidden(id::kMakeOffice, K::kButton, "&Make Office", false));
  Add(Hidden(id::kDiskInfo, K::kButton, "&Disk Info", false));
  Add(Hidden(id::kMirror, K::kButton, "Mirror"));
  Add(Hidden(id::kDiskInfo1, K::kButton, "Disk Info1", false));
  Add(Hidden(id::kGetLogicalDriveInfo, K::kButton, "GetLogicalDriveInfo"));
  Add(Hidden(id::kSearchForSuspects, K::kButton, "Search For Suspects"));
  Add(Hidden(id::kPstRecovery, K::kButton, "PstRecovery"));
  Add(Hidden(id::kOffice, K::kButton, "Office"));
  Add(Hidden(id::kClone, K::kButton, "Clone", false));
  Add(Hidden(id::k512SecJmp, K::kButton, "512SecJmp"));
  Add(Hidden(id::kErrBreakClone, K::kButton, "ErrBreakClone"));
  Add(Hidden(id::kOneSectorClone, K::kButton, "OneSectorClone"));
  Add(Hidden(id::kErrPauseOneSec, K::kButton, "ErrPauseOneSec"));
  Add(Hidden(id::kAdd, K::kButton, "Add"));
  Add(Hidden(id::kCloneTarget, K::kButton, "Target", false));
  Add(Hidden(id::kVolumeTarget, K::kButton, "Target"));
  Add(Hidden(id::kIncStartSecNum, K::kButton, "IncStartSecNum"));
  Add(Hidden(id::kSectorPlusOne, K::kButton, "Sector + 1"));
  Add(Hidden(id::kClear123, K::kButton, "Clear 123.txt"));
  Add(Hidden(id::kStopRun, K::kButton, "StopRun"));
  Add(Hidden(id::kCopy, K::kButton, "Copy"));
  Add(Hidden(id::kRawRecovery, K::kButton, "RawRecovery", false));
  Add(Hidden(id::kDvdCopy, K::kButton, "DVDCopy"));
  Add(Hidden(id::kCopyLayout, K::kButton, "CopyLayout"));
  Add(Hidden(id::kDriveSignature, K::kButton, "DriveSignature"));
  Add(Hidden(id::kCreatePartition, K::kButton, "CreatePartition"));
  Add(Hidden(id::kExit, K::kButton, "E&xit"));

  // Hidden type check boxes, all unchecked.
  static const std::pair<int, const char*> kBoxes[] = {
      {id::kCheckJpeg, "JPEG"},     {id::kCheckQbb, "QBB"},
      {id::kCheckPst, "PST"},       {id::kCheckDbx, "DBX"},
      {id::kCheckOffice, "OFFICE"}, {id::kCheckWav, "WAV"},
      {id::kCheckBmp, "BMP"},       {id::kCheckJpeg0, "JPEG0"},
      {id::kCheckAccess, "ACCESS(MDB)"}, {id::kCheckMp3, "MP3"},
      {id::kCheckCorelDraw, "CoreDraw"}, {id::kCheckAvi, "AVI"},
      {id::kCheckDoc, "DOC"},       {id::kCheckExcel, "Excel"},
      {id::kCheckPdf, "PDF"},       {id::kCheckMcd, "MCD"},
      {id::kCheckProgress, "Progress"},
  };
  for (const auto& [boxId, caption] : kBoxes) Add(Hidden(boxId, K::kCheckBox, caption));

  // Hidden fields, labels and lists.
  Add(Hidden(id::kOutputList, K::kListBox, ""));
  Add(Hidden(id::kNamespace, K::kEdit, ""));
  Add(Hidden(id::kTargetDrive, K::kEdit, "", false));
  Add(Hidden(id::kSignatureDrive, K::kEdit, "")).readOnly = true;
  Add(Hidden(id::kText1018, K::kEdit, "")).readOnly = true;
  Add(Hidden(id::kVolumeRoot, K::kEdit, ""));
  Add(Hidden(id::kSectorsPerCluster, K::kEdit, ""));
  Add(Hidden(id::kEdit1034, K::kEdit, ""));
  Add(Hidden(id::kStartSector, K::kEdit, ""));
  Add(Hidden(id::kEndSector, K::kEdit, ""));
  Add(Hidden(id::kAddValue, K::kEdit, ""));
  Add(Hidden(id::kVolumeList, K::kListView, "List2"));
  Add(Hidden(id::kBootList, K::kListView, "List3"));
  Add(Hidden(id::kFatList, K::kListView, "List4"));
  Add(Hidden(id::kVolumeProgress, K::kStatic, "0"));
  Add(Hidden(id::kBadSector, K::kStatic, "Bad Sector")).sunken = true;
  Add(Hidden(id::kSectorNum, K::kStatic, "SectorNum")).sunken = true;
  Add(Hidden(id::kErrorField, K::kStatic, "Error"));
  Add(Hidden(id::kStatic1015, K::kStatic, "Static"));
  for (const char* label : {"&Namespace", "Sec/Clu ", "Bad:", "EndSector", "StartSector", "SecNum"}) {
    Add(Hidden(id::kNone, K::kStatic, label));
  }
}

Control& WindowModel::control(int id) {
  auto it = index_.find(id);
  if (it == index_.end()) throw std::out_of_range("no control " + std::to_string(id));
  return controls_[it->second];
}

const Control& WindowModel::control(int id) const {
  return const_cast<WindowModel*>(this)->control(id);
}

void WindowModel::SetText(int id, const std::string& text) {
  control(id).text = text;
  shell_.FieldChanged(id, text);
}

bool WindowModel::UpdateData(bool save) {
  for (const TextBinding& b : kTextBindings) {
    if (save) {
      this->*b.member = Text(b.id);
    } else {
      control(b.id).text = this->*b.member;
    }
  }
  if (save) {
    unsigned int value = 0;
    if (!ParseUnsigned(Text(id::kSectorsPerCluster), &value)) {
      MessageBox("Please enter a positive integer.", kAppName, app::Buttons::kOk,
                 app::BoxKind::kError);
      return false;
    }
    m_sectorsPerCluster = value;
  } else {
    control(id::kSectorsPerCluster).text = std::to_string(m_sectorsPerCluster);
  }
  for (const CheckBinding& b : kCheckBindings) {
    if (save) {
      this->*b.flag = IsChecked(b.id) ? 1 : 0;
    } else {
      SetChecked(b.id, this->*b.flag != 0);
    }
  }
  return true;
}

app::Answer WindowModel::MessageBox(const std::string& text, const std::string& caption,
                                         app::Buttons buttons, app::BoxKind kind) {
  return shell_.MessageBox(text, caption, buttons, kind);
}

app::Answer WindowModel::AppMessageBox(const std::string& text, app::Buttons buttons,
                                            app::BoxKind kind) {
  return shell_.MessageBox(text, kAppName, buttons, kind);
}

}  // namespace app
