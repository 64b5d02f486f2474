#include <cerrno>
#include <iostream>

#include "cli/commands.h"
#include "commands/drive_checks.h"
#include "platform/fs.h"

namespace cli {

void AddAnswerFlags(CLI::App& command, Context& context) {
  auto* yes = command.add_flag("--yes", context.yes, "Answer Yes to every question");
  auto* no = command.add_flag("--no", context.no, "Answer No to every question");
  yes->excludes(no);
}

Window::Window(Preset preset, const std::vector<std::string>& images)
    : shell(preset), dlg(shell, opener) {
  for (const std::string& image : images) {
    dlg.management().sources().attachedImages.push_back(platform::AbsolutePath(image));
  }
  dlg.SetCreatesDefaultFolder(false);
  dlg.OnInitDialog();
}

std::vector<std::string> ImageFiles(const std::vector<std::string>& drives) {
  std::vector<std::string> images;
  for (const std::string& drive : drives) {
    if (!drive.empty() && platform::IsRegularFile(drive)) images.push_back(drive);
  }
  return images;
}

void WarnIfUnopenable(Window& window, const std::string& drive) {
  const std::string file = window.opener.Resolve(drive);
  errno = 0;
  platform::DeviceHandle probe =
      file.empty() ? nullptr : platform::OpenPath(file, platform::Access::kRead);
  if (!probe) {
    int error = file.empty() ? ENOENT : errno;
    std::cerr << "lumisave: cannot open " << drive
              << (file.empty() || file == drive ? "" : " (" + file + ")") << ": "
              << platform::OpenFailureReason(file.empty() ? drive : file, error) << std::endl;
  }
}

void PrintDrive(Window& window, const char* role, const std::string& name) {
  if (name.empty()) return;
  const std::string description = app::DriveDescription(window.dlg, name);
  std::cout << role << ": " << name << (description.empty() ? "" : " (" + description + ")")
            << std::endl;
}

void SelectSource(Window& window, const std::string& source) {
  WarnIfUnopenable(window, source);
  int row = window.dlg.AttachDrive(source);
  if (row < 0) {
    // A drive the list cannot show (it does not exist, or cannot be looked
    // at): it is still clicked by its name, with no capacity, so the
    // window's own checks report it as they would for such a row.
    app::Control& list = window.dlg.driveList();
    std::vector<std::string> cells(list.columns.empty() ? 13 : list.columns.size());
    cells[0] = source;
    list.rows.push_back(std::move(cells));
    row = static_cast<int>(list.rows.size() - 1);
  }
  window.dlg.SelectDriveRow(row);
}

int StatusOf(const Window& window) { return window.shell.failed() ? 1 : 0; }

}  // namespace cli
