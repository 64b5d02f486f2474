// The run strip of the window: while a scan, clone, volume copy or survey
// runs, a progress bar, and its percentage, rate, time left and (for scans)
// the number of files found; at the end of a scan, what it found.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "base/run_report.h"
#include "window/window_model.h"

namespace app {

// "42 % · 12.3 MB/s · 3 min left" for a run that counts `unitBytes`-byte
// units, then " · 17 files found" when `files` is given. No rate or time
// left before the rate is known.
std::string RunFactsText(const base::Progress& p, uint64_t unitBytes,
                         std::optional<uint64_t> files);

// "1 h 5 min", "3 min", "42 s": a time left for people.
std::string TimeLeftText(double seconds);

// Shows an engine's events in the strip; for scans (`countsFiles`) it
// counts the files and, at the end, says on the status line what was found
// in each folder and how many sectors could not be read.
class StripReporter : public base::Reporter {
 public:
  // Empties the strip for a new run and clears the window's stop flag.
  StripReporter(WindowModel& w, uint64_t unitBytes, bool countsFiles);

  void OnProgress(const base::Progress& p) override;
  void OnFile(const base::FileRecord& f) override;
  void OnEnd(const base::RunEnd& e) override;

  uint64_t files() const { return files_; }

 private:
  WindowModel& w_;
  uint64_t unitBytes_;
  bool countsFiles_;
  uint64_t files_ = 0;
  int shownPercent_ = -1;
  std::map<std::string, uint64_t> perFolder_;  // folder name -> files
};

}  // namespace app
