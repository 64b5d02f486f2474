#include "tests/support/loop_device.h"

#include "tests/support/run.h"

namespace testing_support {

LoopDevice::LoopDevice(const std::string& image) : LoopDevice(image, "") {}

LoopDevice::LoopDevice(const std::string& image, const std::string& options) {
  std::string out;
  if (Shell("losetup --find --show " + options + " " + Quote(image) + " 2>/dev/null", &out)) {
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    node_ = out;
  }
}

LoopDevice::~LoopDevice() {
  if (!node_.empty()) Shell("losetup -d " + node_ + " 2>/dev/null");
}

}  // namespace testing_support
