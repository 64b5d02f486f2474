// What a person needs to tell drives apart: maker and model, serial number,
// size, whether the drive is removable, and whether it holds the running
// system. Read from sysfs, which needs no right to read the drive itself.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

struct DriveFacts {
  std::string model;       // vendor and model; an image file: its file name
  std::string serial;      // empty when the drive tells none
  bool removable = false;  // the disk's removable flag (cards, most sticks)
  bool holdsRoot = false;  // the file system mounted at / lies on it
  uint64_t sizeBytes = 0;  // 0 when unknown
};

// The facts of the whole disk `devicePath` (a device node such as /dev/sdb,
// found in <sysRoot>/block by its device number, or by its name when it lies
// in a folder named dev) or of an image
// file (its name and size). An attribute that is missing, empty or not plain
// text leaves its fact empty; nothing here fails.
DriveFacts ReadDriveFacts(const std::string& devicePath, const std::string& sysRoot = "/sys",
                          const std::string& mountInfo = "/proc/self/mountinfo");

// A sysfs attribute as a fact: its text with surrounding blanks cut, or
// empty when it is missing, unreadable, or holds anything but printable
// ASCII on one line.
std::string ReadTextAttribute(const std::string& file);

}  // namespace platform
