#include "platform/signals.h"

#include <signal.h>

namespace platform {
namespace {

void (*volatile g_onInterrupt)() = nullptr;

extern "C" void HandleInterrupt(int) {
  if (auto fn = g_onInterrupt) fn();
}

}  // namespace

void CatchInterruptOnce(void (*onInterrupt)()) {
  g_onInterrupt = onInterrupt;
  struct sigaction action {};
  action.sa_handler = HandleInterrupt;
  sigemptyset(&action.sa_mask);
  // Interrupted reads and writes go on (the device layer retries EINTR too);
  // the handler is a one-shot, so a second Ctrl-C ends the process.
  action.sa_flags = SA_RESTART | SA_RESETHAND;
  ::sigaction(SIGINT, &action, nullptr);
}

void ReleaseInterrupt() {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  g_onInterrupt = nullptr;
}

}  // namespace platform
