#include "platform/system_calls.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace dialmend {
namespace {

int SetLease(int fd, int type) {
  return ::fcntl(fd, F_SETLEASE, type);
}

int GetLease(int fd) {
  return ::fcntl(fd, F_GETLEASE);
}

}  // namespace

const SystemCalls& RealSystemCalls() {
  static const SystemCalls real{
      ::mkostemps,    ::write,  ::fsync,  ::syncfs,     ::fchmod,    ::fchown,
      ::renameat2,    ::rename, ::unlink, ::flistxattr, ::fgetxattr, ::fsetxattr,
      ::fremovexattr, ::close,  SetLease, GetLease,
  };
  return real;
}

SystemCalls& Sys() {
  static SystemCalls calls = RealSystemCalls();
  return calls;
}

}  // namespace dialmend
