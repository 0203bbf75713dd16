#include "common/interrupt.h"

#include <csignal>

namespace korv::interrupt {

namespace {

volatile std::sig_atomic_t received = 0;
volatile std::sig_atomic_t receivedCount = 0;

extern "C" void onSignal(int number) {
  if (received == 0) {
    received = number;
  }
  receivedCount = receivedCount + 1;
}

}  // namespace

void install() {
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  for (const int number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    // A signal the run was started to ignore (under nohup, as a script's background job) stays
    // ignored.
    struct sigaction current {};
    if (sigaction(number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) {
      continue;
    }
    sigaction(number, &action, nullptr);
  }
}

int signal() {
  return received;
}

int count() {
  return receivedCount;
}

void reset() {
  received = 0;
  receivedCount = 0;
}

Interrupted::Interrupted(int signal) : std::runtime_error(describe(signal)), signal(signal) {}

void throwIfPending() {
  if (received != 0) {
    throw Interrupted(received);
  }
}

std::string describe(int signal) {
  switch (signal) {
    case SIGINT:
      return "Interrupted by SIGINT.";
    case SIGTERM:
      return "Interrupted by SIGTERM.";
    case SIGHUP:
      return "Interrupted by SIGHUP.";
    case SIGQUIT:
      return "Interrupted by SIGQUIT.";
    default:
      return "Interrupted by signal " + std::to_string(signal) + ".";
  }
}

}  // namespace korv::interrupt
