#pragma once

#ifndef _WIN32

#include "platform/result.h"

namespace dialmend {

// Gives the open file `to` exactly the extended attributes of the open file `from`, the ACL
// (system.posix_acl_access) among them, or says why not; never throws.
[[nodiscard]] Status CopyAttributes(int from, int to);

}  // namespace dialmend

#endif
