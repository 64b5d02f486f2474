#include "diskutil/bad_sector_log.h"

#include "platform/device.h"

namespace diskutil {

bool AppendBadSectorLog(const std::string& record) {
  platform::DeviceHandle log = platform::OpenLogFile(kBadSectorLog, false);
  if (!log) return false;
  const std::string line = record + "\r\n";
  uint32_t written = 0;
  return log->Write(line.data(), static_cast<uint32_t>(line.size()), &written) &&
         written == line.size();
}

void ClearBadSectorLog() { platform::OpenLogFile(kBadSectorLog, true); }

}  // namespace diskutil
