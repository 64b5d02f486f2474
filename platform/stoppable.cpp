#include "platform/stoppable.h"

namespace platform {
namespace {

class StoppableDevice : public Device {
 public:
  StoppableDevice(DeviceHandle inner, const StopSwitch& stop)
      : inner_(std::move(inner)), stop_(stop) {}

  bool Read(void* buffer, uint32_t count, uint32_t* got) override {
    if (stop_.requested()) {
      *got = 0;
      return true;
    }
    return inner_->Read(buffer, count, got);
  }
  bool Write(const void* buffer, uint32_t count, uint32_t* written) override {
    return inner_->Write(buffer, count, written);
  }
  bool Seek(uint64_t offset) override { return inner_->Seek(offset); }
  bool Skip(int64_t delta) override { return inner_->Skip(delta); }
  bool SeekEnd() override { return inner_->SeekEnd(); }
  uint64_t Position() const override { return inner_->Position(); }
  bool Flush() override { return inner_->Flush(); }
  bool Length(uint64_t* bytes) override { return inner_->Length(bytes); }
  void RereadPartitions() override { inner_->RereadPartitions(); }

 private:
  DeviceHandle inner_;
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
