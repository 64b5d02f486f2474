// The physical drive list: the drives the management service reports, with
// their device names, identities, parents, geometry and capacity. Built in
// stages that hand over through the window: connect to the namespace, list
// the drives' object paths into the hidden output list, then fill the drive
// list from those paths.
#pragma once

#include <cstdint>
#include <string>

#include "window/window_model.h"
#include "platform/devtree.h"
#include "platform/device.h"
#include "platform/wbem.h"

namespace inventory {

// Drive-list columns the other commands read.
constexpr size_t kDeviceNameColumn = 0;
constexpr size_t kPnpIdColumn = 1;
constexpr size_t kFriendlyNameColumn = 2;
constexpr size_t kFatherIdColumn = 3;
constexpr size_t kGrandFatherIdColumn = 4;
constexpr size_t kFatherNameColumn = 5;
constexpr size_t kGrandFatherNameColumn = 6;
constexpr size_t kCapacityColumn = 7;
constexpr size_t kCylindersColumn = 8;
constexpr size_t kLogicalDriveLetterColumn = 12;
// After the columns above, what tells drives apart (platform::DriveFacts).
constexpr size_t kModelColumn = 13;      // vendor and model, or the image's file name
constexpr size_t kSizeColumn = 14;       // "31.9 GB"
constexpr size_t kRemovableColumn = 15;  // "yes" / "no"
constexpr size_t kSystemColumn = 16;     // "yes" on the drive holding /
constexpr size_t kDriveListColumnCount = 17;

// "text(0x8004100e)": the text followed by the status in eight lower-case
// hexadecimal digits.
std::string HresultMessage(const std::string& text, platform::HRESULT status);

void InitDriveListColumns(app::WindowModel& w);
bool ConnectNamespace(app::WindowModel& w);
bool ListDiskDrives(app::WindowModel& w);
bool ConnectAndListDisks(app::WindowModel& w);
void FillDriveList(app::WindowModel& w);
// Name, father and grandfather ids of each row from the last present device
// (in tree order) that its PNP id begins with; walks only toward those ids.
void FillDeviceIdentities(app::WindowModel& w, const platform::DeviceTree& tree);
// Father and grandfather names of each row from the last present device that
// begins with its (non-empty) father / grandfather id; walks only near them.
void FillParentNames(app::WindowModel& w, const platform::DeviceTree& tree);
void FillDriveGeometry(app::WindowModel& w);
void FillDriveFacts(app::WindowModel& w);
// The device node or file a drive-list name stands for, with the machine
// the window lists (physicaldriveN by the drive numbers); empty when unknown.
std::string DrivePathOf(app::WindowModel& w, const std::string& name);
bool QueryDriveGeometry(app::WindowModel& w, const std::string& path,
                        platform::DiskGeometry* geometry);
void OnDiskInfo1(app::WindowModel& w);

// The drive-list device name for a management DeviceID: "\\.\PHYSICALDRIVE1"
// gives "physicaldrive1". A DeviceID that names a path (an attached image)
// keeps the case of its path, which would not open otherwise.
std::string DeviceNameOf(const std::string& deviceId);

}  // namespace inventory
