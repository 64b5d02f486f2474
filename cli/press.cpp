// lumisave press: sends controls' commands by identifier on one window, as
// the window's message map would, shown or hidden, enabled or not.
#include <chrono>
#include <iostream>
#include <thread>

#include "cli/commands.h"
#include "cli/listing.h"
#include "diskutil/clone.h"
#include "inventory/console.h"
#include "platform/stop_signals.h"

namespace cli {
namespace {

struct PressOptions {
  std::vector<int> ids;
  std::string source;
  std::string target;
  std::vector<std::string> sets;
  std::vector<int> checks;
  std::vector<int> shows;
};

bool KnownControl(const app::CMainDlg& dlg, int id, const char* option) {
  if (dlg.HasControl(id)) return true;
  std::cerr << "lumisave press: " << option << ": the window has no control " << id << std::endl;
  return false;
}

// "1041=2048" into its identifier and text.
bool ParseSet(const std::string& set, int* id, std::string* text) {
  const size_t eq = set.find('=');
  if (eq == 0 || eq == std::string::npos) return false;
  try {
    size_t used = 0;
    *id = std::stoi(set.substr(0, eq), &used);
    if (used != eq) return false;
  } catch (...) {
    return false;
  }
  *text = set.substr(eq + 1);
  return true;
}

// Every identifier named by the options is a control of the window, and
// every --check names a check box. Says what is wrong otherwise.
bool CheckOptions(const app::CMainDlg& dlg, const PressOptions& o) {
  for (int id : o.ids) {
    if (!KnownControl(dlg, id, "ID")) return false;
  }
  for (const std::string& set : o.sets) {
    int id = 0;
    std::string text;
    if (!ParseSet(set, &id, &text)) {
      std::cerr << "lumisave press: --set wants ID=TEXT, not '" << set << "'" << std::endl;
      return false;
    }
    if (!KnownControl(dlg, id, "--set")) return false;
  }
  for (int id : o.checks) {
    if (!KnownControl(dlg, id, "--check")) return false;
    if (dlg.control(id).kind != app::ControlKind::kCheckBox) {
      std::cerr << "lumisave press: --check: control " << id << " is not a check box"
                << std::endl;
      return false;
    }
  }
  for (int id : o.shows) {
    if (!KnownControl(dlg, id, "--show")) return false;
  }
  return true;
}

void Show(const app::Control& control) {
  if (control.kind == app::ControlKind::kCheckBox) {
    std::cout << control.id << "=" << (control.checked ? 1 : 0) << '\n';
    return;
  }
  for (const std::string& line : ShowLines(control)) std::cout << line << '\n';
}

int Press(const PressOptions& o, const Context& context) {
  Window window(context.preset(), ImageFiles({o.source, o.target}));
  app::CMainDlg& dlg = window.dlg;
  if (!CheckOptions(dlg, o)) return 2;

  // The target first, as in the window: select its row, press Target; then
  // the source row's click, which leaves the source row selected.
  if (!o.target.empty()) {
    dlg.driveList().selected = dlg.AttachDrive(o.target);
    dlg.Press(app::id::kCloneTarget);
  }
  if (!o.source.empty()) SelectSource(window, o.source);
  for (const std::string& set : o.sets) {
    int id = 0;
    std::string text;
    ParseSet(set, &id, &text);
    dlg.SetText(id, text);
  }
  // A box is ticked as a click ticks it: with its command.
  for (int id : o.checks) {
    if (!dlg.IsChecked(id)) dlg.Press(id);
  }
  // Ctrl-C or SIGTERM stops a clone or volume copy that a pressed button
  // runs, as StopRun would, and no further one starts.
  platform::CatchStopSignals(diskutil::g_interruptRequest);
  for (int id : o.ids) {
    if (!dlg.Press(id)) std::cerr << "lumisave press: control " << id << " has no command" << std::endl;
  }
  platform::ReleaseStopSignals();
  for (int id : o.shows) Show(dlg.control(id));
  std::cout.flush();
  if (const int signal = platform::StopSignalCaught()) return platform::StopExitStatus(signal);
  // Mirror holds the program until its watch fails, which ends the process
  // with the failure's code; Ctrl-C ends it before that.
  if (inventory::MirrorRunning()) {
    std::cerr << "lumisave press: watching for changes (Mirror); Ctrl-C ends the watch" << std::endl;
    while (inventory::MirrorRunning()) std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  return StatusOf(window);
}

}  // namespace

void RegisterPress(CLI::App& app, Context& context) {
  auto options = std::make_shared<PressOptions>();
  CLI::App* cmd = app.add_subcommand(
      "press",
      "Send the commands of window controls by their identifiers, in the order given, as "
      "clicks on them would (hidden and disabled controls included; a check box is ticked or "
      "cleared and runs its command). Before the first ID: the --target drive's row is "
      "selected and Target (1008) pressed, the --source drive's row is clicked (which sets "
      "1005, 1021, start sector 1041 and end sector 1061), then every --set is applied (so it "
      "can change the sector range), then every --check box is ticked. After the last ID, "
      "every --show control is printed.");
  cmd->add_option("ID", options->ids, "Control identifiers to press, in order (e.g. 1080)");
  cmd->add_option("--source", options->source,
                  "Click this drive's row first: physicaldriveN, a block device or an image "
                  "file (attached to the list when not in it)");
  cmd->add_option("--target", options->target,
                  "Pick this drive as the clone target: select its row and press Target (1008)");
  cmd->add_option("--set", options->sets, "Set the text of a field: ID=TEXT; repeatable")
      ->allow_extra_args(false);
  cmd->add_option("--check", options->checks,
                  "Tick this check box (as a click on it, running its command) unless it is "
                  "ticked already; repeatable")
      ->allow_extra_args(false);
  cmd->add_option("--show", options->shows,
                  "At the end print ID=TEXT (a check box: ID=1 or ID=0; a list: one line "
                  "ID[ROW]=CELL<TAB>CELL... per row); repeatable")
      ->allow_extra_args(false);
  AddAnswerFlags(*cmd, context);
  cmd->callback([options, &context] { context.status = Press(*options, context); });
}

}  // namespace cli
