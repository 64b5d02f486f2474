// Win32_DiskDrive instances from the drive inventory. (Not built yet: the
// class has no instances.)
#include "platform/wbem.h"

namespace platform {
namespace {

class DiskDriveProvider : public WbemProvider {
 public:
  bool Instances(const std::string& className, std::vector<WbemClassObject>*) override {
    return className == "Win32_DiskDrive";
  }
};

}  // namespace

std::unique_ptr<WbemProvider> MakeDiskDriveProvider(const MachineSources&) {
  return std::make_unique<DiskDriveProvider>();
}

}  // namespace platform
