#include "carvers/carver.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/fs.h"
#include "base/numbers.h"

namespace carvers {
namespace {

struct FreeDeleter {
  void operator()(uint8_t* p) const { std::free(p); }
};

}  // namespace

std::string OutputPath(const std::string& folder, uint64_t sector, const char* extension) {
  return folder + "/" + base::FormatDecimal(sector) + "." + extension;
}

uint32_t ReadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint64_t SectorsFor(uint64_t bytes) {
  return bytes / platform::kSectorSize + (bytes % platform::kSectorSize != 0 ? 1 : 0);
}

uint32_t MarkerEnd::EndOfPass(uint8_t* buffer, uint32_t count, uint64_t& remaining) {
  int32_t f = base::FindMarker(buffer, static_cast<int32_t>(count), marker_, length_);
  if (static_cast<uint32_t>(f) > count) return count;
  remaining = 0;
  return static_cast<uint32_t>(f + length_ - 1);
}

bool MatchesAt(uint64_t sector, platform::Device& device, SectorBytes bytes, size_t offset,
               const uint8_t* expected, size_t length) {
  if (offset + length <= bytes.available) {
    return std::memcmp(bytes.data + offset, expected, length) == 0;
  }
  // Read the sectors that hold the bytes, then put the position back.
  const size_t first = offset / platform::kSectorSize;
  const size_t last = (offset + length - 1) / platform::kSectorSize;
  alignas(512) uint8_t ahead[2 * platform::kSectorSize];
  const uint32_t want = static_cast<uint32_t>((last - first + 1) * platform::kSectorSize);
  if (want > sizeof(ahead)) return false;
  const uint64_t saved = device.Position();
  device.Seek((sector + first) * platform::kSectorSize);
  uint32_t got = 0;
  bool ok = device.Read(ahead, want, &got);
  device.Seek(saved);
  const size_t at = offset - first * platform::kSectorSize;
  return ok && got >= at + length && std::memcmp(ahead + at, expected, length) == 0;
}

bool RenameInFolder(const std::string& path, const std::string& folder, const std::string& name,
                    const char* extension) {
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
    return false;
  }
  return platform::RenameNoReplace(path, folder + "/" + name + "." + extension);
}

int CopyOut(uint64_t sector, platform::Device& device, const std::string& folder,
            const char* extension, uint64_t boundSectors, CopyRules& rules, Owner& owner) {
  const std::string path = OutputPath(folder, sector, extension);
  const uint64_t saved = device.Position();
  device.Seek(sector * platform::kSectorSize);

  platform::DeviceHandle out = folder.empty() ? nullptr : platform::CreateOutputFile(path);
  if (!out) {
    owner.MessageBox(path, "Create File failed !", platform::Buttons::kOk,
                     platform::BoxKind::kError);
    device.Seek(saved);
    return 0;
  }

  // The copy buffer starts zeroed: a first read shorter than an end marker
  // then yields zeros, never bytes left in memory by something else.
  std::unique_ptr<uint8_t, FreeDeleter> buffer(
      static_cast<uint8_t*>(std::calloc(kChunkBytes, 1)));
  if (!buffer) {
    out.reset();
    device.Seek(saved);
    return 0;
  }
  uint64_t remaining = boundSectors;
  while (remaining > 0) {
    uint64_t passSectors = remaining >= kChunkSectors ? kChunkSectors : remaining;
    remaining -= passSectors;
    uint32_t got = 0;
    device.Read(buffer.get(), static_cast<uint32_t>(passSectors * platform::kSectorSize), &got);
    uint32_t count = rules.EndOfPass(buffer.get(), got, remaining);
    uint32_t written = 0;
    out->Write(buffer.get(), count, &written);
  }
  out.reset();
  rules.AfterClose(path);
  device.Seek(saved);
  return 1;
}

}  // namespace carvers
