#include "tests/support/loop_device.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cstdio>

#include "platform/devtree.h"
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

std::string MakePartitionNode(const LoopDevice& disk, int n, const std::string& folder) {
  const std::string name = disk.name() + "p" + std::to_string(n);
  const std::string devFile = "/sys/block/" + disk.name() + "/" + name + "/dev";
  std::string number;
  // The partition scan of losetup -P does not always add them here: partx
  // adds them from the table.
  if (!platform::ReadAttribute(devFile, &number)) {
    Shell("partx -a " + Quote(disk.node()) + " 2>/dev/null");
    platform::ReadAttribute(devFile, &number);
  }
  unsigned major = 0, minor = 0;
  if (std::sscanf(number.c_str(), "%u:%u", &major, &minor) != 2) return "";
  const std::string node = folder + "/" + name;
  if (::mknod(node.c_str(), S_IFBLK | 0600, ::makedev(major, minor)) != 0) return "";
  return node;
}

TwoPartitionDisk::TwoPartitionDisk(const std::string& image, const std::string& folder) {
  partitioned = Shell("printf 'start=2048, size=8192\\nstart=10240, size=14336\\n' | sfdisk -q " +
                      Quote(image) + " >/dev/null 2>&1");
  if (!partitioned) return;
  disk = std::make_unique<LoopDevice>(image, "-P");
  if (disk->node().empty()) return;
  part1 = MakePartitionNode(*disk, 1, folder);
  part2 = MakePartitionNode(*disk, 2, folder);
}

Ext4Mount::Ext4Mount(const std::string& node, const std::string& folder) : folder_(folder) {
  mounted_ = Shell("mkfs.ext4 -q -F " + Quote(node) + " >/dev/null 2>&1") &&
             Shell("mkdir -p " + Quote(folder) + " && mount " + Quote(node) + " " + Quote(folder));
}

Ext4Mount::~Ext4Mount() {
  if (mounted_) Shell("umount " + Quote(folder_) + " 2>/dev/null");
}

}  // namespace testing_support
