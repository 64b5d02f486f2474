// Small images and folders made by the tests themselves.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/drives.h"

namespace testing_support {

using Bytes = std::vector<uint8_t>;

// A fresh folder under the system's temp folder, removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// An image built in memory: `sectors` zero sectors, with bytes placed at
// chosen offsets, then written to a file.
class ImageBuilder {
 public:
  explicit ImageBuilder(uint64_t sectors) : bytes_(sectors * 512, 0) {}
  ImageBuilder& Put(uint64_t offset, const Bytes& data);
  ImageBuilder& PutSector(uint64_t sector, const Bytes& data) { return Put(sector * 512, data); }
  Bytes& bytes() { return bytes_; }
  void WriteTo(const std::string& path) const;

 private:
  Bytes bytes_;
};

Bytes ReadFile(const std::string& path);
void WriteFile(const std::string& path, const Bytes& data);
// Regular files directly in `folder`, by name (empty when it is missing).
std::vector<std::string> FilesIn(const std::string& folder);

// A JPEG-like byte string: the 4-byte signature, `size` bytes in all, filled
// with a pattern free of FF D9, and FF D9 at the given end offsets (the last
// two bytes of each marker at offset p, p + 1).
Bytes FakeJpeg(uint8_t app, size_t size, std::vector<size_t> markers);

// Opens drives by name; names registered here open fault-injecting devices
// over image files, everything else goes to the usual opener.
class TestOpener : public platform::DeviceOpener {
 public:
  void AddFaulty(const std::string& name, const std::string& image, std::set<uint64_t> bad);
  platform::DeviceHandle Open(const std::string& path, platform::Access access) override;
  std::string Resolve(const std::string& name) const override;

 private:
  struct Faulty {
    std::string image;
    std::set<uint64_t> bad;
  };
  std::map<std::string, Faulty> faulty_;
};

bool IsRoot();

}  // namespace testing_support
