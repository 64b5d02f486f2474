// lumisave clone: one drive copied onto another, sector by sector.
#include <iostream>
#include <map>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "diskutil/clone.h"
#include "platform/fs.h"
#include "platform/signals.h"
#include "base/numbers.h"

namespace cli {
namespace {

namespace id = app::id;

struct CloneOptions {
  std::string source;
  std::string target;
  std::string mode = "clone";
  std::string start;
  std::string add;
  bool log = false;
};

// The --mode words and the buttons they press.
const std::map<std::string, int>& Modes() {
  static const std::map<std::string, int> modes = {
      {"clone", id::kClone},
      {"512secjmp", id::k512SecJmp},
      {"errbreak", id::kErrBreakClone},
      {"onesector", id::kOneSectorClone},
      {"errpause", id::kErrPauseOneSec},
  };
  return modes;
}

// Picks the target drive as a person does in the window: a click on its row
// of the drive list, then Target. (The source is clicked afterwards.)
void PickTarget(Window& window, const std::string& target) {
  WarnIfUnopenable(window, target);
  window.dlg.SelectDriveRow(window.dlg.AttachDrive(target));
  window.dlg.Press(id::kCloneTarget);
}

// The bar follows field 1010, the bytes still to go.
void TrackCloneProgress(Window& window) {
  const app::CMainDlg& dlg = window.dlg;
  const uint64_t count = std::min(dlg.m_sourceCapacity, dlg.m_targetCapacity);
  const uint64_t start = base::ParseDecimal(dlg.Text(id::kStartSector)) * platform::kSectorSize;
  if (count <= start) return;
  const uint64_t total = count - start;
  window.shell.TrackProgress(id::kProgress, total, 1, [total](const std::string& text) {
    const uint64_t toGo = base::ParseDecimal(text);
    return toGo >= total ? 0 : total - toGo;
  });
}

// What the run leaves in the window that a person needs next: the
// unreadable areas met, and where a stepwise run goes on.
void PrintOutcome(const app::CMainDlg& dlg, const std::string& mode) {
  // A field the run wrote; "" reads as sector 0.
  auto written = [&dlg](int field, const char* caption, std::string* text) {
    *text = dlg.Text(field);
    if (*text == caption) return false;
    if (text->empty()) *text = "0";
    return true;
  };
  std::string text;
  if (mode == "clone" || mode == "onesector") {
    // Field 1039 shows the count before the last bad sector was counted.
    const uint64_t bad =
        written(id::kBadSector, "Bad Sector", &text) ? base::ParseDecimal(text) + 1 : 0;
    std::cout << "unreadable sectors: " << bad << "\n";
  } else if (mode == "512secjmp") {
    if (written(id::kErrorField, "Error", &text)) {
      std::cout << "last unreadable chunk at sector: " << text << "\n";
    }
  } else {
    if (dlg.Text(id::kErrorField) != "Error" && !dlg.Text(id::kErrorField).empty()) {
      std::cout << "unreadable at sector: " << dlg.Text(id::kErrorField) << "\n";
    }
    const std::string& start = dlg.Text(id::kStartSector);
    std::cout << "next start sector: " << (start.empty() ? "0" : start) << "\n";
  }
}

int RunClone(const CloneOptions& o, const Context& context) {
  Window window(context.preset(), ImageFiles({o.source, o.target}));
  app::CMainDlg& dlg = window.dlg;
  PickTarget(window, o.target);
  SelectSource(window, o.source);
  const std::string sourceFile = window.opener.Resolve(o.source);
  const std::string targetFile = window.opener.Resolve(o.target);
  if (!sourceFile.empty() && platform::SameFile(sourceFile, targetFile)) {
    std::cerr << "lumisave: --target is the source drive itself; it will not be written"
              << std::endl;
  }
  if (!o.start.empty()) dlg.SetText(id::kStartSector, o.start);
  if (!o.add.empty()) dlg.SetText(id::kAddValue, o.add);
  if (o.log) dlg.Press(id::kClear123);

  TrackCloneProgress(window);
  StopClonesOnCtrlC();
  dlg.Press(Modes().at(o.mode));
  platform::ReleaseInterrupt();
  window.shell.EndProgress();
  PrintOutcome(dlg, o.mode);
  if (StoppedByCtrlC()) {
    std::cerr << "lumisave: stopped by Ctrl-C" << std::endl;
    return 130;
  }
  return StatusOf(window);
}

}  // namespace

void StopClonesOnCtrlC() {
  platform::CatchInterruptOnce([] { diskutil::RequestInterrupt(); });
}

bool StoppedByCtrlC() { return diskutil::g_interruptRequest; }

void RegisterClone(CLI::App& app, Context& context) {
  auto options = std::make_shared<CloneOptions>();
  CLI::App* cmd = app.add_subcommand(
      "clone",
      "Copy a drive onto another sector by sector, working around unreadable sectors. "
      "Everything on the target is overwritten (you are asked first, unless --yes). "
      "Unreadable sectors keep the target's earlier contents; with --log each one is "
      "recorded in 123.txt in the current folder. Ctrl-C stops after the chunk in hand.");
  cmd->add_option("--source", options->source,
                  "The drive to copy: physicaldriveN (see 'lumisave drives'), a block device "
                  "such as /dev/sdb, or an image file")
      ->required()
      ->check(SourceDrive());
  cmd->add_option("--target", options->target,
                  "The drive to overwrite: physicaldriveN, a block device or an existing image "
                  "file. A mounted drive and the source itself are refused")
      ->required()
      ->check(TargetDrive());
  cmd->add_option("--mode", options->mode,
                  "How unreadable areas are met:\n"
                  "  clone      chunks of 512 sectors; a bad chunk is retried sector by sector "
                  "(default)\n"
                  "  512secjmp  chunks; a bad chunk is skipped whole\n"
                  "  errbreak   chunks until the first bad one, then errpause from one chunk "
                  "before it\n"
                  "  onesector  one sector at a time; bad sectors are skipped\n"
                  "  errpause   one sector at a time up to the first bad sector; the next start "
                  "sector is set past it by --add")
      ->check(CLI::IsMember({"clone", "512secjmp", "errbreak", "onesector", "errpause"}));
  cmd->add_option("--start", options->start, "First sector to copy (default 0)")
      ->check(DecimalNumber());
  cmd->add_option("--add", options->add,
                  "Sectors to step past a bad sector after errpause (default 0)")
      ->check(DecimalNumber());
  cmd->add_flag("--log", options->log,
                "Start a fresh bad-sector log 123.txt in the current folder first");
  AddAnswerFlags(*cmd, context);
  cmd->callback([options, &context] { context.status = RunClone(*options, context); });
}

}  // namespace cli
