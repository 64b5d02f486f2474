#include "platform/drive_model_serial.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <fstream>

#include "platform/overlap.h"

namespace platform {
namespace {

std::string FirstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  const size_t first = line.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  const size_t last = line.find_last_not_of(" \t\r");
  return line.substr(first, last - first + 1);
}

}  // namespace

ModelSerial DriveModelSerial(const std::string& path, const std::string& sysRoot) {
  ModelSerial result;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return result;
  const std::string name = BlockNameOfDevice(major(st.st_rdev), minor(st.st_rdev), sysRoot);
  if (name.empty()) return result;
  std::string block = sysRoot + "/class/block/" + name;
  // A partition has no device folder of its own: its disk is the folder
  // above it.
  std::ifstream partition(block + "/partition");
  if (partition.good()) block += "/..";
  result.model = FirstLine(block + "/device/model");
  result.serial = FirstLine(block + "/device/serial");
  if (result.serial.empty()) result.serial = FirstLine(block + "/device/wwid");
  return result;
}

}  // namespace platform
