#include "commands/drive_checks.h"

#include "base/numbers.h"
#include "platform/drive_facts.h"
#include "platform/drives.h"
#include "platform/mounts.h"
#include "platform/wbem.h"

namespace app {
namespace {

std::string PathOf(WindowModel& w, const std::string& driveName) {
  return w.opener().Resolve(platform::StripDevicePrefix(driveName));
}

platform::DriveFacts FactsOf(WindowModel& w, const std::string& path) {
  const platform::MachineSources& sources = w.management().sources();
  return platform::ReadDriveFacts(path, sources.sysRoot, sources.mountInfo);
}

std::string Describe(const platform::DriveFacts& f) {
  std::string text = f.model;
  if (f.sizeBytes > 0) text += (text.empty() ? "" : ", ") + base::HumanSize(f.sizeBytes);
  return text;
}

std::string Named(const std::string& driveName, const platform::DriveFacts& f) {
  const std::string description = Describe(f);
  const std::string name = platform::StripDevicePrefix(driveName);
  return description.empty() ? name : name + " (" + description + ")";
}

}  // namespace

std::string DriveDescription(WindowModel& w, const std::string& driveName) {
  const std::string path = PathOf(w, driveName);
  return path.empty() ? "" : Describe(FactsOf(w, path));
}

bool ConfirmSystemDriveRead(WindowModel& w, const std::string& driveName) {
  const std::string path = PathOf(w, driveName);
  if (path.empty()) return true;
  const platform::DriveFacts facts = FactsOf(w, path);
  if (!facts.holdsRoot) return true;
  return w.AppMessageBox(Named(driveName, facts) +
                             " holds the running system. Lost photos are rarely there, and "
                             "reading it takes long. Read it all the same?",
                         app::Buttons::kYesNo,
                         app::BoxKind::kQuestion) == app::Answer::kYes;
}

bool RefuseWriteTarget(WindowModel& w, const std::string& driveName) {
  const std::string path = PathOf(w, driveName);
  if (path.empty()) return false;
  const platform::DriveFacts facts = FactsOf(w, path);
  if (facts.holdsRoot) {
    w.AppMessageBox(Named(driveName, facts) +
                    " holds the running system: Lumisave never writes to it.");
    return true;
  }
  const platform::MachineSources& sources = w.management().sources();
  const std::vector<platform::MountedFileSystem> mounts =
      platform::AllMounts(path, sources.mountInfo, sources.sysRoot);
  if (mounts.empty()) return false;
  w.AppMessageBox(Named(driveName, facts) + " is in use: " + mounts.front().device +
                  " is mounted at " + mounts.front().mountPoint +
                  ". Unmount it (eject it in the file manager) before writing to the drive.");
  return true;
}

}  // namespace app
