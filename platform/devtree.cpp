#include "platform/devtree.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>

#include "base/text.h"
#include "platform/drives.h"
#include "platform/fs.h"

namespace fs = std::filesystem;

namespace platform {
namespace {

constexpr const char* kImagePrefix = "image:";

bool IsDeviceDir(const fs::path& dir) {
  std::error_code ec;
  return fs::is_regular_file(dir / "uevent", ec);
}

// Path order with parents before children: "a/b" < "a/b/c" < "a/b-1".
bool TreeOrder(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    unsigned char ux = x == '/' ? 1 : static_cast<unsigned char>(x);
    unsigned char uy = y == '/' ? 1 : static_cast<unsigned char>(y);
    return ux < uy;
  });
}

std::string Join(const std::string& a, const std::string& b) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  return a + " " + b;
}

// Vendor and model of one sysfs node, as far as it has them.
bool OwnFriendlyName(const fs::path& dir, std::string* name) {
  std::string vendor, model, type, backing;
  ReadAttribute((dir / "vendor").string(), &vendor);
  if (ReadAttribute((dir / "model").string(), &model) ||
      ReadAttribute((dir / "name").string(), &model)) {
    if (!ReadAttribute((dir / "type").string(), &type) || vendor.size() > 0) type.clear();
    std::string text = Join(Join(type, vendor), model);
    if (!text.empty()) {
      *name = text;
      return true;
    }
  }
  if (ReadAttribute((dir / "loop" / "backing_file").string(), &backing) && !backing.empty()) {
    *name = backing;
    return true;
  }
  return false;
}

std::string LinkName(const fs::path& link) {
  std::error_code ec;
  fs::path target = fs::read_symlink(link, ec);
  return ec ? std::string() : target.filename().string();
}

bool ParseSectors(const std::string& text, uint64_t* sectors) {
  if (text.empty() || text.size() > 19) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  *sectors = v;
  return true;
}

bool SysfsSize(const std::string& blockDir, DiskGeometry* geometry) {
  std::string text;
  uint64_t sectors = 0;
  if (!ReadAttribute(blockDir + "/size", &text) || !ParseSectors(text, &sectors)) return false;
  *geometry = GeometryForLength(sectors * kSectorSize);
  return true;
}

// The sysfs folder of the block device behind a device node, if any.
std::string BlockDirOfNode(const MachineSources& sources, const std::string& node) {
  struct stat st;
  if (::stat(node.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return "";
  return sources.sysRoot + "/dev/block/" + std::to_string(major(st.st_rdev)) + ":" +
         std::to_string(minor(st.st_rdev));
}

}  // namespace

bool ReadAttribute(const std::string& file, std::string* value) {
  std::ifstream in(file);
  std::string line;
  if (!in || !std::getline(in, line)) {
    // An empty attribute reads as an empty text; a failed read does not.
    if (!in.bad() && in.eof() && line.empty() && fs::is_regular_file(file)) {
      value->clear();
      return true;
    }
    return false;
  }
  while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
  *value = line;
  return true;
}

namespace {

// Collects the device folders below `dir` (symbolic links are not followed:
// sysfs links every device from many places). A folder that cannot be read
// is passed over, the rest is still walked.
void CollectDevices(const fs::path& root, const fs::path& dir, std::vector<std::string>* ids) {
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const fs::directory_entry& entry = *it;
    std::error_code typeEc;
    if (entry.is_symlink(typeEc) || !entry.is_directory(typeEc)) continue;
    if (IsDeviceDir(entry.path())) {
      std::string id = entry.path().lexically_relative(root).string();
      if (id.size() < kDeviceIdBytes) ids->push_back(std::move(id));
    }
    CollectDevices(root, entry.path(), ids);
  }
}

// A query with its texts lower-cased and the empty ones dropped.
struct LoweredQuery {
  explicit LoweredQuery(const DeviceQuery& query) {
    for (const std::string& text : query.prefixOf) {
      if (!text.empty()) prefixOf.push_back(base::Lower(text));
    }
    for (const std::string& id : query.startingWith) {
      if (!id.empty()) startingWith.push_back(base::Lower(id));
    }
  }
  std::vector<std::string> prefixOf;
  std::vector<std::string> startingWith;
};

bool StartsWith(const std::string& text, const std::string& head) {
  return text.size() >= head.size() && text.compare(0, head.size(), head) == 0;
}

// BeginsWithDeviceId for texts already lower-cased.
bool BeginsWithLoweredId(const std::string& text, const std::string& id) {
  return StartsWith(text, id) && (text.size() == id.size() || text[id.size()] != '/');
}

// Whether the device `id` (lower-cased) matches the query.
bool Matches(const LoweredQuery& query, const std::string& id) {
  for (const std::string& text : query.prefixOf) {
    if (BeginsWithLoweredId(text, id)) return true;
  }
  for (const std::string& head : query.startingWith) {
    if (BeginsWithLoweredId(id, head)) return true;
  }
  return false;
}

// Whether a device below the folder `dir` (an identifier, lower-cased) can
// match: its path "dir/..." can begin a text of the query, or begin with one
// of its identifiers and go on there with anything but "/".
bool MayHoldMatch(const LoweredQuery& query, const std::string& dir) {
  const std::string below = dir + "/";
  for (const std::string& text : query.prefixOf) {
    if (StartsWith(text, below)) return true;
  }
  for (const std::string& head : query.startingWith) {
    if (StartsWith(head, below)) return true;
    if (dir.size() > head.size() && StartsWith(dir, head) && dir[head.size()] != '/') return true;
  }
  return false;
}

// Collects the device folders below `dir` (identifier `rel`, empty at the
// root) that match the query, descending only into folders that can hold a
// match; links and unreadable folders as in CollectDevices.
void CollectMatching(const fs::path& dir, const std::string& rel, const LoweredQuery& query,
                     std::vector<std::string>* ids) {
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const fs::directory_entry& entry = *it;
    std::error_code typeEc;
    if (entry.is_symlink(typeEc) || !entry.is_directory(typeEc)) continue;
    const std::string name = entry.path().filename().string();
    std::string id = rel.empty() ? name : rel + "/" + name;
    const std::string lower = base::Lower(id);
    const bool descend = MayHoldMatch(query, lower);
    if (id.size() < kDeviceIdBytes && Matches(query, lower) && IsDeviceDir(entry.path())) {
      ids->push_back(id);
    }
    if (descend) CollectMatching(entry.path(), id, query, ids);
  }
}

}  // namespace

bool BeginsWithDeviceId(const std::string& text, const std::string& id) {
  return text.size() >= id.size() && BeginsWithLoweredId(base::Lower(text), base::Lower(id));
}

DeviceTree::DeviceTree(const MachineSources& sources) : sources_(sources) {}

const std::vector<std::string>& DeviceTree::PresentDevices() const {
  if (walked_) return ids_;
  walked_ = true;
  CollectDevices(DevicesRoot(), DevicesRoot(), &ids_);
  std::sort(ids_.begin(), ids_.end(), TreeOrder);
  for (const std::string& image : sources_.attachedImages) {
    std::string id;
    if (!PathDeviceId(image, &id) || IsImage(id)) ids_.push_back(kImagePrefix + image);
  }
  return ids_;
}

std::vector<std::string> DeviceTree::MatchingDevices(const DeviceQuery& query) const {
  const LoweredQuery lowered(query);
  std::vector<std::string> ids;
  if (lowered.prefixOf.empty() && lowered.startingWith.empty()) return ids;
  CollectMatching(DevicesRoot(), "", lowered, &ids);
  std::sort(ids.begin(), ids.end(), TreeOrder);
  for (const std::string& image : sources_.attachedImages) {
    std::string id;
    if (PathDeviceId(image, &id) && !IsImage(id)) continue;
    id = kImagePrefix + image;
    if (Matches(lowered, base::Lower(id))) ids.push_back(std::move(id));
  }
  return ids;
}

std::string DeviceTree::DevicesRoot() const { return sources_.sysRoot + "/devices"; }

std::string DeviceTree::SysPathOf(const std::string& id) const { return DevicesRoot() + "/" + id; }

bool DeviceTree::IsImage(const std::string& id) const { return id.rfind(kImagePrefix, 0) == 0; }

bool DeviceTree::FriendlyName(const std::string& id, std::string* name) const {
  if (IsImage(id)) {
    *name = "Image " + fs::path(id.substr(6)).filename().string();
    return true;
  }
  const fs::path dir = SysPathOf(id);
  if (OwnFriendlyName(dir, name)) return true;
  // A block device takes the name of the hardware it sits on.
  std::error_code ec;
  if (fs::is_symlink(dir / "device", ec)) return OwnFriendlyName(dir / "device", name);
  return false;
}

bool DeviceTree::Description(const std::string& id, std::string* text) const {
  if (IsImage(id)) {
    *text = "Disk image";
    return true;
  }
  const fs::path dir = SysPathOf(id);
  for (const char* attribute : {"product", "model", "name"}) {
    std::string value;
    if (ReadAttribute((dir / attribute).string(), &value) && !value.empty()) {
      *text = value;
      return true;
    }
  }
  for (const char* link : {"driver", "subsystem"}) {
    std::string value = LinkName(dir / link);
    if (!value.empty()) {
      *text = value;
      return true;
    }
  }
  return false;
}

bool DeviceTree::Parent(const std::string& id, std::string* parentId) const {
  if (IsImage(id)) return false;
  fs::path dir = fs::path(id).parent_path();
  for (; !dir.empty(); dir = dir.parent_path()) {
    if (IsDeviceDir(fs::path(DevicesRoot()) / dir)) {
      *parentId = dir.string();
      return true;
    }
  }
  return false;
}

bool DeviceTree::BlockDeviceId(const std::string& blockName, std::string* id) const {
  std::error_code ec;
  fs::path real = fs::canonical(sources_.sysRoot + "/block/" + blockName, ec);
  if (ec) return false;
  fs::path root = fs::canonical(DevicesRoot(), ec);
  if (ec) return false;
  std::string rel = real.lexically_relative(root).string();
  if (rel.empty() || rel.rfind("..", 0) == 0) return false;
  *id = rel;
  return true;
}

bool DeviceTree::PathDeviceId(const std::string& path, std::string* id) const {
  const std::string blockDir = BlockDirOfNode(sources_, path);
  if (!blockDir.empty()) {
    std::error_code ec;
    fs::path real = fs::canonical(blockDir, ec);
    fs::path root = fs::canonical(DevicesRoot(), ec);
    std::string rel = ec ? std::string() : real.lexically_relative(root).string();
    if (!rel.empty() && rel.rfind("..", 0) != 0) {
      *id = rel;
      return true;
    }
  }
  *id = kImagePrefix + path;
  return true;
}

namespace {

// QueryGeometry over `disks`, or over a listing of its own when that is null.
bool GeometryOfPath(const MachineSources& sources, const std::vector<WholeDisk>* disks,
                    const std::string& path, DiskGeometry* geometry) {
  const std::string name = StripDevicePrefix(path);
  const std::string lower = base::Lower(name);
  const int index = PhysicalDriveIndex(lower);
  if (index >= 0) {
    std::vector<WholeDisk> listed;
    if (!disks) {
      listed = ListWholeDisks(sources.sysRoot, sources.mountInfo);
      disks = &listed;
    }
    for (const WholeDisk& disk : *disks) {
      if (disk.number == index) return SysfsSize(sources.sysRoot + "/block/" + disk.name, geometry);
    }
    return false;
  }
  struct stat st;
  if (name.empty() || ::stat(name.c_str(), &st) != 0) return false;
  if (S_ISREG(st.st_mode)) {
    *geometry = GeometryForLength(static_cast<uint64_t>(st.st_size));
    return true;
  }
  if (!S_ISBLK(st.st_mode)) return false;
  if (SysfsSize(BlockDirOfNode(sources, name), geometry)) return true;
  DeviceHandle device = OpenPath(name, Access::kRead);
  return device && GeometryOf(*device, geometry);
}

}  // namespace

bool QueryGeometry(const MachineSources& sources, const std::string& path,
                   DiskGeometry* geometry) {
  return GeometryOfPath(sources, nullptr, path, geometry);
}

bool QueryGeometry(const MachineSources& sources, const std::vector<WholeDisk>& disks,
                   const std::string& path, DiskGeometry* geometry) {
  return GeometryOfPath(sources, &disks, path, geometry);
}

}  // namespace platform
