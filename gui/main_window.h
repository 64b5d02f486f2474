// The main window on screen: the shown controls of the window model, placed
// from their dialog units, kept in step with the model. Every click goes to
// the model's command for the control; while a command runs no other starts.
#pragma once

#include <sys/types.h>
#include <wx/dialog.h>
#include <wx/listctrl.h>
#include <wx/timer.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "app/main_dlg.h"
#include "platform/stoppable.h"

namespace gui {

class MainWindow : public wxDialog {
 public:
  MainWindow(app::CMainDlg& dlg, platform::StopSwitch& stop);

  // Copies the model's texts, list columns, rows and selection to the screen.
  void SyncFromModel();
  // A control's text changed during a command: shown at once, and the
  // window is repainted (at most every 100 ms) so that progress is seen.
  void FieldChanged(int id, const std::string& text);
  // Runs control `id`'s command, unless one is running.
  void RunCommand(int id);
  // The Exit command: the window closes when the command returns.
  void RequestEnd();

  bool busy() const { return busy_; }
  // The window is closing while a command runs: the command is being ended.
  bool ending() const { return endRequested_ && busy_; }

  // For the scripted runs of the tests: click a drive-list row as a user
  // would, press a control, close on the next progress.
  void ClickRow(int row);
  void PressControl(int id);
  void CloseOnNextProgress() { closeOnProgress_ = true; }
  void StopOnNextProgress() { stopOnProgress_ = true; }
  // Get rights: starts the window program again through pkexec and hides
  // this window; it closes once the new one ran, or shows again with a word
  // on the status line when the rights were refused.
  void RestartWithRights();
  // Where row `row` of the drive list is on screen (its middle); how many
  // drive-list clicks have run.
  wxPoint RowOnScreen(int row);
  int listClicks() const { return listClicks_; }
  app::CMainDlg& dlg() { return dlg_; }

 private:
  void CreateWidget(const app::Control& c);
  void SyncList();
  void ScheduleListClick();
  wxWindow* ListBody();
  void OnListClick();
  void OnClose(wxCloseEvent& event);
  void OnCharHook(wxKeyEvent& event);
  void Pump();
  void PressStop();
  void OnRightsChild();
  long FirstSelected() const {
    return list_->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED);
  }
  wxPoint Place(const app::Rect& r) { return ConvertDialogToPixels(wxPoint(r.x, r.y)); }

  app::CMainDlg& dlg_;
  platform::StopSwitch& stop_;
  std::map<int, wxWindow*> widgets_;
  wxListCtrl* list_ = nullptr;
  double scale_ = 1.0;  // pictures' scale: pixels per dialog unit / 1.5
  std::vector<app::ListColumn> shownColumns_;
  std::vector<std::vector<std::string>> shownRows_;
  bool busy_ = false;
  bool endRequested_ = false;
  bool syncing_ = false;
  bool clickPending_ = false;
  bool closeOnProgress_ = false;
  bool stopOnProgress_ = false;
  pid_t rightsChild_ = -1;
  wxTimer rightsTimer_;
  int listClicks_ = 0;
  std::chrono::steady_clock::time_point lastPump_{};
};

}  // namespace gui
