#include "tests/support/machine_fixture.h"

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace testing_support {
namespace {

void WriteText(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  std::ofstream(file) << text << "\n";
}

}  // namespace

FixtureMachine::FixtureMachine() {
  fs::create_directories(sysRoot() + "/devices");
  fs::create_directories(sysRoot() + "/block");
  fs::create_directories(sysRoot() + "/bus");
  fs::create_directories(devRoot());
}

void FixtureMachine::AddDevice(const std::string& path,
                               const std::map<std::string, std::string>& attributes,
                               const std::string& driver, const std::string& subsystem) {
  const fs::path dir = fs::path(sysRoot()) / "devices" / path;
  fs::create_directories(dir);
  WriteText(dir / "uevent", "");
  for (const auto& [name, value] : attributes) WriteText(dir / name, value);
  if (!driver.empty()) {
    fs::create_directories(fs::path(sysRoot()) / "bus/any/drivers" / driver);
    fs::create_directory_symlink(fs::path(sysRoot()) / "bus/any/drivers" / driver, dir / "driver");
  }
  if (!subsystem.empty()) {
    fs::create_directories(fs::path(sysRoot()) / "bus" / subsystem);
    fs::create_directory_symlink(fs::path(sysRoot()) / "bus" / subsystem, dir / "subsystem");
  }
}

void FixtureMachine::AddDisk(const std::string& path, const std::string& hardware,
                             uint64_t sectors, bool removable) {
  const std::string name = fs::path(path).filename().string();
  AddDevice(path, {{"size", std::to_string(sectors)}, {"removable", removable ? "1" : "0"}}, "",
            "block");
  const fs::path dir = fs::path(sysRoot()) / "devices" / path;
  if (!hardware.empty()) {
    fs::create_directory_symlink(fs::path(sysRoot()) / "devices" / hardware, dir / "device");
  }
  fs::create_directory_symlink(fs::path("..") / "devices" / path,
                               fs::path(sysRoot()) / "block" / name);
  std::ofstream image(DevFile(name), std::ios::binary);
  image.seekp(static_cast<std::streamoff>(sectors * 512) - 1);
  image.put('\0');
}

void FixtureMachine::BreakAttribute(const std::string& path, const std::string& attribute) {
  const fs::path file = fs::path(sysRoot()) / "devices" / path / attribute;
  fs::remove(file);
  fs::create_directories(file);
}

void FixtureMachine::AddUsualDrives() {
  // A USB card reader with a card in it.
  AddDevice("pci0000:00");
  AddDevice("pci0000:00/0000:00:14.0", {{"vendor", "0x8086"}}, "xhci_hcd", "pci");
  AddDevice("pci0000:00/0000:00:14.0/usb1", {{"product", "xHCI Host Controller"}}, "usb", "usb");
  AddDevice("pci0000:00/0000:00:14.0/usb1/1-2",
            {{"product", "USB2.0-CRW"}, {"manufacturer", "Generic"}}, "usb", "usb");
  AddDevice("pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0", {}, "usb-storage", "usb");
  AddDevice("pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/host6", {}, "", "scsi");
  AddDevice("pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/host6/target6:0:0", {}, "", "scsi");
  AddDevice(kCardReader, {{"vendor", "Generic-"}, {"model", "SD/MMC          "}, {"type", "0"}},
            "sd", "scsi");
  AddDisk(std::string(kCardReader) + "/block/sdb", kCardReader, kCardSectors, true);
  AddDevice(std::string(kCardReader) + "/block/sdb/sdb1", {{"partition", "1"}, {"size", "8064"}},
            "", "block");
  // A SATA disk.
  AddDevice("pci0000:00/0000:00:17.0", {}, "ahci", "pci");
  AddDevice("pci0000:00/0000:00:17.0/ata1", {}, "", "ata_port");
  AddDevice("pci0000:00/0000:00:17.0/ata1/host0", {}, "", "scsi");
  AddDevice("pci0000:00/0000:00:17.0/ata1/host0/target0:0:0", {}, "", "scsi");
  AddDevice(kSata, {{"vendor", "ATA     "}, {"model", "Samsung SSD 860 "}, {"type", "0"}}, "sd",
            "scsi");
  AddDisk(std::string(kSata) + "/block/sda", kSata, kSataSectors);
  // An NVMe disk: its controller holds the model; "nvme" is a class folder.
  AddDevice("pci0000:00/0000:00:1d.0", {}, "pcieport", "pci");
  AddDevice("pci0000:00/0000:00:1d.0/0000:3d:00.0", {}, "nvme", "pci");
  AddDevice(kNvme, {{"model", "WDC PC SN730 SDBQNTY-256G"}}, "", "nvme");
  AddDisk(std::string(kNvme) + "/nvme0n1", kNvme, kNvmeSectors);
  // A loop device over an image file, and one without a backing file.
  AddDisk("virtual/block/loop0", "", kLoopSectors);
  WriteText(fs::path(sysRoot()) / "devices/virtual/block/loop0/loop/backing_file",
            "/home/ann/card.img");
  AddDevice("virtual/block/loop1", {{"size", "0"}}, "", "block");
  fs::create_directory_symlink("../devices/virtual/block/loop1", fs::path(sysRoot()) / "block/loop1");
}

void FixtureMachine::AddLookAlikeDevices() {
  AddDevice("virtual/block/loop1", {{"model", "loop1"}});
  AddDevice("virtual/block/loop10", {{"model", "loop10"}});
  AddDevice("virtual/block/loop10/loop10p1", {{"model", "loop10p1"}});
  AddDevice("pci0000:00", {{"model", "root"}});
  AddDevice("pci0000:00/0000:00:14.0", {{"model", "xhci"}});
  const std::string bus = kUsbBus;
  AddDevice(bus, {{"model", "usb1"}});
  AddDevice(bus + "/1-2", {{"model", "port"}});
  AddDevice(bus + "/1-2/1-2:1.0", {{"model", "port iface"}});
  AddDevice(bus + "/1-2.1", {{"model", "hub port"}});
  AddDevice(bus + "/1-2.1/1-2.1:1.0", {{"model", "hub iface"}});
  fs::create_directory_symlink(fs::path(sysRoot()) / "devices/virtual/block/loop1",
                               fs::path(sysRoot()) / "devices" / bus / "1-2.9");
  AddDevice("LNXSYSTM:00", {{"model", "system bus"}});
  AddDevice("LNXSYSTM:00/LNXPWRBN:00", {{"model", "power button"}});
}

platform::MachineSources FixtureMachine::sources() const {
  platform::MachineSources s;
  s.sysRoot = sysRoot();
  s.devRoot = devRoot();
  s.mountInfo = dir_ / "mountinfo";
  s.stateDir = dir_ / "state";
  std::ofstream(s.mountInfo).flush();
  return s;
}

}  // namespace testing_support
