#include "app/file_types_dialog.h"

#include "scan/file_types.h"

namespace app {

size_t FileTypeChoices::Count() const { return scan::FileTypes().size() + 1; }

std::string FileTypeChoices::Label(size_t i) const {
  if (i == 0) return kPhotosAndVideos;
  const carvers::FileType& t = *scan::FileTypes()[i - 1].type;
  return std::string(t.name) + ": " + t.recovers;
}

bool FileTypeChoices::TypeTicked(size_t index) const {
  const scan::TypeEntry& e = scan::FileTypes()[index];
  if (e.boxId != 0) return dlg_.IsChecked(e.boxId);
  return dlg_.m_types.ticked.count(index) != 0;
}

bool FileTypeChoices::Ticked(size_t i) const {
  if (i != 0) return i < Count() && TypeTicked(i - 1);
  const auto types = scan::FileTypes();
  for (size_t index = 0; index < types.size(); ++index) {
    if (types[index].type->photo && !TypeTicked(index)) return false;
  }
  return true;
}

void FileTypeChoices::ClickType(size_t index) {
  const scan::TypeEntry& e = scan::FileTypes()[index];
  if (e.boxId != 0) {
    dlg_.Press(e.boxId);
  } else if (!dlg_.m_types.ticked.erase(index)) {
    dlg_.m_types.ticked.insert(index);
  }
}

void FileTypeChoices::Click(size_t i) {
  if (i != 0) {
    if (i < Count()) ClickType(i - 1);
    return;
  }
  const bool untick = Ticked(0);
  const auto types = scan::FileTypes();
  for (size_t index = 0; index < types.size(); ++index) {
    if (types[index].type->photo && TypeTicked(index) == untick) ClickType(index);
  }
}

void ShowFileTypes(CMainDlg& dlg) {
  FileTypeChoices choices(dlg);
  dlg.shell().ShowChoices(kFileTypesTitle, choices);
}

}  // namespace app
