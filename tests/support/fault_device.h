// A device over an image file on which chosen sectors cannot be read, as on
// a failing drive: a read that touches one of them fails whole, leaving the
// caller's buffer and the position as they were. Writes can be made to fail
// from a chosen byte offset on, as on a drive that was pulled or is full.
#pragma once

#include <cstdint>
#include <set>
#include <string>

#include "platform/device.h"

namespace platform {

class FaultyDevice : public DeviceWrapper {
 public:
  FaultyDevice(DeviceHandle inner, std::set<uint64_t> badSectors);

  // Opens `imagePath` for reading and writing; null when it cannot be opened.
  static std::unique_ptr<FaultyDevice> Open(const std::string& imagePath,
                                            std::set<uint64_t> badSectors);

  void FailWritesFrom(uint64_t offset) { failWritesFrom_ = offset; }
  uint64_t ReadCalls() const { return readCalls_; }
  // Bytes delivered by reads so far.
  uint64_t ReadBytes() const { return readBytes_; }

  bool Read(void* buffer, uint32_t count, uint32_t* got) override;
  bool Write(const void* buffer, uint32_t count, uint32_t* written) override;

 private:
  std::set<uint64_t> bad_;
  uint64_t failWritesFrom_ = UINT64_MAX;
  uint64_t readCalls_ = 0;
  uint64_t readBytes_ = 0;
};

}  // namespace platform
