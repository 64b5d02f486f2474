// The scan's read cache over a device with unreadable sectors: every request
// answered as the device alone would answer it, bad data never kept, and a
// sector found unreadable not asked of the device again.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "carvers/read_cache.h"
#include "tests/support/fault_device.h"
#include "tests/support/fixtures.h"

namespace {

using testing_support::Bytes;
using testing_support::TempDir;
using testing_support::WriteFile;

constexpr uint32_t kBlock = 1u << 20;
constexpr uint64_t kBad = 2600;  // in the second block, its third chunk

Bytes Random(size_t bytes, unsigned seed) {
  std::mt19937 gen(seed);
  Bytes b(bytes);
  for (auto& x : b) x = static_cast<uint8_t>(gen());
  return b;
}

class ReadCacheTest : public ::testing::Test {
 protected:
  // 3.5 MiB: the last block is cut short by the end of the drive.
  void SetUp() override {
    image = Random(3 * kBlock + kBlock / 2, 7);
    WriteFile(dir / "card.img", image);
    plainDevice = platform::FaultyDevice::Open(dir / "card.img", {kBad});
    cachedDevice = platform::FaultyDevice::Open(dir / "card.img", {kBad});
    ASSERT_TRUE(plainDevice && cachedDevice);
  }
  carvers::CachedReader::Shape Shape(uint32_t ahead) const {
    carvers::CachedReader::Shape shape;
    shape.blockBytes = kBlock;
    shape.slots = 4;
    shape.ahead = ahead;
    return shape;
  }

  TempDir dir;
  Bytes image;
  std::unique_ptr<platform::FaultyDevice> plainDevice;
  std::unique_ptr<platform::FaultyDevice> cachedDevice;
};

struct Request {
  uint64_t offset;
  uint32_t count;
};

// Requests of a scan and its carvers: whole chunks, copy passes that start
// at any sector, look-ahead reads, single sectors, the drive's end.
const Request kRequests[] = {
    {0, 262144},
    {kBlock + 2 * 262144, 262144},             // holds the bad sector
    {kBlock + 262144, 262144},                  // the same block, clear of it
    {kBlock + 3 * 262144, 262144},              // likewise
    {(kBad - 1) * 512, 512},                    // beside it
    {kBad * 512, 512},                          // the sector itself
    {(kBad - 1) * 512, 1024},                   // across it
    {(kBad + 1) * 512, 262144},                 // just past it, into the next block
    {kBlock - 1024, 262144},                    // across a block boundary
    {2 * kBlock + 100, 777},                    // not sector-aligned
    {3 * kBlock + kBlock / 2 - 512, 262144},    // the last sector, cut short
    {3 * kBlock + kBlock / 2, 262144},          // at the end: 0 bytes
    {5 * kBlock, 512},                          // past the end
};

// Every request gives what the device alone gives, twice over (the second
// time from what the first left in memory), and the position stays.
TEST_F(ReadCacheTest, EveryRequestIsAnsweredAsTheDeviceAloneAnswersIt) {
  for (uint32_t ahead : {0u, 2u}) {
    SCOPED_TRACE(ahead);
    carvers::SourceReader plain(*plainDevice);
    carvers::CachedReader cached(*cachedDevice, Shape(ahead));
    ASSERT_TRUE(cached.cached());
    cachedDevice->Seek(12345);
    for (int round = 0; round < 2; ++round) {
      for (const Request& r : kRequests) {
        SCOPED_TRACE(r.offset);
        Bytes want(r.count, 0xAB), have(r.count, 0xAB);
        uint32_t wantGot = 0, haveGot = 0;
        const bool wantOk = plain.ReadAt(r.offset, want.data(), r.count, &wantGot);
        const bool haveOk = cached.ReadAt(r.offset, have.data(), r.count, &haveGot);
        ASSERT_EQ(haveOk, wantOk);
        if (!wantOk) {
          EXPECT_EQ(have, Bytes(r.count, 0xAB)) << "a failed read delivered bytes";
          continue;
        }
        EXPECT_EQ(haveGot, wantGot);
        EXPECT_TRUE(std::equal(have.begin(), have.begin() + haveGot, want.begin()));
      }
    }
    EXPECT_EQ(cachedDevice->Position(), 12345u);
  }
}

// A sector found unreadable by a read of its own is not read again, by a
// single sector, a pass that touches it, or a sector-by-sector retry; the
// readable sectors of its block are then served without new reads.
TEST_F(ReadCacheTest, AnUnreadableSectorIsReadOnceAndItsNeighboursAreKept) {
  carvers::CachedReader cached(*cachedDevice, Shape(0));
  Bytes buffer(262144);
  uint32_t got = 0;
  const uint64_t chunk = kBad / 512 * 512;
  EXPECT_FALSE(cached.ReadAt(chunk * 512, buffer.data(), 262144, &got));
  std::vector<uint32_t> bad;
  EXPECT_EQ(cached.ReadSectors(chunk * 512, buffer.data(), 512, &bad), 262144u);
  EXPECT_EQ(bad, std::vector<uint32_t>{static_cast<uint32_t>(kBad - chunk)});
  EXPECT_TRUE(cached.KnownUnreadable(kBad));
  EXPECT_TRUE(std::all_of(buffer.begin() + (kBad - chunk) * 512,
                          buffer.begin() + (kBad - chunk + 1) * 512, [](uint8_t b) { return b == 0; }));
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + (kBad - chunk) * 512,
                         image.begin() + chunk * 512));

  const uint64_t calls = cachedDevice->ReadCalls();
  // A copy pass starting in the chunk, then its sector retry.
  EXPECT_FALSE(cached.ReadAt((kBad - 10) * 512, buffer.data(), 262144, &got));
  bad.clear();
  cached.ReadSectors((kBad - 10) * 512, buffer.data(), 20, &bad);
  EXPECT_EQ(bad, std::vector<uint32_t>{10});
  EXPECT_EQ(cachedDevice->ReadCalls(), calls);
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + 10 * 512,
                         image.begin() + (kBad - 10) * 512));
}

// The scan walks the drive with a copy reaching ahead of it now and then:
// with the reader thread on, every byte comes from the device once.
TEST_F(ReadCacheTest, AScanWithCopiesAheadReadsEachBlockOnce) {
  auto healthy = platform::FaultyDevice::Open(dir / "card.img", {});
  carvers::CachedReader cached(*healthy, Shape(2));
  Bytes chunk(262144);
  for (uint64_t c = 0; c * 262144 < image.size(); ++c) {
    cached.SetFloor(c * 262144);
    uint32_t got = 0;
    ASSERT_TRUE(cached.ReadAt(c * 262144, chunk.data(), 262144, &got));
    ASSERT_TRUE(std::equal(chunk.begin(), chunk.begin() + got, image.begin() + c * 262144));
    if (c % 3 == 1) {  // a file of 1.2 MiB from the middle of this chunk
      for (uint64_t at = c * 262144 + 1024; at < c * 262144 + 1024 + 1258291; at += 262144) {
        ASSERT_TRUE(cached.ReadAt(at, chunk.data(), 262144, &got));
        ASSERT_TRUE(std::equal(chunk.begin(), chunk.begin() + got, image.begin() + at));
      }
    }
  }
  EXPECT_EQ(cached.deviceBytes(), 4u * kBlock);  // four block reads, the last cut short
}

}  // namespace
