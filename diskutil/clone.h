// The window's clone commands: each reads the window's fields into the clone
// engine's settings (diskutil/clone_engine.h), runs it, and shows what it
// reports; with the Target and StopRun commands and the stop request they
// share.
//
//   Clone           the kClone mode
//   Clone512SecJmp  the k512SecJmp mode
//   ErrBreakClone   kErrBreak; moves the start sector back one chunk, then
//                   runs ErrPauseOneSec
//   OneSectorClone  the kOneSector mode
//   ErrPauseOneSec  kErrPause; sets the start sector past the bad one, then
//                   runs Add
//
// The source is the drive picked in the drive list, the target the one the
// Target command took; the window's fields hold the start sector (1041), the
// bytes to go (1010), the next sector (1040), the bad-sector count (1039) and
// the last unreadable area (1049).
#pragma once

#include <atomic>
#include <functional>
#include <vector>

#include "base/run_report.h"
#include "diskutil/clone_engine.h"
#include "window/window_model.h"

namespace diskutil {

// The stop request: set by StopRun, cleared when a clone starts, read by the
// clone loops between chunks. Lock-free, so a signal handler may set it.
extern std::atomic<bool> g_stopRequest;
// Set by Ctrl-C on the command line and never cleared: the running clone
// stops as on StopRun, and no further clone run starts in this process.
extern std::atomic<bool> g_interruptRequest;
static_assert(std::atomic<bool>::is_always_lock_free);

// StopRun: sets the stop request.
void StopRun();
// What Ctrl-C does; safe to call from a signal handler.
void RequestInterrupt();

// Target: takes the selected row of the drive list as the target drive. With
// no row selected the target is cleared, so no clone can run onto a drive
// nobody picked.
void Target(app::WindowModel& w);

// Runs the command of `mode` (and the runs it chains) as its button does;
// every event of the engine also reaches `observer` when one is given, and
// the runs keep `map` (written by `saveMap`) when one is given.
void RunCloneCommand(app::WindowModel& w, CloneMode mode, base::Reporter* observer = nullptr,
                     RescueMap* map = nullptr, const std::function<void()>& saveMap = {});

// Resumes a clone from its map: the command of `mode` with its first
// question and size question, no layout copy and no chained run, working
// through `plan` (PlanResume of `map`) onto the target.
void ResumeCloneCommand(app::WindowModel& w, CloneMode mode, const std::vector<WorkItem>& plan,
                        RescueMap& map, const std::function<void()>& saveMap,
                        base::Reporter* observer = nullptr);

void Clone(app::WindowModel& w);
void Clone512SecJmp(app::WindowModel& w);
void ErrBreakClone(app::WindowModel& w);
void OneSectorClone(app::WindowModel& w);
void ErrPauseOneSec(app::WindowModel& w);

}  // namespace diskutil
