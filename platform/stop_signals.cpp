#include "platform/stop_signals.h"

#include <signal.h>

namespace platform {
namespace {

std::atomic<bool>* volatile g_stop = nullptr;
std::atomic<int> g_caught{0};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free);

extern "C" void HandleStopSignal(int signal) {
  int none = 0;
  g_caught.compare_exchange_strong(none, signal);
  if (std::atomic<bool>* stop = g_stop) stop->store(true);
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
  g_stop = &stop;
  // Interrupted reads and writes go on (the device layer retries EINTR too).
  SetAction(SIGINT, HandleStopSignal, SA_RESTART | SA_RESETHAND);
  SetAction(SIGTERM, HandleStopSignal, SA_RESTART | SA_RESETHAND);
}

int StopSignalCaught() { return g_caught.load(); }

void ReleaseStopSignals() {
  SetAction(SIGINT, SIG_DFL, 0);
  SetAction(SIGTERM, SIG_DFL, 0);
  g_stop = nullptr;
}

}  // namespace platform
