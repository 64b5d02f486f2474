#include "tests/support/fault_device.h"

#include <algorithm>
#include <cerrno>

namespace platform {

FaultyDevice::FaultyDevice(DeviceHandle inner, std::set<uint64_t> badSectors)
    : DeviceWrapper(std::move(inner)), bad_(std::move(badSectors)) {}

std::unique_ptr<FaultyDevice> FaultyDevice::Open(const std::string& imagePath,
                                                 std::set<uint64_t> badSectors) {
  DeviceHandle inner = OpenPath(imagePath, Access::kReadWrite);
  if (!inner) return nullptr;
  return std::make_unique<FaultyDevice>(std::move(inner), std::move(badSectors));
}

bool FaultyDevice::Read(void* buffer, uint32_t count, uint32_t* got) {
  ++readCalls_;
  *got = 0;
  uint64_t length = 0;
  inner_->Length(&length);
  uint64_t begin = Position();
  uint64_t end = std::min<uint64_t>(begin + count, length);
  if (begin < end) {
    auto it = bad_.lower_bound(begin / kSectorSize);
    if (it != bad_.end() && *it * kSectorSize < end) {
      errno = EIO;
      return false;
    }
  }
  const bool ok = inner_->Read(buffer, count, got);
  readBytes_ += *got;
  return ok;
}

bool FaultyDevice::Write(const void* buffer, uint32_t count, uint32_t* written) {
  *written = 0;
  if (Position() + count > failWritesFrom_) return false;
  return inner_->Write(buffer, count, written);
}

}  // namespace platform
