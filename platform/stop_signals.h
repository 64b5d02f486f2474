// SIGINT and SIGTERM turned into a run's stop request, so a long run ends
// after the unit in hand and leaves its records whole.
#pragma once

#include <atomic>

namespace platform {

// From now on SIGINT and SIGTERM set `stop` (which must outlive the process's
// use of it) and are remembered; each handler is a one-shot, so a second
// signal of the same kind ends the process at once.
void CatchStopSignals(std::atomic<bool>& stop);

// The signal (SIGINT or SIGTERM) caught since CatchStopSignals, else 0.
int StopSignalCaught();

// Puts SIGINT and SIGTERM back to their default actions.
void ReleaseStopSignals();

}  // namespace platform
