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

Window::Window(Preset preset) : shell(preset), dlg(shell, opener) { dlg.OnInitDialog(); }

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

void SelectSource(Window& window, const std::string& source) {
  WarnIfUnopenable(window, source);
  window.dlg.SelectDriveRow(window.dlg.AttachDrive(source));
}

int StatusOf(const Window& window) { return window.shell.failed() ? 1 : 0; }

}  // namespace cli
