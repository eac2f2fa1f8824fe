#include <csignal>
#include <string>
#include <string_view>
#include <vector>

#include "cli/run_command.h"
#include "platform/date_format.h"
#include "platform/program_start.h"

#ifdef _WIN32
#include <windows.h>

#include "stores/outlook/call_watch.h"
#endif

namespace {

volatile std::sig_atomic_t g_interrupts = 0;

#ifdef _WIN32
// Windows calls this on a thread of its own. Returning FALSE hands a second Ctrl-C, and a
// closing console, to the default handler, which ends the program.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  if ((event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) || g_interrupts > 0) return FALSE;
  g_interrupts = 1;
  // The run stops between contacts; a call Outlook never answers is cancelled here.
  dialmend::CancelOutlookCall();
  return TRUE;
}
#else
// The first Ctrl-C, SIGTERM (logout, shutdown) or SIGHUP (the terminal closed) asks the run to
// stop between contacts; a second one ends at once, the log file already listing every change
// saved.
extern "C" void OnInterrupt(int signal_number) {
  if (g_interrupts > 0) {
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
    return;
  }
  g_interrupts = 1;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  dialmend::UseUserDateFormat();
#ifdef _WIN32
  ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
#else
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) std::signal(signal_number, OnInterrupt);
  // A closed reader (| head) shows as a failed write, which ends the run with its log saved.
  std::signal(SIGPIPE, SIG_IGN);
#endif
  const std::vector<std::string> words = dialmend::Utf8Arguments(argc, argv);
  dialmend::UseUtf8ConsoleOutput();
  const std::vector<std::string_view> args(words.begin(), words.end());
  return dialmend::RunCommand(args, stdout, stderr, &g_interrupts);
}
