// lumisave survey: where NTFS and FAT32 volumes begin or once began on a
// drive.
#include <atomic>
#include <csignal>
#include <iostream>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "base/run_report.h"
#include "inventory/survey.h"
#include "platform/stop_signals.h"

namespace cli {
namespace {

struct SurveyOptions {
  std::string source;
  std::string bytes;
  bool unmount = false;
};

// Draws the progress bar from the survey's progress.
class SurveyObserver : public base::Reporter {
 public:
  explicit SurveyObserver(ConsoleShell& shell) : shell_(shell) {}
  void OnProgress(const base::Progress& p) override {
    if (p.total == 0) return;
    if (!started_) {
      started_ = true;
      shell_.StartProgress(p.total, 1);
    }
    shell_.ShowProgress(p.done);
  }
  void OnUnreadable(uint64_t first, uint64_t sectors) override { faults_.Note(first, sectors); }
  void OnEnd(const base::RunEnd& e) override { faults_.End(e); }
  const DriveFaults& faults() const { return faults_; }

 private:
  DriveFaults faults_;
  ConsoleShell& shell_;
  bool started_ = false;
};

void PrintRows(const app::Control& list) {
  std::cout << list.columns.at(0).header << "\t" << list.columns.at(1).header << "\n";
  for (const auto& row : list.rows) std::cout << row.at(0) << "\t" << row.at(1) << "\n";
}

int Survey(const SurveyOptions& o) {
  Window window(Preset::kNo, ImageFiles({o.source}));
  app::CMainDlg& dlg = window.dlg;
  SelectSource(window, o.source);
  const std::string source = window.opener.Resolve(o.source);
  if (!source.empty()) NameMountedSource(source, o.unmount);
  // The survey takes its byte count from the progress field; an empty field
  // surveys the whole drive.
  dlg.SetText(app::id::kProgress, o.bytes);
  SurveyObserver observer(window.shell);
  std::atomic<bool> stop{false};
  platform::CatchStopSignals(stop);
  const base::RunEnd end = inventory::SearchForSuspects(dlg, &observer, &stop);
  platform::ReleaseStopSignals();
  window.shell.EndProgress();
  PrintRows(dlg.bootList());
  PrintRows(dlg.fatList());
  std::cout << std::flush;
  const int lost = observer.faults().Print();
  const int signal = platform::StopSignalCaught();
  if (end.outcome == base::RunOutcome::kStopped && signal != 0) {
    std::cerr << "lumisave: stopped by " << (signal == SIGINT ? "SIGINT (Ctrl-C)" : "SIGTERM")
              << " at sector " << end.resumeSector << "; the finds above are those before it"
              << std::endl;
    return platform::StopExitStatus(signal);
  }
  return StatusOf(window) | lost;
}

}  // namespace

void RegisterSurvey(CLI::App& app, Context& context) {
  auto options = std::make_shared<SurveyOptions>();
  CLI::App* cmd = app.add_subcommand(
      "survey",
      "Search a drive from its first sector for NTFS and FAT32 boot sectors and FAT32 "
      "allocation tables, and print them with their sector numbers (an empty number is "
      "sector 0).");
  cmd->add_option("--source", options->source,
                  "The drive to read: physicaldriveN (see 'lumisave drives'), a volume (D:), a "
                  "block device such as /dev/sdb, or an image file")
      ->required()
      ->check(SourceDrive());
  cmd->add_option("--bytes", options->bytes,
                  "How many bytes to survey, in whole chunks of 262144 bytes (default: the "
                  "whole drive)")
      ->check(SurveyByteCount());
  cmd->add_flag("--unmount", options->unmount,
                "Unmount the source's mounted file systems before the survey");
  cmd->callback([options, &context] { context.status = Survey(*options); });
}

}  // namespace cli
