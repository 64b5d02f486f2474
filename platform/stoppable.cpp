#include "platform/stoppable.h"

namespace platform {
namespace {

class StoppableDevice : public DeviceWrapper {
 public:
  StoppableDevice(DeviceHandle inner, const StopSwitch& stop)
      : DeviceWrapper(std::move(inner)), stop_(stop) {}

  bool Read(void* buffer, uint32_t count, uint32_t* got) override {
    if (stop_.requested()) {
      *got = 0;
      return true;
    }
    return inner_->Read(buffer, count, got);
  }

 private:
  const StopSwitch& stop_;
};

}  // namespace

DeviceHandle MakeStoppable(DeviceHandle device, const StopSwitch& stop) {
  if (!device) return nullptr;
  return std::make_unique<StoppableDevice>(std::move(device), stop);
}

DeviceHandle StoppableOpener::Open(const std::string& path, Access access) {
  return MakeStoppable(DeviceOpener::Open(path, access), stop_);
}

}  // namespace platform
