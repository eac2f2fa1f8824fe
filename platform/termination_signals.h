#pragma once

#include <csignal>

#include "platform/result.h"

// SIGTERM (logout, shutdown), SIGHUP and SIGINT turned into something an event loop can watch,
// so that a window closes as its close box would, its run aborted and its log saved.

namespace dialmend {

// From now on these signals end nothing by themselves: each makes the returned file descriptor
// readable. Fails saying why they cannot be caught (on Windows there are none to catch).
[[nodiscard]] Result<int> WatchTerminationSignals();

// Reads away what the signals wrote to `fd`, once the event loop has seen it readable.
void DrainTerminationSignals(int fd);

// Gives the signals their default action again.
void StopWatchingTerminationSignals();

// For a console program: from now on the first Ctrl-C, SIGTERM or SIGHUP (Ctrl-C or Ctrl-Break on
// Windows) sets `*count` to 1, and a second ends the program as if nothing caught it. A closed
// reader (| head) shows as a failed write, not as a signal. `on_first`, when given, runs at the
// first on Windows only, on the console's thread of its own: a POSIX signal handler may do next
// to nothing.
void CountInterrupts(volatile std::sig_atomic_t* count, void (*on_first)() = nullptr);

}  // namespace dialmend
