#include "stores/outlook/call_watch.h"

namespace dialmend {

HANDLE OutlookCancelEvent() {
  // Made once and kept for the life of the process: a Ctrl-C handler may set it at any time.
  static const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  return event;
}

void CancelOutlookCall() {
  if (const HANDLE event = OutlookCancelEvent()) SetEvent(event);
}

void ForgetOutlookCancel() {
  if (const HANDLE event = OutlookCancelEvent()) ResetEvent(event);
}

}  // namespace dialmend
