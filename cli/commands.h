// The subcommands of the command line. Each drives one main window through
// the same commands the window's buttons send.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/main_dlg.h"
#include "cli/console_shell.h"
#include "platform/drives.h"

namespace cli {

// What every subcommand shares: its exit status and the --yes/--no answer.
struct Context {
  int status = 0;
  std::vector<std::string> command;  // the words of the command line, argv[0] first
  bool yes = false;
  bool no = false;
  Preset preset() const { return yes ? Preset::kYes : no ? Preset::kNo : Preset::kAsk; }
};

// Adds --yes and --no to a subcommand.
void AddAnswerFlags(CLI::App& command, Context& context);

// One window on the console, initialised as at start; `images` are image
// files (or device nodes) attached to the drive list after the machine's drives.
struct Window {
  explicit Window(Preset preset, const std::vector<std::string>& images = {});
  ConsoleShell shell;
  platform::DeviceOpener opener;
  app::CMainDlg dlg;
};

// The drives named on the command line that are image files: a window is
// started with them attached, so its first drive list already shows them.
std::vector<std::string> ImageFiles(const std::vector<std::string>& drives);

// Clicks the source drive's row, as a user would in the drive list: the row
// of a listed drive (physicaldriveN, a listed path, or a node of a listed
// drive), else the row of `source` attached as an image. When
// `source` cannot be opened, says why in plain words on stderr first (the
// command then goes on, and the window's own checks report it).
void SelectSource(Window& window, const std::string& source);
// Prints "ROLE: NAME (MODEL, SIZE)" on stdout for the drive `name` a command
// is about to act on, so the person sees which drive it is; nothing for an
// empty name.
void PrintDrive(Window& window, const char* role, const std::string& name);

// Says on stderr, in plain words, why `drive` cannot be opened (nothing when
// it can).
void WarnIfUnopenable(Window& window, const std::string& drive);

// The exit status after a command: 1 when it ended on a failure message.
int StatusOf(const Window& window);

// The options of every scan: source, output folder and sector range, the
// report's digests, and whether a mounted source is unmounted first.
struct ScanOptions {
  std::string source;
  std::string out;
  std::string start;
  std::string end;
  bool hash = false;
  bool unmount = false;
};
void AddScanOptions(CLI::App& command, ScanOptions& options);

// What a pass over a drive tells at its end on the command line: the
// sectors it could not read, and a drive that could not be read at all.
class DriveFaults {
 public:
  void Note(uint64_t firstSector, uint64_t sectors);
  void End(const base::RunEnd& end) { end_ = end; }
  // Prints "unreadable sectors: N (first F, last L)" when there were any,
  // and the words of a drive lost. Returns: 1 when the run failed so, else 0.
  int Print() const;

 private:
  uint64_t count_ = 0;
  uint64_t first_ = 0;
  uint64_t last_ = 0;
  base::RunEnd end_;
};

// What a scan run from the command line reports: a progress bar on a
// terminal, and the files it wrote for the summary.
class ScanObserver : public base::Reporter {
 public:
  explicit ScanObserver(ConsoleShell& shell) : shell_(shell) {}
  void OnProgress(const base::Progress& p) override;
  void OnFile(const base::FileRecord& f) override { files_.push_back(f); }
  void OnUnreadable(uint64_t first, uint64_t sectors) override { faults_.Note(first, sectors); }
  void OnEnd(const base::RunEnd& e) override { faults_.End(e); }
  const std::vector<base::FileRecord>& files() const { return files_; }
  const DriveFaults& faults() const { return faults_; }

 private:
  DriveFaults faults_;
  ConsoleShell& shell_;
  bool started_ = false;
  std::vector<base::FileRecord> files_;
};

// Sets the output folder, clicks the source, then runs the scan `run` with
// the range of the options and a progress bar on a terminal. The source's
// read-write mounts are named (or unmounted with --unmount), missing parents
// of the output folder are made, and SIGINT and SIGTERM stop the run. A
// stopped run says how many files it saved and the command that goes on.
// Returns: the exit status of a stopped run (130, 143), else 0.
int RunScanCommand(Window& window, const ScanOptions& options, const Context& context,
                   const std::function<void(const app::ScanRange&)>& run);

// Names each file system mounted read-write on the block device `path` and
// advises unmounting it; with `unmount`, unmounts it instead. Nothing for a
// plain file.
void NameMountedSource(const std::string& path, bool unmount);

// One line per folder on stdout: "FOLDER: N files, SIZE", counting the files
// of this run only.
void PrintSummary(const std::vector<std::string>& folders,
                  const std::vector<base::FileRecord>& files);

void RegisterRecover(CLI::App& app, Context& context);
void RegisterSingleTypeScans(CLI::App& app, Context& context);
void RegisterClone(CLI::App& app, Context& context);

void RegisterDrives(CLI::App& app, Context& context);
void RegisterPress(CLI::App& app, Context& context);
void RegisterVolumes(CLI::App& app, Context& context);
void RegisterSurvey(CLI::App& app, Context& context);

}  // namespace cli
