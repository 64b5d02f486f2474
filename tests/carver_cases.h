// Helpers shared by the carver tests: headers built byte by byte, a carver
// run on a small image, real files written by the system's own tools.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/main_dlg.h"
#include "carvers/carver.h"
#include "platform/device.h"
#include "tests/support/fault_device.h"
#include "tests/support/carve.h"
#include "tests/support/fixtures.h"
#include "tests/support/run.h"
#include "tests/support/scripted_shell.h"
#include "tests/support/test_window.h"

namespace carver_cases {

using testing_support::Bytes;

// `size` bytes of a pattern that holds no signature, end marker or zero.
inline Bytes Filler(size_t size) {
  Bytes b(size);
  for (size_t i = 0; i < size; ++i) b[i] = static_cast<uint8_t>(0x60 + i % 23);
  return b;
}

inline void Put(Bytes& b, size_t offset, const std::string& text) {
  if (b.size() < offset + text.size()) b.resize(offset + text.size());
  std::memcpy(b.data() + offset, text.data(), text.size());
}

inline void PutLe32(Bytes& b, size_t offset, uint32_t v) {
  Put(b, offset,
      std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                  static_cast<char>(v >> 24)});
}

inline std::string Raw(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s.push_back(static_cast<char>(b));
  return s;
}

// A small file of each carved type (by its command-line name), 4 sectors
// long, that its carver takes: the signature and, where the type has one,
// a size field of 2048 bytes or an end marker at its end.
inline Bytes SampleFile(const std::string& type) {
  Bytes b = Filler(2048);
  auto head = [&b](const std::string& h, size_t at = 0) { Put(b, at, h); };
  if (type == "jpeg" || type == "jpeg0") {
    head(Raw({0xFF, 0xD8, 0xFF, type == "jpeg" ? 0xE1 : 0xE0}));
    head(Raw({0xFF, 0xD9}), 2046);
  } else if (type == "doc" || type == "excel") {
    head(Raw({0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1}));
    PutLe32(b, 48, type == "doc" ? 0 : 2);  // 5 and 4 sectors
    head(type == "doc" ? Raw({0x0E, 0x00, 'b', 'j', 'b', 'j'})
                       : Raw({0xE2, 0x00, 0x00, 0x00, 0x5C, 0x00, 0x70}),
         544);
  } else if (type == "qbb") {
    head(Raw({0x45, 0x86, 0, 0}));
  } else if (type == "pst") {
    head("!BDN");
    PutLe32(b, 168, 2048);
  } else if (type == "bmp") {
    head("BM");
    PutLe32(b, 2, 2048);
  } else if (type == "avi") {
    head(std::string("RIFF\0\0\0\0AVI ", 12));
    PutLe32(b, 4, 2040);
  } else if (type == "dbx") {
    head(Raw({0xCF, 0xAD, 0x12, 0xFE}));
    PutLe32(b, 36, 2048);
  } else if (type == "office" || type == "access") {
    head(Raw({0, 1, 0, 0}) + "Standard Jet DB");
  } else if (type == "coredraw") {
    head(std::string("RIFF\0\0\0\0CDRA", 12));
  } else if (type == "pdf") {
    head("%PDF-1.4");
    head("%%EOF\n", 2042);
  } else if (type == "mcd") {
    head("VectorWorks", 14);
    head(Raw({'M', 'p', 0xCC, 0, 1, 0, 0, 0, 'T'}), 2039);
  } else if (type == "progress") {
    head(Raw({0x1A, 0, 0}));
    b[40] = '%';
    b[43] = 0xFF;
  }
  return b;
}

// Counts the bytes the carver asks the device for: the copy bound of a
// file, also where the image ends long before it.
class CountingDevice : public platform::FaultyDevice {
 public:
  explicit CountingDevice(platform::DeviceHandle inner) : FaultyDevice(std::move(inner), {}) {}
  bool Read(void* buffer, uint32_t count, uint32_t* got) override {
    requested += count;
    return FaultyDevice::Read(buffer, count, got);
  }

  uint64_t requested = 0;
};

struct CarveRun {
  int result = 0;
  uint64_t requestedSectors = 0;
  bool positionKept = false;
};

// Writes `image` to a file, offers `sector` of it to `carve` with the
// device positioned elsewhere (sector 3), the way a scan offers a sector of
// its chunk (the sector's bytes and what follows it in a 512-sector chunk),
// and says what happened.
inline CarveRun RunCarver(carvers::CarveFn carve, const Bytes& image, uint64_t sector,
                          const std::string& folder, testing_support::ScriptedShell& shell,
                          const std::string& imagePath) {
  testing_support::WriteFile(imagePath, image);
  CountingDevice device(platform::OpenPath(imagePath, platform::Access::kRead));
  // The chunk holding the sector, zero past the image's end.
  const uint64_t chunkStart = sector / 512 * 512;
  Bytes chunk(carvers::kChunkBytes, 0);
  for (size_t i = 0; i < chunk.size() && chunkStart * 512 + i < image.size(); ++i) {
    chunk[i] = image[chunkStart * 512 + i];
  }
  const size_t at = (sector - chunkStart) * 512;
  device.Seek(3 * 512);
  CarveRun run;
  run.result = testing_support::Carve(carve, sector, device, {chunk.data() + at, chunk.size() - at}, folder, shell);
  run.requestedSectors = device.requested / 512;
  run.positionKept = device.Position() == 3 * 512;
  return run;
}

// `file` at sector `atSector` of a filler image of `sectors` sectors.
inline Bytes ImageWith(const Bytes& file, size_t atSector, size_t sectors) {
  Bytes image = Filler(sectors * 512);
  Put(image, atSector * 512, std::string(file.begin(), file.end()));
  return image;
}

// A folder below `base` whose path is `length` characters long, for names
// that no longer fit in a path.
inline std::string DeepFolder(const std::string& base, size_t length) {
  std::string folder = base;
  while (folder.size() < length) {
    folder += "/" + std::string(std::min<size_t>(200, length - folder.size() - 1), 'd');
    if (!std::filesystem::create_directory(folder)) return base;
  }
  return folder;
}

constexpr uint64_t kAny = UINT64_MAX;

// One row of a carver's table of cases: a file offered at sector 4 of an
// image, and what the carver must do with it.
struct CarveCase {
  const char* name;
  carvers::CarveFn carve;
  Bytes file;
  int result;
  uint64_t bound;   // sectors asked of the device; kAny: not checked
  const char* out;  // the output file's name; null: no file at all
  // Its length, a prefix of the image from sector 4; kAny: the bound's
  // sectors, or up to the end of the image.
  size_t outBytes = kAny;
};

// Runs each case on an image that goes on `padSectors` sectors past the
// file, and checks the result, the device position, the bound and the
// output file byte for byte.
inline void RunCarveCases(const std::vector<CarveCase>& cases, size_t padSectors = 8) {
  for (const CarveCase& c : cases) {
    SCOPED_TRACE(c.name);
    testing_support::TempDir dir;
    testing_support::ScriptedShell shell;
    Bytes image = Filler(4 * 512);
    Put(image, 4 * 512, std::string(c.file.begin(), c.file.end()));
    image.resize((image.size() + 511) / 512 * 512 + padSectors * 512, 0x61);
    CarveRun run = RunCarver(c.carve, image, 4, dir.path(), shell, dir / "image");
    EXPECT_EQ(run.result, c.result);
    EXPECT_TRUE(run.positionKept);
    if (c.bound != kAny) {
      EXPECT_EQ(run.requestedSectors, c.bound);
    }
    if (c.out == nullptr) {
      EXPECT_EQ(testing_support::FilesIn(dir.path()), std::vector<std::string>{"image"});
      continue;
    }
    EXPECT_EQ(testing_support::FilesIn(dir.path()), (std::vector<std::string>{c.out, "image"}));
    size_t length = image.size() - 4 * 512;
    if (c.outBytes != kAny) {
      length = std::min(length, c.outBytes);
    } else if (c.bound != kAny) {
      length = std::min<uint64_t>(length, c.bound * 512);
    }
    EXPECT_EQ(testing_support::ReadFile(dir / c.out),
              Bytes(image.begin() + 4 * 512, image.begin() + static_cast<long>(4 * 512 + length)));
    EXPECT_TRUE(shell.boxes.empty());
  }
}

using testing_support::Shell;

inline bool HaveTool(const std::string& tool) {
  return Shell("command -v " + tool + " > /dev/null 2>&1");
}

using testing_support::TestWindow;

}  // namespace carver_cases
