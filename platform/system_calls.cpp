#include "platform/system_calls.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace dialmend {

const SystemCalls& RealSystemCalls() {
  static const SystemCalls real{
      ::mkostemps, ::write,      ::fsync,     ::fchmod,    ::fchown,       ::renameat2, ::rename,
      ::unlink,    ::flistxattr, ::fgetxattr, ::fsetxattr, ::fremovexattr, ::close,
  };
  return real;
}

SystemCalls& Sys() {
  static SystemCalls calls = RealSystemCalls();
  return calls;
}

}  // namespace dialmend
