#include "carvers/carver.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "scan/numbers.h"

namespace carvers {
namespace {

struct FreeDeleter {
  void operator()(uint8_t* p) const { std::free(p); }
};

}  // namespace

std::string OutputPath(const std::string& folder, uint64_t sector, const char* extension) {
  return folder + "/" + scan::FormatDecimal(sector) + "." + extension;
}

uint32_t ReadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint64_t SectorsFor(uint64_t bytes) {
  return bytes / platform::kSectorSize + (bytes % platform::kSectorSize != 0 ? 1 : 0);
}

int CopyOut(uint64_t sector, platform::Device& device, const std::string& folder,
            const char* extension, uint64_t boundSectors, CopyRules& rules, Owner& owner) {
  const std::string path = OutputPath(folder, sector, extension);
  const uint64_t saved = device.Position();
  device.Seek(sector * platform::kSectorSize);

  platform::DeviceHandle out = platform::CreateOutputFile(path);
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
