#include "gui/wx_shell.h"

#include <wx/dirdlg.h>
#include <wx/msgdlg.h>
#include <wx/utils.h>

#include "gui/main_window.h"
#include "gui/script.h"
#include "platform/session.h"

namespace gui {

platform::Answer WxShell::MessageBox(const std::string& text, const std::string& caption,
                                     platform::Buttons buttons, platform::BoxKind kind) {
  const bool yesNo = buttons == platform::Buttons::kYesNo;
  // While the window closes during a run, the run ends without questions.
  if (window_ && window_->ending()) {
    if (script_) script_->LogBox(caption, text, "closing");
    return yesNo ? platform::Answer::kNo : platform::Answer::kOk;
  }
  if (script_) return script_->AnswerBox(caption, text, buttons);
  long style = yesNo ? wxYES_NO : wxOK;
  switch (kind) {
    case platform::BoxKind::kError:
      style |= wxICON_ERROR;
      break;
    case platform::BoxKind::kQuestion:
      style |= wxICON_QUESTION;
      break;
    case platform::BoxKind::kNotice:
      style |= wxICON_NONE;
      break;
  }
  wxMessageDialog box(window_, wxString::FromUTF8(text.c_str()), wxString::FromUTF8(caption.c_str()),
                      style);
  const int result = box.ShowModal();
  if (!yesNo) return platform::Answer::kOk;
  return result == wxID_YES ? platform::Answer::kYes : platform::Answer::kNo;
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

}  // namespace gui
