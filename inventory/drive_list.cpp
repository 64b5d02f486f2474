#include "inventory/drive_list.h"

#include <cctype>
#include <cstdio>
#include <optional>

#include "platform/devtree.h"
#include "platform/drive_facts.h"
#include "platform/drives.h"
#include "platform/fs.h"
#include "base/numbers.h"
#include "base/text.h"

namespace inventory {
namespace {

using platform::HRESULT;
namespace wbem = platform::wbem;

// Column headers; the trailing blanks of three of them set those columns'
// fitted widths.
struct ColumnSpec {
  const char* header;
  bool fitted;
};
constexpr ColumnSpec kColumns[kDriveListColumnCount] = {
    {"PhysicalDrive", true},
    {"PNPDriveID", false},
    {"Name                      ", true},
    {"FatherID", false},
    {"GrandFatherID", false},
    {"FatherName                ", false},
    {"GrandFatherName", false},
    {"Capacity (Byte)                 ", true},
    {"Cylinders", false},
    {"Tracks", false},
    {"Sectors", false},
    {"Bytes", false},
    {"LogicalDriveLetter", false},
    {"Model                     ", true},
    {"Size      ", true},
    {"Removable", true},
    {"System", true},
};

constexpr long kNextTimeoutMs = 2000;

using base::Lower;

void SetCell(app::Control& list, size_t row, size_t column, const std::string& text) {
  if (row >= list.rows.size()) return;
  auto& cells = list.rows[row];
  if (cells.size() < kDriveListColumnCount) cells.resize(kDriveListColumnCount);
  if (column < cells.size()) cells[column] = text;
}

const std::string& Cell(const app::Control& list, size_t row, size_t column) {
  static const std::string kEmpty;
  const auto& cells = list.rows[row];
  return column < cells.size() ? cells[column] : kEmpty;
}

void AddLine(app::WindowModel& w, const std::string& line) {
  w.outputList().rows.push_back({line});
}

// Inserts a row with `name` in column 0 at `index` (at most the end of the
// list) and returns the index the row received.
size_t InsertRow(app::Control& list, size_t index, const std::string& name) {
  std::vector<std::string> row(kDriveListColumnCount);
  row[kDeviceNameColumn] = name;
  if (index > list.rows.size()) index = list.rows.size();
  list.rows.insert(list.rows.begin() + static_cast<long>(index), std::move(row));
  return index;
}

void ErrorHundred(app::WindowModel& w) {
  w.MessageBox("error 100", "error", app::Buttons::kOk, app::BoxKind::kNotice);
}

// Writes the description of every device whose identifier begins with the
// row's `idColumn` text into `nameColumn`. A row whose identifier cell is
// empty names no device and is skipped: an empty prefix would match them all.
void FillNameFromId(app::Control& list, size_t row, size_t idColumn, size_t nameColumn,
                    const platform::DeviceTree& tree, const std::string& deviceId) {
  const std::string& id = Cell(list, row, idColumn);
  if (id.empty() || !platform::BeginsWithDeviceId(deviceId, id)) return;
  std::string description;
  if (tree.Description(deviceId, &description)) SetCell(list, row, nameColumn, description);
}

}  // namespace

std::string HresultMessage(const std::string& text, HRESULT status) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08lx",
                static_cast<unsigned long>(static_cast<uint32_t>(status)));
  return text + "(" + code + ")";
}

std::string DeviceNameOf(const std::string& deviceId) {
  std::string name = deviceId.size() > 4 ? deviceId.substr(4) : std::string();
  if (!name.empty() && name[0] == '/') return name;
  return Lower(name);
}

void InitDriveListColumns(app::WindowModel& w) {
  app::Control& list = w.driveList();
  list.columns.clear();
  for (const ColumnSpec& c : kColumns) {
    list.columns.push_back({c.header, c.fitted ? app::ListColumn::kFitted : 0});
  }
}

bool ConnectNamespace(app::WindowModel& w) {
  w.UpdateData(true);
  std::unique_ptr<platform::WbemLocator> locator;
  if (w.management().CreateLocator(&locator) != wbem::kOk || !locator) {
    w.AppMessageBox("Failed to create IWbemLocator object");
    return false;
  }
  w.m_services.reset();
  HRESULT hr = locator->ConnectServer(w.m_namespace, &w.m_services);
  if (hr == wbem::kOk && w.m_services) {
    w.outputList().rows.clear();
    w.outputList().selected = -1;
    AddLine(w, "Connected to namespace");
    w.Enable(app::id::kEnumDisks);
    return true;
  }
  w.m_services.reset();
  w.AppMessageBox("Bad namespace");
  return false;
}

bool ListDiskDrives(app::WindowModel& w) {
  app::Control& output = w.outputList();
  output.rows.clear();
  output.selected = -1;
  std::unique_ptr<platform::WbemEnumerator> enumerator;
  // With no connection there is nothing to ask: it reads as a refused
  // enumeration, with the status of a service that is not there.
  HRESULT hr = w.m_services ? w.m_services->CreateInstanceEnum("Win32_DiskDrive", &enumerator)
                            : wbem::kFailed;
  if (wbem::Failed(hr) || !enumerator) {
    AddLine(w, HresultMessage("CreateInstanceEnum() failed:", hr));
    return false;
  }
  for (;;) {
    std::unique_ptr<platform::WbemClassObject> object;
    uint32_t returned = 0;
    enumerator->Next(kNextTimeoutMs, &object, &returned);
    if (returned == 0 || !object) break;
    std::string path;
    if (object->Get("__RELPATH", &path) == wbem::kOk) AddLine(w, path);
  }
  if (!output.rows.empty()) {
    output.selected = 0;
    w.Enable(app::id::kDiskInfo1);
  }
  return true;
}

bool ConnectAndListDisks(app::WindowModel& w) {
  app::BusyScope wait(w.shell());
  if (!ConnectNamespace(w)) return false;
  return ListDiskDrives(w);
}

void FillDriveList(app::WindowModel& w) {
  app::Control& list = w.driveList();
  list.rows.clear();
  list.selected = -1;
  size_t r = 0;
  // Copy the lines: a message box shown below must not see them change.
  const std::vector<std::vector<std::string>> lines = w.outputList().rows;
  for (const auto& line : lines) {
    const std::string path = line.empty() ? std::string() : line[0];
    std::unique_ptr<platform::WbemClassObject> object;
    // A line that names no object (the error line of a failed enumeration,
    // a drive removed since, or no connection at all) makes no row and no
    // message: there is nothing to read a property from.
    if (!w.m_services || w.m_services->GetObject(path, &object) != wbem::kOk || !object) {
      ++r;
      continue;
    }
    bool made = false;
    std::string deviceId, pnpId;
    if (object->Get("DeviceID", &deviceId) == wbem::kOk) {
      r = InsertRow(list, r, DeviceNameOf(deviceId));
      made = true;
    } else {
      ErrorHundred(w);
    }
    if (object->Get("PNPDeviceID", &pnpId) == wbem::kOk) {
      if (made) SetCell(list, r, kPnpIdColumn, pnpId);
    } else {
      ErrorHundred(w);
    }
    ++r;
  }
  const platform::DeviceTree tree(w.management().sources());
  FillDeviceIdentities(w, tree);
  FillParentNames(w, tree);
  FillDriveGeometry(w);
  FillDriveFacts(w);
}

void FillDeviceIdentities(app::WindowModel& w, const platform::DeviceTree& tree) {
  app::Control& list = w.driveList();
  platform::DeviceQuery query;
  for (size_t row = 0; row < list.rows.size(); ++row) {
    query.prefixOf.push_back(Cell(list, row, kPnpIdColumn));
  }
  // The last matching device in tree order sets a row's cells.
  for (const std::string& id : tree.MatchingDevices(query)) {
    for (size_t row = 0; row < list.rows.size(); ++row) {
      if (!platform::BeginsWithDeviceId(Cell(list, row, kPnpIdColumn), id)) continue;
      std::string name = id;
      tree.FriendlyName(id, &name);
      SetCell(list, row, kFriendlyNameColumn, name);
      // A device without a parent (or grandparent) leaves the cell empty.
      std::string parent, grandParent;
      if (tree.Parent(id, &parent)) {
        SetCell(list, row, kFatherIdColumn, parent);
        if (tree.Parent(parent, &grandParent)) SetCell(list, row, kGrandFatherIdColumn, grandParent);
      }
    }
  }
}

void FillParentNames(app::WindowModel& w, const platform::DeviceTree& tree) {
  app::Control& list = w.driveList();
  platform::DeviceQuery query;
  for (size_t row = 0; row < list.rows.size(); ++row) {
    query.startingWith.push_back(Cell(list, row, kFatherIdColumn));
    query.startingWith.push_back(Cell(list, row, kGrandFatherIdColumn));
  }
  // The last matching device in tree order sets a row's names.
  for (const std::string& id : tree.MatchingDevices(query)) {
    for (size_t row = 0; row < list.rows.size(); ++row) {
      FillNameFromId(list, row, kFatherIdColumn, kFatherNameColumn, tree, id);
      FillNameFromId(list, row, kGrandFatherIdColumn, kGrandFatherNameColumn, tree, id);
    }
  }
}

void FillDriveGeometry(app::WindowModel& w) {
  app::Control& list = w.driveList();
  const platform::MachineSources& sources = w.management().sources();
  // One listing of the disks for all rows, made at the first row that needs it.
  std::optional<std::vector<platform::WholeDisk>> disks;
  for (size_t row = 0; row < list.rows.size(); ++row) {
    const std::string name = Cell(list, row, kDeviceNameColumn);
    if (!disks && platform::PhysicalDriveIndex(Lower(name)) >= 0) {
      disks = platform::ListWholeDisks(sources.sysRoot, sources.mountInfo);
    }
    platform::DiskGeometry g;
    const std::string path = platform::kDevicePrefix + name;
    if (!(disks ? platform::QueryGeometry(sources, *disks, path, &g)
                : QueryDriveGeometry(w, path, &g))) {
      continue;
    }
    const uint64_t capacity = static_cast<uint64_t>(g.cylinders) * g.tracksPerCylinder *
                              g.sectorsPerTrack * g.bytesPerSector;
    SetCell(list, row, kCapacityColumn, base::FormatDecimal(capacity));
    SetCell(list, row, kCylindersColumn, std::to_string(g.cylinders));
    SetCell(list, row, kCylindersColumn + 1, std::to_string(g.tracksPerCylinder));
    SetCell(list, row, kCylindersColumn + 2, std::to_string(g.sectorsPerTrack));
    SetCell(list, row, kCylindersColumn + 3, std::to_string(g.bytesPerSector));
  }
}

std::string DrivePathOf(app::WindowModel& w, const std::string& name) {
  const platform::MachineSources& sources = w.management().sources();
  const std::string bare = platform::StripDevicePrefix(name);
  const int number = platform::PhysicalDriveIndex(Lower(bare));
  if (number < 0) return bare;
  for (const platform::WholeDisk& disk : platform::ListWholeDisks(sources.sysRoot, sources.mountInfo)) {
    if (disk.number == number) return sources.devRoot + "/" + disk.name;
  }
  return "";
}

void FillDriveFacts(app::WindowModel& w) {
  app::Control& list = w.driveList();
  const platform::MachineSources& sources = w.management().sources();
  // One listing of the disks for all rows.
  std::vector<std::string> nodes;
  for (const platform::WholeDisk& disk : platform::ListWholeDisks(sources.sysRoot, sources.mountInfo)) {
    if (disk.number >= 0 && static_cast<size_t>(disk.number) < 4096) {
      if (nodes.size() <= static_cast<size_t>(disk.number)) nodes.resize(disk.number + 1);
      nodes[static_cast<size_t>(disk.number)] = sources.devRoot + "/" + disk.name;
    }
  }
  for (size_t row = 0; row < list.rows.size(); ++row) {
    const std::string name = Cell(list, row, kDeviceNameColumn);
    if (name.empty()) continue;
    const int number = platform::PhysicalDriveIndex(name);
    std::string path = name;
    if (number >= 0) path = static_cast<size_t>(number) < nodes.size() ? nodes[number] : "";
    if (path.empty()) continue;
    const platform::DriveFacts facts =
        platform::ReadDriveFacts(path, sources.sysRoot, sources.mountInfo);
    const bool disk = number >= 0 || platform::IsBlockDevice(path);
    SetCell(list, row, kModelColumn, facts.model);
    SetCell(list, row, kSizeColumn, facts.sizeBytes ? base::HumanSize(facts.sizeBytes) : "");
    SetCell(list, row, kRemovableColumn, disk ? (facts.removable ? "yes" : "no") : "");
    SetCell(list, row, kSystemColumn, facts.holdsRoot ? "yes" : "");
  }
}

bool QueryDriveGeometry(app::WindowModel& w, const std::string& path,
                        platform::DiskGeometry* geometry) {
  return platform::QueryGeometry(w.management().sources(), path, geometry);
}

void OnDiskInfo1(app::WindowModel& w) {
  app::BusyScope wait(w.shell());
  FillDriveList(w);
}

}  // namespace inventory
