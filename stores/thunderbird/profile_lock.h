#pragma once

#include <string>

#include "platform/result.h"

// The lock by which Thunderbird keeps a profile to itself while it runs: a POSIX write lock on the
// profile's `.parentlock` (Linux), the file `parent.lock` opened without sharing (Windows). Held,
// it keeps Thunderbird from starting on the profile; the `lock` link it also leaves says nothing,
// as it stays after Thunderbird has quit.

namespace dialmend {

class ProfileLock {
 public:
  ProfileLock() = default;
  ProfileLock(const ProfileLock&) = delete;
  ProfileLock& operator=(const ProfileLock&) = delete;
  ~ProfileLock();

  // Takes the lock of the profile folder `profile`, once; fails with why, said of the profile,
  // naming the program and its process when another one holds it ("is in use by thunderbird
  // (process 4242): close Thunderbird and run again").
  Status Take(const std::string& profile);

  [[nodiscard]] bool Held() const;

 private:
#ifdef _WIN32
  void* m_handle = nullptr;
#else
  int m_fd = -1;
#endif
};

}  // namespace dialmend
