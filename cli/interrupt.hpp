// Ctrl-C on the command line: while a guard lives, SIGINT asks the host to
// cancel the call it runs (the call ends within a fraction of a second with
// message 398) and is remembered, so that a script stops after that line
// and mvts exits with status 130, as a shell expects of an interrupted
// command.  A second Ctrl-C ends the process at once, as without the guard.
#pragma once

#include "host/host.hpp"

namespace mvts::cli {

// Exit status of a run ended by Ctrl-C: 128 + SIGINT.
inline constexpr int kExitInterrupted = 130;

class InterruptGuard {
 public:
  explicit InterruptGuard(Host& host);
  ~InterruptGuard();
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;
};

// True once SIGINT has arrived while a guard lived.
bool interrupted();

}  // namespace mvts::cli
