// Ctrl-C on the command line.
#pragma once

namespace platform {

// Calls `onInterrupt` when the process gets SIGINT (Ctrl-C), once: the
// handler is then put back to the default, so a second Ctrl-C ends the
// process at once. `onInterrupt` runs in signal context: it may only store
// into lock-free atomics.
void CatchInterruptOnce(void (*onInterrupt)());

// Puts SIGINT back to its default action.
void ReleaseInterrupt();

}  // namespace platform
