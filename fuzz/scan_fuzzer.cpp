// libFuzzer target for the whole scan: an image of fuzzed bytes is scanned for every type at
// once. Whatever lengths and names the image holds, no carver reads or writes out of bounds or
// hangs, every file the scan reports is on disk with the length it reports and inside the folder
// of its type, no other file is left behind, and no name carries a control character.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "platform/device.h"
#include "scan/file_types.h"
#include "scan/scan_engine.h"

namespace {

namespace fs = std::filesystem;

class Recorder : public base::Reporter {
 public:
  void OnFile(const base::FileRecord& f) override { files[f.path] = f; }
  std::map<std::string, base::FileRecord> files;
};

const fs::path& Root() {
  static const fs::path root = [] {
    std::string pattern = (fs::temp_directory_path() / "lumisave-scan-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    return fs::path(pattern);
  }();
  return root;
}

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fs::path image = Root() / "card.img";
  const fs::path out = Root() / "out";
  fs::remove_all(out);
  {
    std::ofstream file(image, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    Check(file.good());
  }
  auto device = platform::OpenPath(image.string(), platform::Access::kRead);
  Check(device != nullptr);

  scan::ScanSettings settings;
  settings.source = device.get();
  settings.end = (size + 511) / 512;
  std::map<std::string, std::string> folderOfType;
  for (const scan::TypeEntry& entry : scan::FileTypes()) {
    if (entry.type->carve == nullptr) continue;
    const fs::path folder = out / entry.type->name;
    fs::create_directories(folder);
    settings.types.push_back({entry.type, folder.string()});
    folderOfType[entry.type->name] = folder.string();
  }
  Recorder recorder;
  scan::RunScan(settings, recorder);

  size_t onDisk = 0;
  for (const auto& e : fs::recursive_directory_iterator(out)) {
    if (e.is_directory()) continue;
    ++onDisk;
    const std::string path = e.path().string();
    for (unsigned char c : e.path().filename().string()) Check(c >= 0x20 && c != 0x7F);
    const auto it = recorder.files.find(path);
    Check(it != recorder.files.end());
    Check(e.is_regular_file() && e.file_size() == it->second.length);
    Check(e.path().parent_path().string() == folderOfType[it->second.type]);
  }
  Check(onDisk == recorder.files.size());
  return 0;
}
