#include "platform/read_lease.h"

#include <fcntl.h>
#include <signal.h>

#include <cerrno>
#include <mutex>

#include "platform/system_calls.h"

namespace dialmend {

ReadLease::ReadLease(int fd) : m_fd(fd) {
  // A broken lease is signalled with SIGIO, whose default ends the process; the lease itself
  // tells all that is needed.
  static std::once_flag ignore_signal;
  std::call_once(ignore_signal, [] {
    struct sigaction current {};
    if (::sigaction(SIGIO, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
      ::signal(SIGIO, SIG_IGN);
    }
  });
  if (Sys().set_lease(m_fd, F_RDLCK) == 0) {
    m_outcome = Outcome::Held;
  } else if (errno == EAGAIN) {
    m_outcome = Outcome::OpenForWriting;
  }
  // Other refusals (a file system without leases, a file of another owner) leave the checks
  // of stamp and content alone to guard the swap.
}

ReadLease::~ReadLease() {
  if (m_outcome == Outcome::Held) Sys().set_lease(m_fd, F_UNLCK);
}

bool ReadLease::Wanted() const {
  return m_outcome == Outcome::Held && Sys().get_lease(m_fd) != F_RDLCK;
}

}  // namespace dialmend
