#pragma once

#include <string>

#include "platform/file_lock.h"
#include "platform/result.h"

// The lock by which Thunderbird keeps a profile to itself while it runs: a write lock on the
// profile's `.parentlock` (Linux), the file `parent.lock` opened without sharing (Windows). Held,
// it keeps Thunderbird from starting on the profile; the `lock` link it also leaves says nothing,
// as it stays after Thunderbird has quit.

namespace dialmend {

class ProfileLock {
 public:
  // Takes the lock of the profile folder `profile`, once; fails with why, said of the profile,
  // naming the program and its process when another one holds it ("is in use by thunderbird
  // (process 4242): close Thunderbird and run again").
  Status Take(const std::string& profile);

  [[nodiscard]] bool Held() const { return m_lock.Held(); }

 private:
  FileLock m_lock;
};

}  // namespace dialmend
