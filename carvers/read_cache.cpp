#include "carvers/read_cache.h"

#include <cerrno>
#include <chrono>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "platform/big_buffer.h"

namespace carvers {
namespace {

constexpr uint64_t kSector = platform::kSectorSize;

}  // namespace

CachedReader::CachedReader(platform::Device& device, Shape shape)
    : SourceReader(device), shape_(shape) {
  if (shape_.blockBytes < kChunkBytes || shape_.blockBytes % kChunkBytes != 0) {
    shape_.blockBytes = kChunkBytes;
  }
  if (shape_.slots < 2) shape_.slots = 2;
  if (shape_.ahead >= shape_.slots) shape_.ahead = shape_.slots / 2;
  blockSectors_ = static_cast<uint32_t>(shape_.blockBytes / kSector);
  uint64_t length = 0;
  if (device.Length(&length)) deviceLength_ = length;
  memory_ = platform::AllocateBigBuffer(static_cast<size_t>(shape_.slots) * shape_.blockBytes);
  if (!memory_) return;
  slots_.resize(shape_.slots);
  for (size_t i = 0; i < slots_.size(); ++i) {
    slots_[i].data = memory_.get() + i * shape_.blockBytes;
  }
  if (shape_.ahead > 0) thread_ = std::thread([this] { ReadAhead(); });
}

CachedReader::~CachedReader() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stop_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

uint64_t CachedReader::deviceBytes() const {
  std::lock_guard<std::mutex> lock(mu_);
  return deviceBytes_;
}

bool CachedReader::DeviceRead(uint64_t offset, uint8_t* buffer, uint32_t count, uint32_t* got) {
  std::lock_guard<std::mutex> lock(deviceMu_);
  platform::Device& device = this->device();
  const uint64_t saved = device.Position();
  device.Seek(offset);
  errno = 0;
  const bool ok = device.Read(buffer, count, got);
  const int error = errno;
  device.Seek(saved);
  if (!ok) {
    *got = 0;
    error_ = error != 0 ? error : EIO;
  }
  std::lock_guard<std::mutex> state(mu_);
  deviceBytes_ += count;
  return ok;
}

bool CachedReader::TouchesBad(uint64_t first, uint64_t end) const {
  auto it = bad_.upper_bound(first);
  if (it != bad_.begin()) {
    auto before = std::prev(it);
    if (before->second > first) return true;
  }
  return it != bad_.end() && it->first < end;
}

void CachedReader::AddBad(uint64_t first, uint64_t end) {
  if (first >= end) return;
  auto it = bad_.upper_bound(first);
  if (it != bad_.begin() && std::prev(it)->second >= first) {
    --it;
    first = it->first;
    if (it->second > end) end = it->second;
    it = bad_.erase(it);
  }
  while (it != bad_.end() && it->first <= end) {
    if (it->second > end) end = it->second;
    it = bad_.erase(it);
  }
  bad_.emplace(first, end);
}

bool CachedReader::KnownUnreadable(uint64_t sector) {
  std::lock_guard<std::mutex> lock(mu_);
  return TouchesBad(sector, sector + 1);
}

void CachedReader::MarkUnreadable(uint64_t firstSector, uint64_t sectors) {
  std::lock_guard<std::mutex> lock(mu_);
  AddBad(firstSector, firstSector + sectors);
}

void CachedReader::SetFloor(uint64_t offset) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    const uint64_t block = offset / shape_.blockBytes;
    // The reader thread has nothing new to do until the scan enters
    // another block: a wake-up per chunk would cost a system call each.
    if (block == floorBlock_) return;
    floorBlock_ = block;
  }
  changed_.notify_all();
}

const uint8_t* CachedReader::Borrow(uint64_t offset, uint32_t count) {
  if (slots_.empty() || count == 0) return nullptr;
  const uint64_t block = offset / shape_.blockBytes;
  const uint64_t from = offset - block * shape_.blockBytes;
  std::unique_lock<std::mutex> lock(mu_);
  if (block != floorBlock_ || from + count > shape_.blockBytes) return nullptr;
  const uint64_t first = offset / kSector;
  if (TouchesBad(first, first + (count + kSector - 1) / kSector)) return nullptr;
  Slot* slot = Load(block, lock, true);
  if (slot == nullptr || slot->block != block || slot->state != State::kWhole ||
      slot->valid < from + count) {
    return nullptr;
  }
  return slot->data + from;
}

CachedReader::Slot* CachedReader::Find(uint64_t block) {
  for (Slot& slot : slots_) {
    if (slot.state != State::kEmpty && slot.block == block) return &slot;
  }
  return nullptr;
}

CachedReader::Slot* CachedReader::Victim(bool demand) {
  Slot* best = nullptr;
  // Blocks behind the scan go first, the farthest behind first; a slot never
  // used only after them, so that a scan takes only the memory it needs.
  for (Slot& slot : slots_) {
    if (slot.state == State::kEmpty || slot.state == State::kLoading ||
        slot.block >= floorBlock_) {
      continue;
    }
    if (best == nullptr || slot.block < best->block) best = &slot;
  }
  if (best != nullptr) return best;
  for (Slot& slot : slots_) {
    if (slot.state == State::kEmpty) return &slot;
  }
  // Then the block used longest ago; the reader thread leaves alone the
  // blocks just ahead of the scan and of the last request.
  for (Slot& slot : slots_) {
    if (slot.state == State::kLoading || slot.block == floorBlock_) continue;
    if (!demand && (slot.block - floorBlock_ < shape_.ahead ||
                    slot.block - demandBlock_ <= shape_.ahead)) {
      continue;
    }
    if (best == nullptr || slot.lastUse < best->lastUse) best = &slot;
  }
  return best;
}

CachedReader::Slot* CachedReader::Load(uint64_t block, std::unique_lock<std::mutex>& lock,
                                       bool demand) {
  for (;;) {
    Slot* slot = Find(block);
    if (slot == nullptr) break;
    if (slot->state != State::kLoading) {
      slot->lastUse = ++clock_;
      return slot;
    }
    WaitForLoad(lock);
  }
  Slot* slot = Victim(demand);
  if (slot == nullptr) return nullptr;
  slot->block = block;
  slot->lastUse = ++clock_;
  slot->valid = 0;
  slot->have.assign(blockSectors_, false);
  const uint64_t offset = block * shape_.blockBytes;
  const uint64_t first = block * blockSectors_;
  if (offset >= deviceLength_) {
    slot->state = State::kWhole;
    return slot;
  }
  if (TouchesBad(first, first + blockSectors_)) {
    // Known to fail: not asked of the device again.
    slot->state = State::kFailed;
    return slot;
  }
  slot->state = State::kLoading;
  uint8_t* data = slot->data;
  lock.unlock();
  uint32_t got = 0;
  const bool ok = DeviceRead(offset, data, shape_.blockBytes, &got);
  lock.lock();
  slot->state = ok ? State::kWhole : State::kFailed;
  slot->valid = ok ? got : 0;
  loadsDone_.fetch_add(1, std::memory_order_release);
  changed_.notify_all();
  return slot;
}

void CachedReader::WaitForLoad(std::unique_lock<std::mutex>& lock) {
  // A block read from the page cache takes about a tenth of a millisecond:
  // waiting that long without sleeping spares the scan a sleep and a wake-up
  // per block. A read from a drive takes longer, and then the scan sleeps.
  const uint64_t seen = loadsDone_.load(std::memory_order_acquire);
  lock.unlock();
  const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(300);
  bool done = false;
  for (uint32_t i = 1; !done; ++i) {
    done = loadsDone_.load(std::memory_order_acquire) != seen;
    if (!done && i % 64 == 0 && std::chrono::steady_clock::now() >= until) break;
#ifdef __SSE2__
    _mm_pause();
#endif
  }
  lock.lock();
  // A read ends under the lock: looked at again here, none can end unseen
  // between this look and the wait.
  if (loadsDone_.load(std::memory_order_acquire) == seen) changed_.wait(lock);
}

bool CachedReader::ReadAt(uint64_t offset, void* buffer, uint32_t count, uint32_t* got) {
  *got = 0;
  uint8_t* out = static_cast<uint8_t*>(buffer);
  const uint64_t end = offset + count;
  const uint64_t firstSector = offset / kSector;
  const uint64_t endSector = (end + kSector - 1) / kSector;
  std::unique_lock<std::mutex> lock(mu_);
  if (count > 0 && TouchesBad(firstSector, endSector)) {
    error_ = EIO;
    return false;
  }
  std::vector<Slot*> pieces;
  bool missing = slots_.empty() || count > shape_.blockBytes;
  const uint64_t firstBlock = offset / shape_.blockBytes;
  const uint64_t lastBlock = count == 0 ? firstBlock : (end - 1) / shape_.blockBytes;
  if (!missing) {
    if (lastBlock != demandBlock_) {
      demandBlock_ = lastBlock;
      changed_.notify_all();
    }
    for (uint64_t b = firstBlock; b <= lastBlock; ++b) {
      Slot* slot = Load(b, lock, true);
      if (slot == nullptr) {
        missing = true;
        break;
      }
      pieces.push_back(slot);
    }
  }
  // Every block must still be held and cover its piece before anything is
  // delivered: a request is served whole from memory or read as asked.
  if (!missing) {
    for (size_t i = 0; i < pieces.size() && !missing; ++i) {
      Slot* slot = pieces[i];
      const uint64_t b = firstBlock + i;
      if (slot->block != b || slot->state == State::kLoading || slot->state == State::kEmpty) {
        missing = true;
      } else if (slot->state == State::kFailed) {
        const uint64_t blockStart = b * shape_.blockBytes;
        const uint64_t from = (offset > blockStart ? offset : blockStart) - blockStart;
        const uint64_t blockEnd = blockStart + shape_.blockBytes;
        const uint64_t to = (end < blockEnd ? end : blockEnd) - blockStart;
        for (uint64_t s = from / kSector; s < (to + kSector - 1) / kSector; ++s) {
          if (!slot->have[s]) {
            missing = true;
            break;
          }
        }
      }
    }
  }
  if (!missing) {
    uint32_t done = 0;
    for (size_t i = 0; i < pieces.size(); ++i) {
      const Slot* slot = pieces[i];
      const uint64_t blockStart = (firstBlock + i) * shape_.blockBytes;
      const uint64_t from = offset + done - blockStart;
      const uint64_t blockEnd = blockStart + shape_.blockBytes;
      const uint64_t to = (end < blockEnd ? end : blockEnd) - blockStart;
      uint64_t take = to - from;
      const bool whole = slot->state == State::kWhole;
      if (whole) {
        take = from >= slot->valid ? 0 : (to < slot->valid ? to : slot->valid) - from;
      }
      std::memcpy(out + done, slot->data + from, take);
      done += static_cast<uint32_t>(take);
      if (whole && slot->valid < shape_.blockBytes && to > slot->valid) break;  // the end
    }
    *got = done;
    return true;
  }
  // Read as asked, from the device.
  lock.unlock();
  const bool ok = DeviceRead(offset, out, count, got);
  lock.lock();
  if (!ok) {
    if (endSector - firstSector == 1) AddBad(firstSector, endSector);
    return false;
  }
  // Whole sectors this read brought keep their place in a block that failed.
  const uint64_t readEnd = offset + *got;
  for (uint64_t s = firstSector; s < endSector; ++s) {
    if (s * kSector < offset || (s + 1) * kSector > readEnd) continue;
    Slot* slot = slots_.empty() ? nullptr : Find(s / blockSectors_);
    if (slot == nullptr || slot->state != State::kFailed) continue;
    const uint64_t at = s % blockSectors_;
    std::memcpy(slot->data + at * kSector, out + (s * kSector - offset), kSector);
    slot->have[at] = true;
  }
  return true;
}

void CachedReader::ReadAhead() {
  std::unique_lock<std::mutex> lock(mu_);
  uint64_t endBlock = deviceLength_ == UINT64_MAX
                          ? UINT64_MAX
                          : (deviceLength_ + shape_.blockBytes - 1) / shape_.blockBytes;
  while (!stop_) {
    uint64_t target = UINT64_MAX;
    for (uint64_t base : {floorBlock_, demandBlock_ + 1}) {
      for (uint64_t k = 0; k < shape_.ahead && target == UINT64_MAX; ++k) {
        const uint64_t b = base + k;
        if (b >= endBlock) break;
        // A copy that asked for blocks the scan has passed since is done
        // with them: nothing behind the scan is read ahead.
        if (b < floorBlock_) continue;
        if (Find(b) == nullptr) target = b;
      }
      if (target != UINT64_MAX) break;
    }
    if (target == UINT64_MAX || gone()) {
      changed_.wait(lock);
      continue;
    }
    Slot* slot = Load(target, lock, false);
    if (slot == nullptr) {
      changed_.wait(lock);
      continue;
    }
    if (slot->state == State::kWhole && slot->valid < shape_.blockBytes && target < endBlock) {
      endBlock = target + 1;
    }
  }
}

}  // namespace carvers
