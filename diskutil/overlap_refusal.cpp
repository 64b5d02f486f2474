#include "diskutil/overlap_refusal.h"

#include "platform/drives.h"
#include "platform/fs.h"
#include "platform/overlap.h"

namespace diskutil {

bool RefuseOverlap(app::WindowModel& w, const std::string& source, const std::string& target) {
  const platform::DeviceOpener& opener = w.opener();
  const std::string from = opener.Resolve(platform::StripDevicePrefix(source));
  const std::string to = opener.Resolve(platform::StripDevicePrefix(target));
  // The source itself as target keeps its own refusal at the open.
  if (from.empty() || to.empty() || platform::SameFile(from, to)) return false;
  std::string why;
  if (!platform::DrivesOverlap(from, to, &why)) return false;
  w.MessageBox("The target " + to + " shares storage with the source " + from + " (" + why +
                   "): writing it would destroy the data being rescued. Nothing was written.",
               "error");
  return true;
}

}  // namespace diskutil
