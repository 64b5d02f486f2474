// Drive numbers that do not move: physicaldriveN is given to a disk when it
// is first seen (the lowest number free) and kept while it stays attached,
// in a per-boot table keyed by the kernel's disk sequence number
// (/sys/block/X/diskseq, never reused within a boot). A number is freed when
// its disk is gone. The table lives in /run/lumisave for root, else
// $XDG_RUNTIME_DIR/lumisave ($LUMISAVE_RUNTIME_DIR overrides both), and is
// locked (flock) while it is read and written back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// The folder of the table; empty when there is none to use.
std::string DriveNumberFolder();

// The numbers of the disks with these sequence numbers (in the order given,
// which is the order first-seen disks take the free numbers in), from the
// table in `folder`, which is updated: disks no longer present are dropped,
// new ones added. A missing, unreadable or garbled table is started afresh.
// Empty when the table cannot be opened or locked.
std::vector<int> NumberDisks(const std::vector<uint64_t>& diskSeqs, const std::string& folder);

}  // namespace platform
