#pragma once

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

}  // namespace dialmend
