// SHA-256 (FIPS 180-4), for the digests of recovered files in a run's report.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace base {

class Sha256 {
 public:
  Sha256();
  // Adds `count` bytes to the message.
  void Update(const void* data, size_t count);
  // Returns: the digest of everything added, as 64 lower-case hex digits.
  // The object is spent afterwards.
  std::string HexDigest();

 private:
  void Block(const uint8_t* block);
  std::array<uint32_t, 8> h_;
  uint8_t buffer_[64];
  size_t buffered_ = 0;
  uint64_t length_ = 0;
};

}  // namespace base
