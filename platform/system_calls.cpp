#include "platform/system_calls.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>

namespace dialmend {
namespace {

int SetLease(int fd, int type) {
  return ::fcntl(fd, F_SETLEASE, type);
}

int GetLease(int fd) {
  return ::fcntl(fd, F_GETLEASE);
}

// The C library has no wrapper for it.
int OpenAt2(int folder, const char* path, const void* how, std::size_t size) {
#ifdef SYS_openat2
  return static_cast<int>(::syscall(SYS_openat2, folder, path, how, size));
#else
  (void)folder;
  (void)path;
  (void)how;
  (void)size;
  errno = ENOSYS;
  return -1;
#endif
}

}  // namespace

const SystemCalls& RealSystemCalls() {
  static const SystemCalls real{
      ::mkostemps,    ::write,  ::fsync,  ::syncfs,     ::fchmod,    ::fchown,
      ::renameat2,    ::rename, ::unlink, ::flistxattr, ::fgetxattr, ::fsetxattr,
      ::fremovexattr, ::close,  SetLease, GetLease,     OpenAt2,
  };
  return real;
}

SystemCalls& Sys() {
  static SystemCalls calls = RealSystemCalls();
  return calls;
}

}  // namespace dialmend
