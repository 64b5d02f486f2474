// A loop device over an image file, for tests that need a real block
// device (root only). Detached when the object goes.
#pragma once

#include <memory>
#include <string>

namespace testing_support {

class LoopDevice {
 public:
  explicit LoopDevice(const std::string& image);
  // With more losetup options, such as "-P" (scan partitions) or
  // "--offset 4096 --sizelimit 8192".
  LoopDevice(const std::string& image, const std::string& options);
  ~LoopDevice();
  LoopDevice(const LoopDevice&) = delete;
  LoopDevice& operator=(const LoopDevice&) = delete;
  // The device node (/dev/loopN), empty when it could not be attached.
  const std::string& node() const { return node_; }
  // loopN
  std::string name() const { return node_.substr(node_.rfind('/') + 1); }

 private:
  std::string node_;
};

// A device node in `folder` for partition `n` of `disk` (attached with -P),
// made with mknod from its device number, as there is no udev to make one.
// Returns: the node's path, or empty when the partition is not there.
std::string MakePartitionNode(const LoopDevice& disk, int n, const std::string& folder);

// The image file `image` (24576 sectors) given a table of two partitions,
// sectors 2048-10239 and 10240-24575, and attached with them; their nodes are
// made in `folder`. Members stay empty (or null) where a step failed.
struct TwoPartitionDisk {
  TwoPartitionDisk(const std::string& image, const std::string& folder);
  bool partitioned = false;           // the table was written
  std::unique_ptr<LoopDevice> disk;   // attached with -P (its node() empty if not)
  std::string part1, part2;
};

// A fresh ext4 file system made on `node` and mounted at `folder` (made when
// missing) for the object's life; unmounted when it goes.
class Ext4Mount {
 public:
  Ext4Mount(const std::string& node, const std::string& folder);
  ~Ext4Mount();
  Ext4Mount(const Ext4Mount&) = delete;
  Ext4Mount& operator=(const Ext4Mount&) = delete;
  // Whether the file system was made and mounted.
  bool ready() const { return mounted_; }

 private:
  std::string folder_;
  bool mounted_ = false;
};

}  // namespace testing_support
