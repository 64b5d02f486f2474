// Win32_LogicalDisk and Win32_LogicalDiskToPartition instances from the
// volumes and the mount table. (Not built yet: the classes have no instances.)
#include "platform/wbem.h"

namespace platform {
namespace {

class LogicalDiskProvider : public WbemProvider {
 public:
  bool Instances(const std::string& className, std::vector<WbemClassObject>*) override {
    return className == "Win32_LogicalDisk" || className == "Win32_LogicalDiskToPartition";
  }
};

}  // namespace

std::unique_ptr<WbemProvider> MakeLogicalDiskProvider(const MachineSources&) {
  return std::make_unique<LogicalDiskProvider>();
}

}  // namespace platform
