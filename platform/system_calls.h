#pragma once

#ifndef _WIN32

#include <sys/types.h>

#include <cstddef>

// The system calls through which the POSIX atomic writer changes files, one pointer each, so a
// test can make any one of them fail as a full disk or a broken file system would, without root.

namespace dialmend {

// Each entry defaults to the system's own call of the same name and behaves exactly like it.
struct SystemCalls {
  int (*mkostemps)(char* name, int suffix_length, int flags);
  ssize_t (*write)(int fd, const void* bytes, std::size_t size);
  int (*fsync)(int fd);
  int (*syncfs)(int fd);
  int (*fchmod)(int fd, mode_t mode);
  int (*fchown)(int fd, uid_t owner, gid_t group);
  int (*renameat2)(int from_folder, const char* from, int to_folder, const char* to,
                   unsigned flags);
  int (*rename)(const char* from, const char* to);
  int (*unlink)(const char* path);
  ssize_t (*flistxattr)(int fd, char* names, std::size_t size);
  ssize_t (*fgetxattr)(int fd, const char* name, void* value, std::size_t size);
  int (*fsetxattr)(int fd, const char* name, const void* value, std::size_t size, int flags);
  int (*fremovexattr)(int fd, const char* name);
  int (*close)(int fd);
  // fcntl(fd, F_SETLEASE, type) and fcntl(fd, F_GETLEASE).
  int (*set_lease)(int fd, int type);
  int (*get_lease)(int fd);
  // Linux's openat2 (struct open_how as `how`); fails with ENOSYS where the kernel has none.
  int (*openat2)(int folder, const char* path, const void* how, std::size_t size);
};

// The calls the writer makes. Only tests change entries, and they put RealSystemCalls() back.
[[nodiscard]] SystemCalls& Sys();

// The system's own calls.
[[nodiscard]] const SystemCalls& RealSystemCalls();

}  // namespace dialmend

#endif
