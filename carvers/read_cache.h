// A source reader that keeps the recent blocks of a drive in memory and reads
// ahead of the scan on a thread of its own, so that the scan's chunks, the
// carvers' copies and the signature tests share one device read per block.
//
// The device contract stays as it is without the cache: a request that
// touches an unreadable sector fails whole and delivers nothing; the
// device's position is left alone; a block whose read failed is never kept
// as good data. A failed block read is split back into the requests asked
// for: each is read from the device on its own, so it fails or succeeds as it
// would alone. A sector found unreadable by a read of that sector alone is
// remembered for the run and not asked of the device again.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "base/chunk.h"
#include "carvers/carver.h"

namespace carvers {

class CachedReader : public SourceReader {
 public:
  struct Shape {
    uint32_t blockBytes = 1u << 20;  // a device read: a multiple of kChunkBytes
    uint32_t slots = 8;              // blocks kept
    uint32_t ahead = 4;              // blocks read ahead; 0: no reader thread
  };

  CachedReader(platform::Device& device, Shape shape);
  explicit CachedReader(platform::Device& device) : CachedReader(device, Shape{}) {}
  ~CachedReader() override;
  CachedReader(const CachedReader&) = delete;
  CachedReader& operator=(const CachedReader&) = delete;

  bool ReadAt(uint64_t offset, void* buffer, uint32_t count, uint32_t* got) override;
  bool KnownUnreadable(uint64_t sector) override;
  void MarkUnreadable(uint64_t firstSector, uint64_t sectors) override;

  // Tells where the scan is: nothing before `offset` is wanted again soon,
  // and the reader thread reads ahead from there. The block that holds
  // `offset` stays in memory until the next call.
  void SetFloor(uint64_t offset) override;
  // Returns: the `count` bytes at `offset` where they lie in memory, read
  // whole, when they are all within the block of the last SetFloor and
  // before the end of the drive; else null (ReadAt then says why). Valid
  // until the next SetFloor.
  const uint8_t* Borrow(uint64_t offset, uint32_t count);
  // Bytes asked of the device so far (reads that failed included).
  uint64_t deviceBytes() const;
  // Whether the blocks could be allocated (false: every read goes straight
  // to the device).
  bool cached() const { return !slots_.empty(); }

 private:
  enum class State { kEmpty, kLoading, kWhole, kFailed };
  struct Slot {
    uint8_t* data = nullptr;  // blockBytes in `memory_`
    uint64_t block = UINT64_MAX;
    State state = State::kEmpty;
    uint32_t valid = 0;         // kWhole: bytes up to the end of the drive
    std::vector<bool> have;     // kFailed: sectors read on their own since
    uint64_t lastUse = 0;
  };

  Slot* Find(uint64_t block);
  // Returns a slot holding `block` whole or failed, reading it when needed;
  // null when no slot could be freed. Called and returns with `lock` held.
  Slot* Load(uint64_t block, std::unique_lock<std::mutex>& lock, bool demand);
  Slot* Victim(bool demand);
  bool TouchesBad(uint64_t first, uint64_t end) const;  // sectors [first, end)
  void AddBad(uint64_t first, uint64_t end);
  bool DeviceRead(uint64_t offset, uint8_t* buffer, uint32_t count, uint32_t* got);
  void ReadAhead();
  // Waits, with `lock` held on entry and on return, until another block
  // read may have ended (spurious returns allowed: callers look again).
  void WaitForLoad(std::unique_lock<std::mutex>& lock);

  Shape shape_;
  uint32_t blockSectors_;
  uint64_t deviceLength_ = UINT64_MAX;
  base::AlignedBuffer memory_;
  std::vector<Slot> slots_;
  std::map<uint64_t, uint64_t> bad_;  // unreadable sectors: first -> end, disjoint
  uint64_t floorBlock_ = 0;
  uint64_t demandBlock_ = 0;
  uint64_t clock_ = 0;
  uint64_t deviceBytes_ = 0;
  std::atomic<uint64_t> loadsDone_{0};  // block reads ended so far
  bool stop_ = false;
  mutable std::mutex mu_;
  std::condition_variable changed_;
  std::mutex deviceMu_;
  std::thread thread_;
};

}  // namespace carvers
