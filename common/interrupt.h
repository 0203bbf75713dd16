// Ctrl-C (SIGINT), SIGTERM, a hang-up (SIGHUP) and SIGQUIT: noted by a handler, acted on where
// the run can stop cleanly, so that the session token is still released and no partial export
// file is left.
#pragma once

#include <stdexcept>
#include <string>

namespace korv::interrupt {

// Installs the handlers (without SA_RESTART, so a blocking call returns early); a signal that
// is ignored when the run starts stays ignored.
void install();
// The first interrupting signal received, or 0.
int signal();
// How many interrupting signals have been received.
int count();
// Forgets received signals (for tests).
void reset();

// The run was interrupted by a signal.
class Interrupted : public std::runtime_error {
 public:
  explicit Interrupted(int signal);
  int Signal() const { return signal; }

 private:
  int signal;
};

// Raises Interrupted when a signal has been received.
void throwIfPending();

// "Interrupted by SIGINT." and the like.
std::string describe(int signal);

}  // namespace korv::interrupt
