// LoggedInUserName() on Linux and other POSIX systems: the password database.
#include "platform/user_name.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace dialmend {

std::string LoggedInUserName() {
  if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr) {
    // The full name is the first comma-separated part of the GECOS field.
    std::string full = pw->pw_gecos != nullptr ? pw->pw_gecos : "";
    full = full.substr(0, full.find(','));
    if (!full.empty()) return full;
    if (pw->pw_name != nullptr && *pw->pw_name != '\0') return pw->pw_name;
  }
  if (const char* user = std::getenv("USER"); user != nullptr) return user;
  return "";
}

}  // namespace dialmend
