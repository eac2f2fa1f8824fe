#include "platform/termination_signals.h"

namespace dialmend {

Result<int> WatchTerminationSignals() {
  return Result<int>::Failure("Termination signals are not caught on Windows.");
}

void DrainTerminationSignals(int) {}

void StopWatchingTerminationSignals() {}

}  // namespace dialmend
