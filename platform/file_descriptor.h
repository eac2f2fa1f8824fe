#pragma once

#ifndef _WIN32

#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>

#include "platform/atomic_file.h"

// The POSIX descriptors, names and flushes the atomic writer is built from. Nothing here throws.

namespace dialmend {

// The system's words for an errno value, in lower case to sit after a colon.
[[nodiscard]] std::string ReasonOf(int error);

// The stamp of the file `info` describes.
[[nodiscard]] FileStamp StampOf(const struct stat& info);

// The change time of the file `info` describes, in nanoseconds.
[[nodiscard]] std::int64_t ChangeTimeOf(const struct stat& info);

// Closes the descriptor on every path out of a function.
class Descriptor {
 public:
  explicit Descriptor(int fd) : m_fd(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor();

  // The descriptor, or a negative number when none is held.
  [[nodiscard]] int Get() const { return m_fd; }

  // Hands the descriptor to the caller, who closes it.
  int Release() { return std::exchange(m_fd, -1); }

  // Closes the descriptor held, if any, and holds `fd` instead.
  void Reset(int fd);

  // Closes now, so the caller sees the error a late write-back may report.
  int Close();

 private:
  int m_fd;
};

// Removes the temporary file unless it was renamed into place.
class TempFileGuard {
 public:
  explicit TempFileGuard(std::string path) : m_path(std::move(path)) {}
  TempFileGuard(const TempFileGuard&) = delete;
  TempFileGuard& operator=(const TempFileGuard&) = delete;
  ~TempFileGuard();

  // The file is in place under its new name: it stays.
  void Keep() { m_kept = true; }

 private:
  std::string m_path;
  bool m_kept = false;
};

// Writes all of `bytes`. Returns 0, or the errno of the failed write.
[[nodiscard]] int WriteAll(int fd, std::string_view bytes);

// Whether the file named `path` is the one open as `info`.
[[nodiscard]] bool IsFileAt(const char* path, const struct stat& info);

// The hidden temporary file beside `target`, created and open for writing; its name goes to
// `temp_path`. Holds a negative descriptor, errno set, when it cannot be made.
[[nodiscard]] Descriptor MakeTempFile(const std::filesystem::path& target, std::string& temp_path);

// The folder `target` is in.
[[nodiscard]] std::filesystem::path FolderOf(const std::filesystem::path& target);

// Flushes `folder`: without this a rename in it may not survive a power cut.
void SyncFolderAt(const std::filesystem::path& folder);

// Flushes the folder of `target`.
void SyncFolder(const std::filesystem::path& target);

}  // namespace dialmend

#endif
