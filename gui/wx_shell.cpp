#include "gui/wx_shell.h"

#include <wx/dirdlg.h>
#include <wx/msgdlg.h>
#include <wx/utils.h>

#include "gui/choices_dialog.h"
#include "gui/main_window.h"
#include "gui/script.h"
#include "platform/session.h"

namespace gui {

app::Answer WxShell::MessageBox(const std::string& text, const std::string& caption,
                                     app::Buttons buttons, app::BoxKind kind) {
  const bool yesNo = buttons == app::Buttons::kYesNo;
  // While the window closes during a run, the run ends without questions.
  if (window_ && window_->ending()) {
    if (script_) script_->LogBox(caption, text, "closing");
    return yesNo ? app::Answer::kNo : app::Answer::kOk;
  }
  if (script_) return script_->AnswerBox(caption, text, buttons);
  long style = yesNo ? wxYES_NO : wxOK;
  switch (kind) {
    case app::BoxKind::kError:
      style |= wxICON_ERROR;
      break;
    case app::BoxKind::kQuestion:
      style |= wxICON_QUESTION;
      break;
    case app::BoxKind::kNotice:
      style |= wxICON_NONE;
      break;
  }
  wxMessageDialog box(window_, wxString::FromUTF8(text.c_str()), wxString::FromUTF8(caption.c_str()),
                      style);
  const int result = box.ShowModal();
  if (!yesNo) return app::Answer::kOk;
  return result == wxID_YES ? app::Answer::kYes : app::Answer::kNo;
}

std::optional<std::string> WxShell::PickFolder() {
  if (script_) return script_->AnswerFolder();
  wxDirDialog picker(nullptr, wxEmptyString, wxEmptyString, wxDD_DEFAULT_STYLE | wxDD_DIR_MUST_EXIST);
  if (picker.ShowModal() != wxID_OK) return std::nullopt;
  return std::string(picker.GetPath().utf8_str());
}

void WxShell::OpenFolder(const std::string& path) {
  if (script_) {
    script_->LogOpen(path);
    return;
  }
  // The desktop's file manager, in the session of the person using the
  // program (never as root); a failure (no such folder, no file manager) is
  // not reported.
  platform::OpenFolderForUser(path);
}

void WxShell::FieldChanged(int id, const std::string& text) {
  if (window_) window_->FieldChanged(id, text);
}

void WxShell::Busy(bool on) {
  if (on) {
    ++busyDepth_;
    wxBeginBusyCursor();
  } else if (busyDepth_ > 0) {
    --busyDepth_;
    wxEndBusyCursor();
  }
}

void WxShell::GetRights() {
  if (window_) window_->RestartWithRights();
}

void WxShell::EndDialog() {
  if (window_) window_->RequestEnd();
}

void WxShell::ShowChoices(const std::string& title, app::Choices& choices) {
  ChoicesDialog dialog(window_, title, choices);
  if (script_) {
    script_->RunChoices(title, dialog);
    return;
  }
  dialog.ShowModal();
}

}  // namespace gui
