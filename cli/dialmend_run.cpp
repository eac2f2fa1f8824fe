#include <csignal>
#include <clocale>
#include <string_view>
#include <vector>

#include "cli/run_command.h"

namespace {

volatile std::sig_atomic_t g_interrupts = 0;

// The first Ctrl-C asks the run to stop between contacts; a second one ends at once.
extern "C" void OnInterrupt(int signal_number) {
  if (g_interrupts > 0) {
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
    return;
  }
  g_interrupts = 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_TIME, "");
  std::signal(SIGINT, OnInterrupt);
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  return dialmend::RunCommand(args, stdout, stderr, &g_interrupts);
}
