// The main window as data: its controls by identifier (kind, caption, text,
// check state, enabled, shown, list rows), the members bound to them, and the
// data exchange between the two. Front ends (the wx window, the command line,
// tests) draw and drive this model; the commands read and write it.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "window/control_ids.h"
#include "window/shell.h"

// The machine the commands work on: the model only carries these handles for
// its command adapters, which include the headers that define them.
namespace platform {
class DeviceOpener;
class ManagementLayer;
class WbemServices;
}  // namespace platform

namespace app {

// The application's title: the caption of the application-wide message box.
inline constexpr const char* kAppName = "Lumisave";

enum class ControlKind {
  kPicture,        // a bitmap (banner, labels)
  kPictureButton,  // owner-drawn picture button
  kButton,
  kCheckBox,  // automatic two-state check box
  kEdit,
  kStatic,
  kListView,  // report style
  kListBox,
  kProgressBar,  // its text is the percentage shown
};

struct Rect {
  int x = 0, y = 0, width = 0, height = 0;  // dialog units
};

struct ListColumn {
  std::string header;
  int width = 0;  // kFitted: wide enough for the header text
  static constexpr int kFitted = -1;
};

struct Control {
  int id = id::kNone;
  ControlKind kind = ControlKind::kStatic;
  std::string caption;  // template caption (button and box words, picture words)
  std::string text;     // current window text
  bool checked = false;
  bool enabled = true;
  bool visible = false;
  bool defaultButton = false;
  bool readOnly = false;
  bool sunken = false;
  Rect rect;  // placement, for shown controls
  // List views: columns and rows of cells; list boxes: one cell per row.
  std::vector<ListColumn> columns;
  std::vector<std::vector<std::string>> rows;
  int selected = -1;  // selected row, -1 for none
  // List views: the whole row shows as selected; a background of its own
  // (0xRRGGBB, -1 for the toolkit's).
  bool fullRowSelect = false;
  int background = -1;
};

class WindowModel {
 public:
  WindowModel(app::Shell& shell, platform::DeviceOpener& opener);
  virtual ~WindowModel();
  WindowModel(const WindowModel&) = delete;
  WindowModel& operator=(const WindowModel&) = delete;

  // --- Controls -----------------------------------------------------------
  Control& control(int id);
  const Control& control(int id) const;
  bool HasControl(int id) const { return index_.count(id) != 0; }
  // Every control, in template order (also those without an identifier).
  const std::vector<Control>& controls() const { return controls_; }

  const std::string& Text(int id) const { return control(id).text; }
  // Sets a control's text and tells the front end (progress fields).
  void SetText(int id, const std::string& text);
  bool IsChecked(int id) const { return control(id).checked; }
  void SetChecked(int id, bool checked) { control(id).checked = checked; }
  void Enable(int id, bool enabled = true) { control(id).enabled = enabled; }

  // List views and the list box.
  Control& driveList() { return control(id::kDriveList); }
  Control& outputList() { return control(id::kOutputList); }
  Control& volumeList() { return control(id::kVolumeList); }
  Control& bootList() { return control(id::kBootList); }
  Control& fatList() { return control(id::kFatList); }

  // --- Data exchange --------------------------------------------------------
  // save = true moves controls into members, false members into controls.
  // Returns false when a field fails its check; the exchange stops there.
  bool UpdateData(bool save = true);

  // --- Message boxes --------------------------------------------------------
  // The window's own box, with the caption given.
  app::Answer MessageBox(const std::string& text, const std::string& caption,
                              app::Buttons buttons = app::Buttons::kOk,
                              app::BoxKind kind = app::BoxKind::kError);
  // The application-wide box: its caption is the application's title.
  app::Answer AppMessageBox(const std::string& text,
                                 app::Buttons buttons = app::Buttons::kOk,
                                 app::BoxKind kind = app::BoxKind::kError);

  app::Shell& shell() { return shell_; }
  platform::DeviceOpener& opener() { return opener_; }
  // The management service layer; the window sets its own over the real
  // machine unless a front end or a test sets another.
  platform::ManagementLayer& management() { return *management_; }
  void SetManagement(platform::ManagementLayer* layer) { management_ = layer; }

  // --- Members, in the window's declaration order ----------------------------
  uint64_t m_targetCapacity = 0;
  uint64_t m_sourceCapacity = 0;
  std::string m_namespace = "\\\\.\\root\\cimv2";
  std::string m_sourceDrive;
  std::string m_targetDrive;
  std::string m_signatureDrive;
  std::string m_text1018;
  std::string m_sourceName;
  std::string m_volumeRoot;
  unsigned int m_sectorsPerCluster = 0;
  int m_recoverQbb = 0;
  int m_recoverJpeg = 0;
  int m_recoverPst = 0;
  int m_recoverDbx = 0;
  int m_recoverOffice = 0;
  int m_recoverWav = 0;
  int m_recoverBmp = 0;
  int m_recoverJpeg0 = 0;
  int m_recoverAccess = 0;
  int m_recoverMp3 = 0;
  int m_recoverCorelDraw = 0;
  int m_recoverAvi = 0;
  int m_recoverDoc = 0;
  int m_recoverExcel = 0;
  int m_recoverPdf = 0;
  int m_recoverMcd = 0;
  int m_recoverProgress = 0;
  std::shared_ptr<platform::WbemServices> m_services;
  std::shared_ptr<platform::WbemServices> m_officeServices;

  // Set by the strip's Stop button: the scan, survey or volume copy in hand
  // ends after its chunk. Each run clears it as it starts.
  std::atomic<bool> runStop{false};

 private:
  void BuildTemplate();
  Control& Add(Control c);

  app::Shell& shell_;
  platform::DeviceOpener& opener_;
  platform::ManagementLayer* management_ = nullptr;
  std::vector<Control> controls_;
  std::map<int, size_t> index_;
};

// The wait cursor for the life of a scope.
class BusyScope {
 public:
  explicit BusyScope(app::Shell& shell) : shell_(shell) { shell_.Busy(true); }
  ~BusyScope() { shell_.Busy(false); }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  app::Shell& shell_;
};

// The type check boxes with their flags, in the order of the data exchange.
struct CheckBinding {
  int id;
  int WindowModel::*flag;
};
extern const CheckBinding kCheckBindings[17];

}  // namespace app
