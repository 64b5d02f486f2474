// lumisave: recover pictures and files from cards, disks and images.
#include <iostream>

#include "cli/commands.h"

int main(int argc, char** argv) {
  CLI::App app{
      "Lumisave recovers photos (and, on request, other files) from SD cards, disks and disk "
      "images by their signatures, clones failing drives and surveys boot sectors.\n"
      "Run without a command to open the window."};
  app.set_help_all_flag("--help-all", "Show the help of every command");
  cli::Context context;
  cli::RegisterRecover(app, context);
  cli::RegisterDrives(app, context);
  cli::RegisterPress(app, context);
  app.require_subcommand(0, 1);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return 2;
  }
  if (app.get_subcommands().empty()) {
    std::cout << app.help();
    return 0;
  }
  return context.status;
}
