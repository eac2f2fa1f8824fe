#include "platform/system_info.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

namespace dialmend {
namespace {

// The first executable file named `program` in the folders of PATH; empty when there is none.
std::string FindOnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string folders = path != nullptr ? path : "";
  std::size_t start = 0;
  while (start <= folders.size()) {
    const std::size_t end = std::min(folders.find(':', start), folders.size());
    std::string folder = folders.substr(start, end - start);
    const std::string candidate = (folder.empty() ? std::string(".") : folder) + "/" + program;
    struct stat info {};
    if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
        ::access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
    start = end + 1;
  }
  return {};
}

// Starts `path` with `argument` (when not null) in a process of its own that outlives this one
// and is never waited for; false when it could not be started.
bool StartDetached(const std::string& path, const char* argument) {
  // Made before the fork: between fork and exec only async-signal-safe calls are made.
  std::vector<char*> argv{const_cast<char*>(path.c_str())};
  if (argument != nullptr) argv.push_back(const_cast<char*>(argument));
  argv.push_back(nullptr);
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return false;
  const pid_t child = ::fork();
  if (child == 0) {
    // The grandchild runs the program; the child ends at once, so nobody is left to reap.
    ::setsid();
    const pid_t grandchild = ::fork();
    if (grandchild == 0) {
      ::execv(path.c_str(), argv.data());
      const int error = errno;
      [[maybe_unused]] const auto written = ::write(report[1], &error, sizeof error);
      ::_exit(127);
    }
    ::_exit(grandchild < 0 ? 1 : 0);
  }
  ::close(report[1]);
  int status = 0;
  const bool forked = child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
                      WEXITSTATUS(status) == 0;
  // The pipe closes unread at a successful exec; a failed one writes its errno.
  int error = 0;
  ssize_t got = 0;
  do {
    got = ::read(report[0], &error, sizeof error);
  } while (got < 0 && errno == EINTR);
  ::close(report[0]);
  return forked && got == 0;
}

}  // namespace

bool StartSysInfo() {
  struct Candidate {
    const char* program;
    const char* argument;
  };
  static constexpr Candidate kPrograms[] = {
      {"kinfocenter", nullptr}, {"gnome-control-center", "info-overview"},
      {"xfce4-about", nullptr}, {"hardinfo", nullptr},
      {"lshw-gtk", nullptr},
  };
  for (const Candidate& c : kPrograms) {
    const std::string path = FindOnPath(c.program);
    if (!path.empty() && StartDetached(path, c.argument)) return true;
  }
  return false;
}

}  // namespace dialmend
