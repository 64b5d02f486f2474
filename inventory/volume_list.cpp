#include "inventory/volume_list.h"

#include <cctype>

#include "platform/volumes.h"
#include "base/numbers.h"

namespace inventory {
namespace {

using platform::WbemClassObject;
using platform::WbemEnumerator;

const char* const kDriveTypeNames[] = {
    "DRIVE_UNKNOWN",   "DRIVE_NO_ROOT_DIR", "DRIVE_REMOVABLE", "DRIVE_FIXED",
    "DRIVE_REMOTE",    "DRIVE_CDROM",       "DRIVE_RAMDISK",
};

// The text that ends the path before the drive letter: the letter follows
// 29 characters after its start, past an escaped quotation mark.
constexpr const char* kLetterAnchor = "Win32_LogicalDisk.DeviceID=";
constexpr size_t kLetterOffset = 29;

std::string& Cell(std::vector<std::string>& row, size_t column) {
  if (row.size() <= column) row.resize(column + 1);
  return row[column];
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t pos = text.find(from); pos != std::string::npos;
       pos = text.find(from, pos + to.size())) {
    text.replace(pos, from.size(), to);
  }
  return text;
}

void AppendLetters(app::Control& drives, const std::string& path) {
  const size_t anchor = path.find(kLetterAnchor);
  if (anchor == std::string::npos || anchor + kLetterOffset >= path.size()) return;
  const char letter = path[anchor + kLetterOffset];
  for (auto& row : drives.rows) {
    const std::string key = ReplaceAll(Cell(row, 0), "physicaldrive", "Disk #");
    if (PathNamesDisk(path, key)) Cell(row, kLetterColumn) += std::string(1, letter) + ": ";
  }
}

}  // namespace

bool PathNamesDisk(const std::string& path, const std::string& key) {
  if (key.empty()) return false;
  const bool numbered = std::isdigit(static_cast<unsigned char>(key.back())) != 0;
  for (size_t pos = path.find(key); pos != std::string::npos; pos = path.find(key, pos + 1)) {
    const size_t after = pos + key.size();
    if (!numbered || after >= path.size() ||
        !std::isdigit(static_cast<unsigned char>(path[after]))) {
      return true;
    }
  }
  return false;
}

void InitVolumeListColumns(app::WindowModel& w) {
  static const char* const kHeaders[] = {
      "LogicalDrive",
      "Drive Type                          ",
      "FreeForCaller     ",
      "TotalCapacity             ",
      "FreeSpace         ",
      "FileSystem",
      "VolumeName",
  };
  app::Control& list = w.volumeList();
  list.columns.clear();
  for (const char* header : kHeaders) list.columns.push_back({header, app::ListColumn::kFitted});
}

void ListLogicalDrives(app::WindowModel& w) {
  app::Control& list = w.volumeList();
  list.rows.clear();
  list.selected = -1;
  const platform::VolumeTable table(w.management().sources());
  for (const std::string& root : table.LogicalDriveStrings()) {
    std::vector<std::string> row(7);
    row[0] = root;
    list.rows.push_back(std::move(row));
  }
}

bool FillVolumeDetails(app::WindowModel& w) {
  const platform::VolumeTable table(w.management().sources());
  for (auto& row : w.volumeList().rows) {
    const std::string root = Cell(row, 0);
    std::string label, fileSystem;
    if (table.VolumeInformation(root, &label, &fileSystem)) {
      Cell(row, 6) = label;
      Cell(row, 5) = fileSystem;
    }
    const uint32_t type = table.DriveType(root);
    if (type < std::size(kDriveTypeNames)) Cell(row, 1) = kDriveTypeNames[type];
    uint64_t caller = 0, total = 0, free = 0;
    if (table.DiskFreeSpace(root, &caller, &total, &free)) {
      Cell(row, 2) = base::FormatDecimal(caller);
      Cell(row, 3) = base::FormatDecimal(total);
      Cell(row, 4) = base::FormatDecimal(free);
    }
  }
  return true;
}

bool MapDrivesToLetters(app::WindowModel& w) {
  app::Control& drives = w.driveList();
  for (auto& row : drives.rows) Cell(row, kLetterColumn).clear();

  // Without a connection there is nothing to enumerate: told as a refusal.
  std::unique_ptr<WbemEnumerator> associations;
  const platform::HRESULT hr =
      w.m_services ? w.m_services->CreateInstanceEnum("Win32_LogicalDiskToPartition",
                                                       &associations)
                   : platform::wbem::kFailed;
  if (platform::wbem::Failed(hr)) {
    w.AppMessageBox("CreateInstanceEnum failed");
    return false;
  }
  for (;;) {
    std::unique_ptr<WbemClassObject> object;
    uint32_t returned = 0;
    if (associations->Next(2000, &object, &returned) != platform::wbem::kOk || returned != 1) {
      break;
    }
    std::string path;
    if (object->Get("__RELPATH", &path) != platform::wbem::kOk) continue;
    AppendLetters(drives, path);
  }
  return true;
}

void GetLogicalDriveInfo(app::WindowModel& w) {
  FillVolumeDetails(w);
  MapDrivesToLetters(w);
}

}  // namespace inventory
