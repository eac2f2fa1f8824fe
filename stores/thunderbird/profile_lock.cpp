#include "stores/thunderbird/profile_lock.h"

#include "platform/utf8_path.h"

namespace dialmend {

Status ProfileLock::Take(const std::string& profile) {
#ifdef _WIN32
  constexpr const char* kLockFile = "parent.lock";
#else
  constexpr const char* kLockFile = ".parentlock";
#endif
  std::string holder;
  const Status taken = m_lock.Take(Utf8FromPath(PathFromUtf8(profile) / kLockFile), holder);
  if (taken.Ok()) return {};
  if (!holder.empty()) {
    return Status::Failure("is in use by " + holder + ": close Thunderbird and run again");
  }
  return Status::Failure("cannot be locked: " + taken.Message());
}

}  // namespace dialmend
