#include "platform/termination_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>

namespace dialmend {
namespace {

constexpr int kSignals[] = {SIGTERM, SIGHUP, SIGINT};

// A signal handler may do next to nothing: it writes one byte, and the event loop, which
// watches the other end, does the rest.
int g_pipe[2] = {-1, -1};

extern "C" void OnTerminationSignal(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const auto written = ::write(g_pipe[1], &byte, 1);
  errno = saved;
}

volatile std::sig_atomic_t* g_interrupts = nullptr;

// The first asks the program to stop at its next step; a second ends it at once.
extern "C" void OnInterrupt(int signal_number) {
  if (*g_interrupts > 0) {
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
    return;
  }
  *g_interrupts = 1;
}

}  // namespace

Result<int> WatchTerminationSignals() {
  if (g_pipe[0] < 0 && ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    return Result<int>::Failure(std::string("Cannot catch termination signals: ") +
                                std::strerror(errno) + ".");
  }
  struct sigaction action {};
  action.sa_handler = OnTerminationSignal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (int signal_number : kSignals) ::sigaction(signal_number, &action, nullptr);
  return g_pipe[0];
}

void DrainTerminationSignals(int fd) {
  char bytes[64];
  while (::read(fd, bytes, sizeof bytes) > 0) {
  }
}

void StopWatchingTerminationSignals() {
  for (int signal_number : kSignals) std::signal(signal_number, SIG_DFL);
}

void CountInterrupts(volatile std::sig_atomic_t* count, void (*)()) {
  g_interrupts = count;
  for (int signal_number : kSignals) std::signal(signal_number, OnInterrupt);
  std::signal(SIGPIPE, SIG_IGN);
}

}  // namespace dialmend
