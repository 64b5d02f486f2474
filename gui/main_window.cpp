#include "gui/main_window.h"

#include <algorithm>
#include <cstdlib>

#include <wx/bmpbuttn.h>
#include <wx/button.h>
#include <wx/evtloop.h>
#include <wx/gauge.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "gui/pictures.h"
#include "platform/exec.h"
#include "platform/session.h"

namespace gui {
namespace {

constexpr auto kPumpInterval = std::chrono::milliseconds(100);

wxColour Rgb(int rgb) { return wxColour((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF); }

wxString Wx(const std::string& s) { return wxString::FromUTF8(s.c_str()); }

// The label pictures' sizes in pixels.
wxSize LabelSize(const std::string& caption) {
  return caption.find('|') != std::string::npos ? wxSize(500, 15) : wxSize(500, 20);
}

}  // namespace

MainWindow::MainWindow(app::CMainDlg& dlg, platform::StopSwitch& stop)
    : wxDialog(nullptr, wxID_ANY, "Lumisave - photo recovery by the Lumisave project",
               wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX | wxMINIMIZE_BOX | wxMAXIMIZE_BOX |
                   wxDIALOG_NO_PARENT),
      dlg_(dlg),
      stop_(stop) {
  // The window's font sets its dialog units, as a dialog template's does.
  SetFont(wxFont(wxFontInfo(8).Family(wxFONTFAMILY_SWISS)));
  scale_ = ConvertDialogToPixels(wxSize(420, 0)).x / 630.0;
  SetBackgroundColour(Rgb(app::kDialogBackground));
  SetForegroundColour(*wxBLACK);
  SetIcons(DrawIcons());
  // The template's 252 dialog units, and the run strip below them.
  SetClientSize(ConvertDialogToPixels(wxSize(420, 282)));
  for (const app::Control& c : dlg_.controls()) {
    if (c.visible) CreateWidget(c);
  }
  Bind(wxEVT_CLOSE_WINDOW, &MainWindow::OnClose, this);
  Bind(wxEVT_CHAR_HOOK, &MainWindow::OnCharHook, this);
  rightsTimer_.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { OnRightsChild(); });
  SyncFromModel();
}

void MainWindow::CreateWidget(const app::Control& c) {
  const wxPoint pos = Place(c.rect);
  const wxSize size = ConvertDialogToPixels(wxSize(c.rect.width, c.rect.height));
  wxWindow* widget = nullptr;
  switch (c.kind) {
    case app::ControlKind::kPicture: {
      wxBitmap picture;
      if (c.rect.y == 0) {
        picture = DrawBanner(Wx(c.caption), scale_);
      } else {
        // The second word of a label sits over the control to its right.
        const wxSize nominal = LabelSize(c.caption);
        const double secondAt =
            static_cast<double>(ConvertDialogToPixels(wxSize(207 - c.rect.x, 0)).x) /
            (nominal.x * scale_);
        picture = DrawLabel(Wx(c.caption), nominal.x, nominal.y, secondAt, scale_);
      }
      widget = new wxStaticBitmap(this, wxID_ANY, picture, pos, picture.GetSize());
      break;
    }
    case app::ControlKind::kPictureButton: {
      const wxString words = ButtonWords(c.caption);
      wxBitmap up = DrawButton(words, false, scale_);
      auto* button = new wxBitmapButton(this, c.id, up, pos, up.GetSize(), wxBORDER_NONE);
      button->SetBitmapPressed(DrawButton(words, true, scale_));
      button->SetToolTip(words);
      // Each button takes the size of its picture.
      button->SetMinSize(up.GetSize());
      button->SetSize(up.GetSize());
      button->Bind(wxEVT_BUTTON, [this, id = c.id](wxCommandEvent&) { RunCommand(id); });
      widget = button;
      break;
    }
    case app::ControlKind::kListView: {
      list_ = new wxListCtrl(this, c.id, pos, size, wxLC_REPORT | wxLC_SINGLE_SEL | wxBORDER_SUNKEN);
      list_->Bind(wxEVT_LIST_ITEM_SELECTED, [this](wxListEvent&) { ScheduleListClick(); });
      list_->Bind(wxEVT_LIST_ITEM_DESELECTED, [this](wxListEvent&) { ScheduleListClick(); });
      // A click on the selected row, or into the empty part, changes no
      // selection but is a click all the same. The list's parts are laid
      // out later, so the body is told from the header at the click.
      for (wxWindow* part : list_->GetChildren()) {
        part->Bind(wxEVT_LEFT_UP, [this](wxMouseEvent& e) {
          if (e.GetEventObject() == ListBody()) ScheduleListClick();
          e.Skip();
        });
      }
      widget = list_;
      break;
    }
    case app::ControlKind::kEdit:
      widget = new wxTextCtrl(this, c.id, Wx(c.text), pos, size,
                              c.readOnly ? wxTE_READONLY : 0);
      break;
    case app::ControlKind::kProgressBar: {
      auto* bar = new wxGauge(this, c.id, 100, pos, size, wxGA_HORIZONTAL | wxGA_SMOOTH);
      bar->SetValue(0);
      widget = bar;
      break;
    }
    case app::ControlKind::kButton: {
      auto* button = new wxButton(this, c.id, Wx(c.text.empty() ? c.caption : c.text), pos, size);
      if (c.id == app::id::kRunStop) {
        // Stop is the one command taken while another runs: it only sets the
        // run's stop flag, which the run reads between chunks.
        button->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { dlg_.Press(app::id::kRunStop); });
      } else {
        button->Bind(wxEVT_BUTTON, [this, id = c.id](wxCommandEvent&) { RunCommand(id); });
      }
      widget = button;
      break;
    }
    case app::ControlKind::kStatic:
      widget = new wxStaticText(this, c.id, Wx(c.text), pos, size,
                                wxST_NO_AUTORESIZE | (c.sunken ? wxBORDER_SUNKEN : 0));
      break;
    default:
      break;
  }
  if (widget && c.id != app::id::kNone) widgets_[c.id] = widget;
}

void MainWindow::SyncFromModel() {
  for (const auto& [id, widget] : widgets_) {
    const app::Control& c = dlg_.control(id);
    if (auto* edit = dynamic_cast<wxTextCtrl*>(widget)) {
      if (edit->GetValue() != Wx(c.text)) edit->ChangeValue(Wx(c.text));
    } else if (auto* label = dynamic_cast<wxStaticText*>(widget)) {
      if (label->GetLabelText() != Wx(c.text)) label->SetLabelText(Wx(c.text));
    } else if (auto* bar = dynamic_cast<wxGauge*>(widget)) {
      bar->SetValue(std::clamp(std::atoi(c.text.c_str()), 0, 100));
    } else if (auto* button = dynamic_cast<wxButton*>(widget)) {
      // Get rights shows only while it is offered.
      if (c.id == app::id::kGetRights) button->Show(c.enabled);
      button->Enable(c.enabled);
    }
  }
  SyncList();
}

void MainWindow::SyncList() {
  if (!list_) return;
  const app::Control& model = dlg_.driveList();
  syncing_ = true;
  if (model.background >= 0) list_->SetBackgroundColour(Rgb(model.background));
  bool columnsChanged = model.columns.size() != shownColumns_.size();
  for (size_t i = 0; !columnsChanged && i < model.columns.size(); ++i) {
    columnsChanged = model.columns[i].header != shownColumns_[i].header ||
                     model.columns[i].width != shownColumns_[i].width;
  }
  if (columnsChanged) {
    list_->ClearAll();
    for (size_t i = 0; i < model.columns.size(); ++i) {
      const long col = static_cast<long>(i);
      list_->InsertColumn(col, Wx(model.columns[i].header), wxLIST_FORMAT_LEFT);
      list_->SetColumnWidth(col, model.columns[i].width == app::ListColumn::kFitted
                                     ? wxLIST_AUTOSIZE_USEHEADER
                                     : model.columns[i].width);
    }
    shownColumns_ = model.columns;
    shownRows_.clear();
  }
  if (model.rows != shownRows_) {
    list_->DeleteAllItems();
    for (size_t r = 0; r < model.rows.size(); ++r) {
      const auto& cells = model.rows[r];
      const long item = list_->InsertItem(static_cast<long>(r), cells.empty() ? "" : Wx(cells[0]));
      for (size_t c = 1; c < cells.size() && c < model.columns.size(); ++c) {
        list_->SetItem(item, static_cast<long>(c), Wx(cells[c]));
      }
    }
    shownRows_ = model.rows;
  }
  const long selected = FirstSelected();
  if (selected != model.selected) {
    if (selected >= 0) list_->SetItemState(selected, 0, wxLIST_STATE_SELECTED);
    if (model.selected >= 0 && model.selected < list_->GetItemCount()) {
      list_->SetItemState(model.selected, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED,
                          wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
    }
  }
  syncing_ = false;
}

// The part of the list that holds the rows: the toolkit's list is a header
// above a body, and the body is the lower of the two once laid out.
wxWindow* MainWindow::ListBody() {
  wxWindow* body = list_;
  int lowest = -1;
  for (wxWindow* child : list_->GetChildren()) {
    if (child->GetPosition().y > lowest) {
      lowest = child->GetPosition().y;
      body = child;
    }
  }
  return body;
}

// A click changes the selection in one or two steps (the old row, the new
// one); the list's click command runs once, after both.
void MainWindow::ScheduleListClick() {
  if (syncing_ || clickPending_) return;
  clickPending_ = true;
  CallAfter(&MainWindow::OnListClick);
}

void MainWindow::OnListClick() {
  clickPending_ = false;
  if (busy_) {
    SyncList();  // no second command: the list keeps the model's selection
    return;
  }
  dlg_.driveList().selected = static_cast<int>(FirstSelected());
  ++listClicks_;
  RunCommand(app::id::kDriveList);
}

void MainWindow::ClickRow(int row) {
  if (!list_ || busy_) return;
  syncing_ = true;
  const long old = FirstSelected();
  if (old >= 0) list_->SetItemState(old, 0, wxLIST_STATE_SELECTED);
  if (row >= 0) {
    list_->SetItemState(row, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED,
                        wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
    list_->EnsureVisible(row);
  }
  syncing_ = false;
  OnListClick();
}

wxPoint MainWindow::RowOnScreen(int row) {
  wxRect rect;
  if (!list_ || !list_->GetItemRect(row, rect)) return wxDefaultPosition;
  return list_->ClientToScreen(wxPoint(rect.x + 20, rect.y + rect.height / 2));
}

void MainWindow::PressControl(int id) {
  auto it = widgets_.find(id);
  if (it != widgets_.end() && dynamic_cast<wxButton*>(it->second)) {
    // Through the button itself, as a click on it arrives.
    wxCommandEvent click(wxEVT_BUTTON, id);
    click.SetEventObject(it->second);
    it->second->ProcessWindowEvent(click);
    return;
  }
  RunCommand(id);
}

void MainWindow::RunCommand(int id) {
  if (busy_ || endRequested_) return;
  busy_ = true;
  stop_.Reset();
  dlg_.Press(id);
  busy_ = false;
  SyncFromModel();
  if (endRequested_ && IsModal()) EndModal(wxID_CANCEL);
}

void MainWindow::PressStop() {
  auto it = widgets_.find(app::id::kRunStop);
  if (it == widgets_.end()) return;
  // Through the button itself, as a click on it arrives during a run.
  wxCommandEvent click(wxEVT_BUTTON, app::id::kRunStop);
  click.SetEventObject(it->second);
  it->second->ProcessWindowEvent(click);
}

void MainWindow::RestartWithRights() {
  if (rightsChild_ > 0) return;
  rightsChild_ = platform::StartWithRights(platform::SiblingProgram("lumisave-gui"), {});
  if (rightsChild_ < 0) {
    dlg_.SetText(app::id::kStatusLine, "pkexec could not be started: run lumisave-gui as root.");
    return;
  }
  Hide();
  rightsTimer_.Start(100);
}

void MainWindow::OnRightsChild() {
  int status = 0;
  if (!platform::ChildEnded(rightsChild_, &status)) return;
  rightsTimer_.Stop();
  rightsChild_ = -1;
  if (status == platform::kNotAuthorised || status == platform::kDismissed) {
    // Refused or dismissed: this window goes on without the rights.
    dlg_.SetText(app::id::kStatusLine, "Administrator rights were not given.");
    Show();
    return;
  }
  RequestEnd();
}

void MainWindow::RequestEnd() {
  endRequested_ = true;
  if (!busy_ && IsModal()) EndModal(wxID_CANCEL);
}

void MainWindow::FieldChanged(int id, const std::string& text) {
  auto it = widgets_.find(id);
  if (it != widgets_.end()) {
    if (auto* label = dynamic_cast<wxStaticText*>(it->second)) {
      label->SetLabelText(Wx(text));
    } else if (auto* edit = dynamic_cast<wxTextCtrl*>(it->second)) {
      edit->ChangeValue(Wx(text));
    } else if (auto* bar = dynamic_cast<wxGauge*>(it->second)) {
      bar->SetValue(std::clamp(std::atoi(text.c_str()), 0, 100));
    }
  }
  if (!busy_) return;
  if (closeOnProgress_ && id == app::id::kProgress) {
    closeOnProgress_ = false;
    Close();
  }
  // The run's facts line is written first by the run's first progress (the
  // bar is reset to 0 before anything is read).
  if (stopOnProgress_ && id == app::id::kRunFacts && !text.empty()) {
    stopOnProgress_ = false;
    PressStop();
  }
  Pump();
}

void MainWindow::Pump() {
  const auto now = std::chrono::steady_clock::now();
  if (now - lastPump_ < kPumpInterval) return;
  lastPump_ = now;
  Update();
  if (wxEventLoopBase* loop = wxEventLoopBase::GetActive()) loop->YieldFor(wxEVT_CATEGORY_ALL);
}

void MainWindow::OnClose(wxCloseEvent& event) {
  if (busy_) {
    // A long command is running: ask before ending it (Esc and the close box
    // alike). A No leaves it running.
    if (!endRequested_ &&
        dlg_.AppMessageBox("A command is still running. Stop it and close the window?",
                           app::Buttons::kYesNo,
                           app::BoxKind::kQuestion) != app::Answer::kYes) {
      if (event.CanVeto()) event.Veto();
      return;
    }
    // End the running command first: its reads now end as at the end of the
    // drive, so it closes its files and the device and returns; the window
    // closes then.
    endRequested_ = true;
    stop_.Request();
    if (event.CanVeto()) event.Veto();
    return;
  }
  if (IsModal()) EndModal(wxID_CANCEL);
}

void MainWindow::OnCharHook(wxKeyEvent& event) {
  switch (event.GetKeyCode()) {
    case WXK_ESCAPE:
      Close();
      return;
    case WXK_RETURN:
    case WXK_NUMPAD_ENTER:
      // Enter sends the default button's command, as in a dialog.
      for (const app::Control& c : dlg_.controls()) {
        if (c.defaultButton) {
          RunCommand(c.id);
          return;
        }
      }
      break;
    default:
      break;
  }
  event.Skip();
}

}  // namespace gui
