#include "gui/choices_dialog.h"

#include <wx/button.h>
#include <wx/sizer.h>
#include <wx/statline.h>

namespace gui {

ChoicesDialog::ChoicesDialog(wxWindow* parent, const std::string& title,
                             platform::Choices& choices)
    : wxDialog(parent, wxID_ANY, wxString::FromUTF8(title.c_str())), choices_(choices) {
  auto* column = new wxBoxSizer(wxVERTICAL);
  for (size_t i = 0; i < choices_.Count(); ++i) {
    auto* box = new wxCheckBox(this, wxID_ANY, wxString::FromUTF8(choices_.Label(i).c_str()));
    box->Bind(wxEVT_CHECKBOX, [this, i](wxCommandEvent&) {
      choices_.Click(i);
      Sync();
    });
    boxes_.push_back(box);
    column->Add(box, 0, wxLEFT | wxRIGHT | wxTOP, 6);
    // The box that stands for several types stands apart from them.
    if (i == 0) column->Add(new wxStaticLine(this), 0, wxEXPAND | wxALL, 6);
  }
  column->Add(new wxButton(this, wxID_OK, "Close"), 0, wxALIGN_RIGHT | wxALL, 8);
  SetSizerAndFit(column);
  SetEscapeId(wxID_OK);
  Sync();
}

void ChoicesDialog::Sync() {
  for (size_t i = 0; i < boxes_.size(); ++i) boxes_[i]->SetValue(choices_.Ticked(i));
}

void ChoicesDialog::ClickBox(size_t i) {
  if (i >= boxes_.size()) return;
  wxCheckBox* box = boxes_[i];
  box->SetValue(!box->GetValue());
  wxCommandEvent click(wxEVT_CHECKBOX, box->GetId());
  click.SetEventObject(box);
  click.SetInt(box->GetValue() ? 1 : 0);
  box->ProcessWindowEvent(click);
}

int ChoicesDialog::FindBox(const std::string& text) const {
  for (size_t i = 0; i < boxes_.size(); ++i) {
    if (choices_.Label(i).rfind(text, 0) == 0) return static_cast<int>(i);
  }
  return -1;
}

std::string ChoicesDialog::Describe() const {
  std::string lines;
  for (size_t i = 0; i < boxes_.size(); ++i) {
    lines += boxes_[i]->GetValue() ? "[x] " : "[ ] ";
    lines += choices_.Label(i) + "\n";
  }
  return lines;
}

}  // namespace gui
