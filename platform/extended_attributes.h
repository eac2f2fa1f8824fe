#pragma once

#ifndef _WIN32

#include <string>

namespace dialmend {

// Gives the open file `to` exactly the extended attributes of the open file `from`, the ACL
// (system.posix_acl_access) among them. Returns why not, or an empty text; never throws.
[[nodiscard]] std::string CopyAttributes(int from, int to);

}  // namespace dialmend

#endif
