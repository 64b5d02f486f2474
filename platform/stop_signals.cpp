#include "platform/stop_signals.h"

#include <signal.h>

namespace platform {
namespace {

std::atomic<bool>* volatile g_stop = nullptr;
volatile sig_atomic_t g_caught = 0;

static_assert(std::atomic<bool>::is_always_lock_free, "a signal handler stores into it");

extern "C" void HandleStopSignal(int signal) {
  g_caught = signal;
  if (auto* stop = g_stop) stop->store(true);
}

void SetAction(int signal, void (*handler)(int), int flags) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = flags;
  ::sigaction(signal, &action, nullptr);
}

}  // namespace

void CatchStopSignals(std::atomic<bool>& stop) {
  g_caught = 0;
  g_stop = &stop;
  // Interrupted reads and writes go on; a second signal of the same kind
  // ends the process.
  SetAction(SIGINT, HandleStopSignal, SA_RESTART | SA_RESETHAND);
  SetAction(SIGTERM, HandleStopSignal, SA_RESTART | SA_RESETHAND);
}

void ReleaseStopSignals() {
  SetAction(SIGINT, SIG_DFL, 0);
  SetAction(SIGTERM, SIG_DFL, 0);
  g_stop = nullptr;
}

int StopSignalCaught() { return g_caught; }

}  // namespace platform
