// lumisave: recover pictures and files from cards, disks and images.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>

#include "cli/command_line.h"
#include "platform/exec.h"

namespace {

// No arguments, or only the window's own (--image FILE...): open the window.
// It is a program of its own, lumisave-gui beside this one, so that the
// toolkit's libraries are never loaded for a command-line run.
bool WantsWindow(int argc, char** argv) {
  return argc == 1 || std::string(argv[1]).rfind("--image", 0) == 0;
}

bool AsksForHelp(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") return true;
  }
  return false;
}

bool HasDisplay() {
  const char* x = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x && *x) || (wayland && *wayland);
}

int OpenWindow(int argc, char** argv) {
  if (!HasDisplay() && !AsksForHelp(argc, argv)) {
    std::cerr << "lumisave: there is no display to open the window on (DISPLAY is not set).\n"
                 "Run 'lumisave --help' for the commands that work without a window, such as\n"
                 "'lumisave drives' and 'lumisave recover --source DRIVE --out FOLDER'."
              << std::endl;
    return 1;
  }
  const std::string program = platform::SiblingProgram("lumisave-gui");
  platform::ExecProgram(program, argc, argv);
  std::cerr << "lumisave: cannot open the window (" << program << "): " << std::strerror(errno)
            << std::endl;
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (WantsWindow(argc, argv)) return OpenWindow(argc, argv);
  cli::Context context;
  context.command.assign(argv, argv + argc);
  const std::unique_ptr<CLI::App> app = cli::MakeApp(context);

  try {
    app->parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app->exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app->exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app->exit(e);
  } catch (const CLI::ParseError& e) {
    app->exit(e);
    return 2;
  }
  if (app->get_subcommands().empty()) {
    std::cout << app->help();
    return 0;
  }
  return context.status;
}
