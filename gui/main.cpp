// lumisave-gui: the Lumisave window. `lumisave` starts it when run without a
// command; `--image FILE` (repeatable) attaches image files to the drive list.
#include <wx/app.h>
#include <wx/init.h>

#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/main_app.h"
#include "gui/main_window.h"
#include "gui/script.h"
#include "gui/wx_shell.h"
#include "platform/fs.h"
#include "platform/stoppable.h"

namespace {

struct Options {
  std::vector<std::string> images;
  std::string script;  // hidden: scripted runs for tests and screenshots
};
Options g_options;

constexpr const char* kUsage =
    "Usage: lumisave [--image FILE]...\n"
    "Opens the Lumisave window. Each --image FILE adds an image file (or a device node) to the\n"
    "drive list, after the machine's own drives. Run 'lumisave --help' for the command line.\n";

// 0 to go on, else the exit status.
int ParseOptions(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return -1;
    }
    std::string* target = arg == "--image" ? nullptr : arg == "--script" ? &o->script : nullptr;
    if (arg.rfind("--image=", 0) == 0) {
      o->images.push_back(arg.substr(8));
      continue;
    }
    if (arg != "--image" && arg != "--script") {
      std::cerr << "lumisave: unknown option " << arg << "\n" << kUsage;
      return 2;
    }
    if (i + 1 >= argc) {
      std::cerr << "lumisave: " << arg << " needs a file\n";
      return 2;
    }
    if (target) {
      *target = argv[++i];
    } else {
      o->images.push_back(argv[++i]);
    }
  }
  return 0;
}

class GuiApp : public wxApp {
 public:
  // The options were read before the toolkit started; nothing left to parse.
  bool OnInit() override { return true; }
  int OnRun() override;
};

int GuiApp::OnRun() {
  std::unique_ptr<gui::Script> script;
  if (!g_options.script.empty()) {
    script = std::make_unique<gui::Script>();
    std::string error;
    if (!script->Load(g_options.script, &error)) {
      std::cerr << "lumisave: " << error << std::endl;
      return 2;
    }
  }
  platform::StopSwitch stop;
  platform::StoppableOpener opener(stop);
  platform::ManagementLayer layer;
  for (const std::string& image : g_options.images) {
    if (!platform::Exists(image)) {
      std::cerr << "lumisave: no such image file: " << image << std::endl;
      continue;
    }
    layer.sources().attachedImages.push_back(platform::AbsolutePath(image));
  }
  gui::WxShell shell(script.get());
  app::CMainApp application(layer, shell, opener);
  application.InitInstance([&](app::CMainDlg& dlg) {
    gui::MainWindow window(dlg, stop);
    shell.SetWindow(&window);
    dlg.OnInitDialog();
    window.SyncFromModel();
    if (script) script->Start(window);
    window.ShowModal();
    shell.SetWindow(nullptr);
  });
  return application.windowShown() ? 0 : 1;
}

}  // namespace

wxIMPLEMENT_APP_NO_MAIN(GuiApp);

int main(int argc, char** argv) {
  if (int status = ParseOptions(argc, argv, &g_options); status != 0) return status < 0 ? 0 : status;
  char* toolkitArgs[] = {argv[0], nullptr};
  int toolkitArgc = 1;
  return wxEntry(toolkitArgc, toolkitArgs);
}
