#pragma once

#include <string>

namespace dialmend {

// The full name of the logged-in user, else the login name.
[[nodiscard]] std::string LoggedInUserName();

}  // namespace dialmend
