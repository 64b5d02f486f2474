#include <cerrno>
#include <iostream>

#include "cli/commands.h"
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
  dlg.OnInitDialog();
}

void SelectSource(Window& window, const std::string& source) {
  const std::string file = window.opener.Resolve(source);
  errno = 0;
  platform::DeviceHandle probe =
      file.empty() ? nullptr : platform::OpenPath(file, platform::Access::kRead);
  if (!probe) {
    int error = file.empty() ? ENOENT : errno;
    std::cerr << "lumisave: cannot open " << source
              << (file.empty() || file == source ? "" : " (" + file + ")") << ": "
              << platform::OpenFailureReason(file.empty() ? source : file, error) << std::endl;
  }
  window.dlg.SelectDriveRow(window.dlg.AttachDrive(source));
}

int StatusOf(const Window& window) { return window.shell.failed() ? 1 : 0; }

}  // namespace cli
