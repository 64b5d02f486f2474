#include "platform/mounts.h"

#include <libmount.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>

#include "platform/overlap.h"

namespace platform {
namespace {

// Whether an option string ("rw,relatime") holds `name` as a whole option.
bool HasOption(const char* options, const char* name) {
  return options != nullptr && mnt_optstr_get_option(options, name, nullptr, nullptr) == 0;
}

// The block name a mount is on: by its device number, else (file systems
// with an anonymous number) by the device node it was mounted from.
std::string MountDevice(libmnt_fs* fs, const std::string& sysRoot) {
  const dev_t devno = mnt_fs_get_devno(fs);
  if (::major(devno) != 0) return BlockNameOfDevice(::major(devno), ::minor(devno), sysRoot);
  const char* source = mnt_fs_get_source(fs);
  struct stat st;
  if (source == nullptr || source[0] != '/' || ::stat(source, &st) != 0 || !S_ISBLK(st.st_mode)) {
    return "";
  }
  return BlockNameOfDevice(::major(st.st_rdev), ::minor(st.st_rdev), sysRoot);
}

}  // namespace

namespace {

// The mounts on storage shared with the block device `drive` (named as in
// <sysRoot>/class/block), read-only ones too when `readOnlyToo`.
std::vector<MountedFileSystem> MountsOn(const std::string& drive, const std::string& mountInfo,
                                        const std::string& sysRoot, bool readOnlyToo) {
  std::vector<MountedFileSystem> mounts;
  libmnt_table* table = mnt_new_table_from_file(mountInfo.c_str());
  if (table == nullptr) return mounts;
  libmnt_iter* it = mnt_new_iter(MNT_ITER_FORWARD);
  libmnt_fs* fs = nullptr;
  while (it != nullptr && mnt_table_next_fs(table, it, &fs) == 0) {
    if (!readOnlyToo && (HasOption(mnt_fs_get_vfs_options(fs), "ro") ||
                         HasOption(mnt_fs_get_fs_options(fs), "ro"))) {
      continue;
    }
    const std::string device = MountDevice(fs, sysRoot);
    if (device.empty() || !FileSystemOverlaps(device, drive, nullptr, sysRoot)) continue;
    const char* source = mnt_fs_get_source(fs);
    const char* target = mnt_fs_get_target(fs);
    mounts.push_back({source ? source : "/dev/" + device, target ? target : ""});
  }
  mnt_free_iter(it);
  mnt_unref_table(table);
  return mounts;
}

std::string BlockNameOfNode(const std::string& devicePath, const std::string& sysRoot) {
  struct stat st;
  if (::stat(devicePath.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return "";
  return BlockNameOfDevice(::major(st.st_rdev), ::minor(st.st_rdev), sysRoot);
}

}  // namespace

std::vector<MountedFileSystem> ReadWriteMounts(const std::string& devicePath,
                                               const std::string& mountInfo,
                                               const std::string& sysRoot) {
  const std::string drive = BlockNameOfNode(devicePath, sysRoot);
  if (drive.empty()) return {};
  return MountsOn(drive, mountInfo, sysRoot, false);
}

std::vector<MountedFileSystem> AllMounts(const std::string& devicePath,
                                         const std::string& mountInfo,
                                         const std::string& sysRoot) {
  const std::string drive = BlockNameOfNode(devicePath, sysRoot);
  if (drive.empty()) return {};
  return MountsOn(drive, mountInfo, sysRoot, true);
}

bool HoldsRootFileSystem(const std::string& blockName, const std::string& mountInfo,
                         const std::string& sysRoot) {
  if (blockName.empty()) return false;
  libmnt_table* table = mnt_new_table_from_file(mountInfo.c_str());
  if (table == nullptr) return false;
  // The last mount at / is the one in force.
  std::string rootDevice;
  libmnt_iter* it = mnt_new_iter(MNT_ITER_FORWARD);
  libmnt_fs* fs = nullptr;
  while (it != nullptr && mnt_table_next_fs(table, it, &fs) == 0) {
    const char* target = mnt_fs_get_target(fs);
    if (target != nullptr && std::string(target) == "/") rootDevice = MountDevice(fs, sysRoot);
  }
  mnt_free_iter(it);
  mnt_unref_table(table);
  return !rootDevice.empty() && FileSystemOverlaps(rootDevice, blockName, nullptr, sysRoot);
}

bool Unmount(const std::string& mountPoint, int* error) {
  if (::umount2(mountPoint.c_str(), UMOUNT_NOFOLLOW) == 0) return true;
  if (error) *error = errno;
  return false;
}

}  // namespace platform
