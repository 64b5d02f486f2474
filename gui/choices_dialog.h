// A dialog of check boxes over a list of choices: each click goes to the
// choices, and every box then shows its tick again, since one box can stand
// for several.
#pragma once

#include <wx/checkbox.h>
#include <wx/dialog.h>

#include <string>
#include <vector>

#include "window/shell.h"

namespace gui {

class ChoicesDialog : public wxDialog {
 public:
  ChoicesDialog(wxWindow* parent, const std::string& title, app::Choices& choices);

  // Clicks box `i` through its widget, as a click on it arrives.
  void ClickBox(size_t i);
  // The index of the first box whose label begins with `text`; -1 for none.
  int FindBox(const std::string& text) const;
  // One line per box: "[x] LABEL" or "[ ] LABEL", as shown.
  std::string Describe() const;

 private:
  void Sync();
  app::Choices& choices_;
  std::vector<wxCheckBox*> boxes_;
};

}  // namespace gui
