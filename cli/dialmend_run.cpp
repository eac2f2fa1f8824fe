#include <csignal>
#include <string>
#include <string_view>
#include <vector>

#include "cli/run_command.h"
#include "platform/date_format.h"
#include "platform/program_start.h"
#include "platform/termination_signals.h"

#ifdef _WIN32
#include "stores/outlook/call_watch.h"
#endif

namespace {

volatile std::sig_atomic_t g_interrupts = 0;

}  // namespace

int main(int argc, char** argv) {
  dialmend::UseUserDateFormat();
  // The first Ctrl-C, SIGTERM (logout, shutdown) or SIGHUP (the terminal closed) asks the run to
  // stop between contacts; a second one ends at once, the log file already listing every change
  // saved. A closed reader (| head) ends the run with its log saved.
#ifdef _WIN32
  // A call Outlook never answers is cancelled at once.
  dialmend::CountInterrupts(&g_interrupts, dialmend::CancelOutlookCall);
#else
  dialmend::CountInterrupts(&g_interrupts);
#endif
  const std::vector<std::string> words = dialmend::Utf8Arguments(argc, argv);
  dialmend::UseUtf8ConsoleOutput();
  const std::vector<std::string_view> args(words.begin(), words.end());
  return dialmend::RunCommand(args, stdout, stderr, &g_interrupts);
}
