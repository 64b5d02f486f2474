// The window's "File types..." dialog: a check box for every type of the
// table, and one for all the photo and video types at once. A tick there
// clicks the type's box in the window as a click would (the same command,
// so the folder a box makes and its messages stay), or, for a type without
// a box, ticks it in the window's type selection.
#pragma once

#include <string>

#include "app/main_dlg.h"
#include "window/shell.h"

namespace app {

// The dialog's title.
inline constexpr const char* kFileTypesTitle = "File types";
// The first box's label: every picture and video type.
inline constexpr const char* kPhotosAndVideos = "Photos and videos";

class FileTypeChoices : public app::Choices {
 public:
  explicit FileTypeChoices(CMainDlg& dlg) : dlg_(dlg) {}
  // Box 0 is "Photos and videos", box i + 1 the type of table index i.
  size_t Count() const override;
  std::string Label(size_t i) const override;
  bool Ticked(size_t i) const override;
  // Box 0: ticks every photo and video type not ticked yet, or, when all
  // are, unticks them all.
  void Click(size_t i) override;

 private:
  bool TypeTicked(size_t index) const;
  void ClickType(size_t index);
  CMainDlg& dlg_;
};

// The "File types..." button's command: shows the dialog over the window.
void ShowFileTypes(CMainDlg& dlg);

}  // namespace app
