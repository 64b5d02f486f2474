#include "cli/command_line.h"

namespace cli {

const char* Version() { return LUMISAVE_VERSION; }

std::unique_ptr<CLI::App> MakeApp(Context& context) {
  auto app = std::make_unique<CLI::App>(
      "Lumisave recovers photos (and, on request, other files) from SD cards, disks and disk "
      "images by their signatures, clones failing drives and surveys boot sectors.\n"
      "Run without a command to open the window; 'lumisave --image FILE...' opens it with "
      "those image files in its drive list.");
  app->set_help_all_flag("--help-all", "Show the help of every command");
  app->set_version_flag("--version", std::string("lumisave ") + Version(),
                        "Print the version and exit");
  RegisterRecover(*app, context);
  RegisterDrives(*app, context);
  RegisterPress(*app, context);
  RegisterSingleTypeScans(*app, context);
  RegisterClone(*app, context);
  RegisterVolumes(*app, context);
  RegisterSurvey(*app, context);
  app->require_subcommand(0, 1);
  return app;
}

}  // namespace cli
