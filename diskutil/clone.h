// The clone family: a drive copied onto another sector by sector, with five
// ways around unreadable areas, the Target and StopRun commands, and the
// stop request they share.
//
//   Clone           chunks of 512 sectors; an unreadable chunk is retried
//                   sector by sector, bad sectors skipped on both drives
//   Clone512SecJmp  chunks; an unreadable chunk is skipped whole
//   ErrBreakClone   chunks; stops at the first unreadable chunk, moves the
//                   start sector back one chunk, then runs ErrPauseOneSec
//   OneSectorClone  one sector at a time; bad sectors skipped
//   ErrPauseOneSec  one sector at a time; stops at the first bad sector,
//                   sets the start sector past it, then runs Add
//
// The source is the drive picked in the drive list, the target the one the
// Target command took; the window's fields hold the start sector (1041), the
// bytes to go (1010), the next sector (1040), the bad-sector count (1039) and
// the last unreadable area (1049).
#pragma once

#include <atomic>

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

void Clone(app::WindowModel& w);
void Clone512SecJmp(app::WindowModel& w);
void ErrBreakClone(app::WindowModel& w);
void OneSectorClone(app::WindowModel& w);
void ErrPauseOneSec(app::WindowModel& w);

}  // namespace diskutil
