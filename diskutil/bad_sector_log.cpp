#include "diskutil/bad_sector_log.h"

#include "platform/device.h"

namespace diskutil {

bool AppendBadSectorLog(const std::string& record) {
  platform::DeviceHandle log = platform::OpenExistingFile(kBadSectorLog);
  if (!log) return false;
  const std::string line = record + "\r\n";
  uint32_t written = 0;
  if (log->SeekEnd()) log->Write(line.data(), static_cast<uint32_t>(line.size()), &written);
  return true;
}

void ClearBadSectorLog() { platform::CreateOutputFile(kBadSectorLog); }

}  // namespace diskutil
