#include "inventory/survey.h"

#include "base/chunk.h"
#include "base/numbers.h"
#include "commands/drive_checks.h"
#include "commands/open_source.h"
#include "window/progress_strip.h"

namespace inventory {

uint64_t g_surveySector = 0;

namespace {

constexpr uint64_t kChunk = base::kChunkBytes;

void AddRow(app::Control& list, const char* type, uint64_t sector) {
  list.rows.push_back({type, base::FormatDecimal(sector)});
}

void SetColumns(app::Control& list, const char* type) {
  list.columns = {{type, app::ListColumn::kFitted}, {"SecNum", app::ListColumn::kFitted}};
}

// Shows the survey's progress in the progress field, which counts down the
// bytes still to go while more than a chunk is left.
class FieldReporter : public base::Reporter {
 public:
  FieldReporter(app::WindowModel& w, uint64_t count, base::Reporter* observer)
      : w_(w), count_(count), observer_(observer) {}
  void OnProgress(const base::Progress& p) override {
    // The count wraps below one chunk, as the survey's own does.
    const uint64_t remaining = count_ - p.done;
    if (remaining >= kChunk) w_.SetText(app::id::kProgress, base::FormatDecimal(remaining));
    if (observer_) observer_->OnProgress(p);
  }
  void OnUnreadable(uint64_t s, uint64_t n) override {
    if (observer_) observer_->OnUnreadable(s, n);
  }
  void OnEnd(const base::RunEnd& e) override {
    if (observer_) observer_->OnEnd(e);
  }

 private:
  app::WindowModel& w_;
  uint64_t count_;
  base::Reporter* observer_;
};

}  // namespace

void InitBootListColumns(app::WindowModel& w) { SetColumns(w.bootList(), "BootType"); }

void InitFatListColumns(app::WindowModel& w) { SetColumns(w.fatList(), "FatType"); }

base::RunEnd SearchForSuspects(app::WindowModel& w, base::Reporter* observer,
                               const std::atomic<bool>* stop) {
  SurveySettings settings;
  settings.byteCount = base::ParseDecimal(w.Text(app::id::kProgress));
  // The survey only reads, so the drive is opened read-only.
  platform::DeviceHandle device;
  if (app::ConfirmSystemDriveRead(w, w.m_sourceDrive)) {
    device = app::OpenSelectedSource(w, platform::Access::kRead);
  }
  if (!device) {
    base::RunEnd none;
    none.outcome = base::RunOutcome::kNotStarted;
    return none;
  }
  settings.source = device.get();
  settings.capacity = w.m_sourceCapacity;
  g_surveySector = 0;
  FieldReporter fields(w, settings.byteCount, observer);
  app::StripReporter strip(w, 1, false);
  base::TeeReporter reporter(fields, &strip);
  // The command line stops on a signal, the window on its Stop button.
  settings.stop = stop != nullptr ? stop : &w.runStop;
  const base::RunEnd end = RunSurvey(
      settings,
      [&w](SurveyFind find, uint64_t sector) {
        g_surveySector = sector;
        switch (find) {
          case SurveyFind::kNtfsBoot:
            AddRow(w.bootList(), "NTFS", sector);
            break;
          case SurveyFind::kFat32Boot:
            AddRow(w.bootList(), "FAT32", sector);
            break;
          case SurveyFind::kFat32Table:
            AddRow(w.fatList(), "FAT32", sector);
            break;
        }
      },
      reporter);
  g_surveySector = end.resumeSector;
  w.SetText(app::id::kProgress, "0");
  return end;
}

}  // namespace inventory
