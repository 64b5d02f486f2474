// A small machine for the volume tests: a sysfs tree of block devices, a
// /dev folder whose "device nodes" are image files, and a mount table.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>

#include "platform/drives.h"
#include "tests/support/fault_device.h"
#include "platform/wbem.h"
#include "tests/support/fixtures.h"

namespace volume_fixture {

namespace fs = std::filesystem;

inline void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path) << text << "\n";
}

// Makes a FAT file system of `kib` KiB in a new file; FAT32 when asked.
inline void MakeFat(const std::string& path, uint64_t kib, const std::string& label,
                    bool fat32 = false) {
  std::error_code ec;
  fs::remove(path, ec);
  const std::string cmd = std::string("mkfs.fat -C ") + (fat32 ? "-F 32 -s 1 " : "") +
                          (label.empty() ? "" : "-n " + label + " ") + "'" + path + "' " +
                          std::to_string(kib) + " >/dev/null 2>&1";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
}

class Machine {
 public:
  Machine() {
    fs::create_directories(tmp_ / "sys/block");
    fs::create_directories(tmp_ / "dev");
    WriteText(MountInfo(), "22 28 0:21 / /proc rw,relatime - proc proc rw");
  }

  std::string Sys() const { return tmp_ / "sys"; }
  std::string Dev() const { return tmp_ / "dev"; }
  std::string MountInfo() const { return tmp_ / "mountinfo"; }
  std::string Path(const std::string& name) const { return tmp_ / name; }
  std::string Node(const std::string& name) const { return tmp_ / ("dev/" + name); }

  platform::MachineSources Sources() const {
    platform::MachineSources s;
    s.sysRoot = Sys();
    s.devRoot = Dev();
    s.mountInfo = MountInfo();
    s.stateDir = tmp_ / "state";
    return s;
  }

  // A whole device of `sectors` sectors, numbered major:minor.
  void Disk(const std::string& name, uint64_t sectors, const std::string& devno,
            bool removable = false) {
    const std::string dir = Sys() + "/block/" + name;
    fs::create_directories(dir);
    WriteText(dir + "/size", std::to_string(sectors));
    WriteText(dir + "/dev", devno);
    WriteText(dir + "/removable", removable ? "1" : "0");
  }

  void Partition(const std::string& disk, const std::string& name, int number,
                 uint64_t startSector, uint64_t sectors, const std::string& devno) {
    const std::string dir = Sys() + "/block/" + disk + "/" + name;
    fs::create_directories(dir);
    WriteText(dir + "/partition", std::to_string(number));
    WriteText(dir + "/start", std::to_string(startSector));
    WriteText(dir + "/size", std::to_string(sectors));
    WriteText(dir + "/dev", devno);
  }

  // A FAT volume as the device node `name`; returns its size in sectors.
  uint64_t FatVolume(const std::string& name, uint64_t kib, const std::string& label) {
    MakeFat(Node(name), kib, label);
    return kib * 2;
  }

  void Mount(const std::string& devno, const std::string& target, const std::string& type) {
    std::ofstream(MountInfo(), std::ios::app)
        << ++mountId_ << " 1 " << devno << " / " << target << " rw,relatime - " << type
        << " /dev/x rw\n";
  }

 private:
  testing_support::TempDir dir_;
  fs::path tmp_{dir_.path()};
  int mountId_ = 40;
};

// A fault-injecting device that can also answer every read at or past the
// end with an error instead of 0 bytes, as some drives do.
class TestDevice : public platform::FaultyDevice {
 public:
  TestDevice(platform::DeviceHandle inner, std::set<uint64_t> bad, bool errorPastEnd)
      : FaultyDevice(std::move(inner), std::move(bad)), errorPastEnd_(errorPastEnd) {}

  bool Read(void* buffer, uint32_t count, uint32_t* got) override {
    uint64_t length = 0;
    if (errorPastEnd_ && Length(&length) && Position() + count > length) {
      *got = 0;
      return false;
    }
    return FaultyDevice::Read(buffer, count, got);
  }

 private:
  bool errorPastEnd_;
};

// Opens names of the fixture machine; names given faults here open
// TestDevices over the files they resolve to.
class FaultOpener : public platform::DeviceOpener {
 public:
  struct Faults {
    std::set<uint64_t> bad;
    uint64_t failWritesFrom = UINT64_MAX;
    bool errorPastEnd = false;
  };
  explicit FaultOpener(const Machine& m) : DeviceOpener(m.Sys(), m.Dev(), m.MountInfo()) {}
  FaultOpener() = default;

  void Add(const std::string& name, Faults faults) { faults_[name] = std::move(faults); }

  platform::DeviceHandle Open(const std::string& path, platform::Access access) override {
    platform::DeviceHandle device = DeviceOpener::Open(path, access);
    auto it = faults_.find(platform::StripDevicePrefix(path));
    if (!device || it == faults_.end()) return device;
    auto faulty =
        std::make_unique<TestDevice>(std::move(device), it->second.bad, it->second.errorPastEnd);
    faulty->FailWritesFrom(it->second.failWritesFrom);
    return faulty;
  }

 private:
  std::map<std::string, Faults> faults_;
};

}  // namespace volume_fixture
