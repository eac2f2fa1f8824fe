#pragma once

#include <string>

#include "platform/result.h"

// A whole-file write lock held for as long as the object lives, as programs that keep a folder
// to themselves take it: an open-file lock (fcntl) on POSIX; on Windows the file opened without
// sharing and removed when let go.

namespace dialmend {

class FileLock {
 public:
  FileLock() = default;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  ~FileLock();

  // Takes the lock of the file at `path` (made when missing), once. Fails with the system's
  // reason; when another program holds the lock, `holder` then names it in words
  // ("thunderbird (process 4242)", or "another program" when the system does not say).
  [[nodiscard]] Status Take(const std::string& path, std::string& holder);

  [[nodiscard]] bool Held() const;

 private:
#ifdef _WIN32
  void* m_handle = nullptr;
#else
  int m_fd = -1;
#endif
};

}  // namespace dialmend
