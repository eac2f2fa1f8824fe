#include "platform/termination_signals.h"

#include <windows.h>

namespace dialmend {
namespace {

volatile std::sig_atomic_t* g_count = nullptr;
void (*g_on_first)() = nullptr;

// Windows calls this on a thread of its own. Returning FALSE hands a second Ctrl-C, and a
// closing console, to the default handler, which ends the program.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  if ((event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) || *g_count > 0) return FALSE;
  *g_count = 1;
  if (g_on_first != nullptr) g_on_first();
  return TRUE;
}

}  // namespace

Result<int> WatchTerminationSignals() {
  return Result<int>::Failure("Termination signals are not caught on Windows.");
}

void DrainTerminationSignals(int) {}

void StopWatchingTerminationSignals() {}

void CountInterrupts(volatile std::sig_atomic_t* count, void (*on_first)()) {
  g_count = count;
  g_on_first = on_first;
  ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

}  // namespace dialmend
