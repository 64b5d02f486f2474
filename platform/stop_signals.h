// SIGINT and SIGTERM as a request to stop: an engine's run ends at its next
// chunk, tidies up, and the front end tells how to go on.
#pragma once

#include <atomic>

namespace platform {

// From now on SIGINT and SIGTERM set `stop` (and remember which signal came)
// instead of ending the process. The first signal is caught; its handler is
// then put back to the default, so a second Ctrl-C ends the process at once.
// `stop` must outlive the catching (call ReleaseStopSignals before it goes).
void CatchStopSignals(std::atomic<bool>& stop);

// Puts SIGINT and SIGTERM back to their default action.
void ReleaseStopSignals();

// Returns: the signal caught since CatchStopSignals (SIGINT or SIGTERM), or 0.
int StopSignalCaught();

// The exit status for a run ended by `signal`: 128 + signal (130, 143).
inline int StopExitStatus(int signal) { return 128 + signal; }

}  // namespace platform
