#pragma once

// The other Windows headers need what windows.h declares first.
#include <windows.h>

// A call that Outlook takes but does not answer (a security prompt behind another window, the
// Choose Profile dialog, a hung Outlook), or keeps refusing while busy, would hold the run with
// nothing shown. What the user is told of such a wait, and how it is ended from any thread.
// Windows only.

namespace dialmend {

// How long one call waits before the user is told, and what they are told: of a call Outlook
// has taken and not answered, and of one it keeps refusing as busy.
inline constexpr unsigned long kWaitNoticeMs = 3000;
inline constexpr char kWaitNotice[] =
    "Waiting for Outlook to answer: a dialog box or a security prompt may be open in Outlook";
inline constexpr char kBusyNotice[] =
    "Waiting for Outlook, which is busy: a dialog box may be open in Outlook";

// A call stopped sooner than this is left to finish: it is no hung call, and ending its wait
// would leave unknown whether a save it made took effect.
inline constexpr unsigned long kStopAfterMs = 500;

// Ends the wait for the Outlook call a run in this process is waiting on, from any thread (a
// Ctrl-C handler): the run then ends as an abort. A call that starts waiting after this is
// ended too, until a store opens again.
void CancelOutlookCall();

// The manual-reset event CancelOutlookCall sets, for a wait to wake on.
[[nodiscard]] HANDLE OutlookCancelEvent();

// Forgets an earlier CancelOutlookCall: a store is opening again.
void ForgetOutlookCancel();

}  // namespace dialmend
