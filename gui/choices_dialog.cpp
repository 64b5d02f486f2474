#include "gui/choices_dialog.h"

#include <wx/button.h>
#include <wx/sizer.h>
#include <wx/statline.h>

namespace gui {

ChoicesDialog::ChoicesDialog(wxWindow* parent, const std::string& title,
                             app::Choices& choices)
    : wxDialog(parent, wxID_ANY, wxString::FromUTF8(title.c_str())), choices_(choices) {
  auto* column = new wxBoxSizer(wxVERTICAL);
  // The first box stands for several and stands apart, above the others in
  // two columns, so that the dialog fits a small screen.
  auto* grid = new wxFlexGridSizer(2, wxSize(12, 4));
  for (size_t i = 0; i < choices_.Count(); ++i) {
    // The words before a bracket on the box, the whole label as its tip.
    const std::string label = choices_.Label(i);
    const std::string shown = label.substr(0, label.find(" ("));
    auto* box = new wxCheckBox(this, wxID_ANY, wxString::FromUTF8(shown.c_str()));
    box->SetToolTip(wxString::FromUTF8(label.c_str()));
    box->Bind(wxEVT_CHECKBOX, [this, i](wxCommandEvent&) {
      choices_.Click(i);
      Sync();
    });
    boxes_.push_back(box);
    if (i == 0) {
      column->Add(box, 0, wxLEFT | wxRIGHT | wxTOP, 8);
      column->Add(new wxStaticLine(this), 0, wxEXPAND | wxALL, 8);
    } else {
      grid->Add(box);
    }
  }
  column->Add(grid, 0, wxLEFT | wxRIGHT, 8);
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
