#include "tests/support/fixtures.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include "tests/support/fault_device.h"

namespace testing_support {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "lumisave-test-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

ImageBuilder& ImageBuilder::Put(uint64_t offset, const Bytes& data) {
  if (offset + data.size() > bytes_.size()) bytes_.resize(offset + data.size());
  std::copy(data.begin(), data.end(), bytes_.begin() + static_cast<long>(offset));
  return *this;
}

void ImageBuilder::WriteTo(const std::string& path) const { WriteFile(path, bytes_); }

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const Bytes& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(folder, ec)) {
    if (e.is_regular_file()) names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

Bytes FakeJpeg(uint8_t app, size_t size, std::vector<size_t> markers) {
  Bytes b(size);
  for (size_t i = 0; i < size; ++i) b[i] = static_cast<uint8_t>(0x20 + i % 64);
  const uint8_t head[4] = {0xFF, 0xD8, 0xFF, app};
  for (size_t i = 0; i < 4 && i < size; ++i) b[i] = head[i];
  for (size_t p : markers) {
    b.at(p) = 0xFF;
    b.at(p + 1) = 0xD9;
  }
  return b;
}

void TestOpener::AddFaulty(const std::string& name, const std::string& image,
                           std::set<uint64_t> bad) {
  faulty_[name] = {image, std::move(bad)};
}

platform::DeviceHandle TestOpener::Open(const std::string& path, platform::Access access) {
  std::string name = platform::StripDevicePrefix(path);
  auto it = faulty_.find(name);
  if (it == faulty_.end()) return DeviceOpener::Open(path, access);
  return platform::FaultyDevice::Open(it->second.image, it->second.bad);
}

std::string TestOpener::Resolve(const std::string& name) const {
  auto it = faulty_.find(name);
  return it == faulty_.end() ? DeviceOpener::Resolve(name) : it->second.image;
}

bool IsRoot() { return ::geteuid() == 0; }

}  // namespace testing_support
