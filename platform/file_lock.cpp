#include "platform/file_lock.h"

#include <system_error>

#ifdef _WIN32
#include <windows.h>

#include "platform/utf8_path.h"
#else
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#endif

#include "platform/reason.h"

namespace dialmend {

#ifndef _WIN32

namespace {

// The whole file, for writing.
struct flock WholeFile() {
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  return lock;
}

// Who holds the lock on `fd`, in words.
std::string Holder(int fd) {
  struct flock lock = WholeFile();
  if (::fcntl(fd, F_OFD_GETLK, &lock) != 0 && ::fcntl(fd, F_GETLK, &lock) != 0) {
    return "another program";
  }
  if (lock.l_type == F_UNLCK || lock.l_pid <= 0) return "another program";
  const std::string pid = std::to_string(lock.l_pid);
  std::string name;
  std::getline(std::ifstream("/proc/" + pid + "/comm"), name);
  return (name.empty() ? "a program" : name) + " (process " + pid + ")";
}

Status ErrnoFailure(int error) {
  return Status::Failure(ErrorText(std::error_code(error, std::generic_category())));
}

}  // namespace

FileLock::~FileLock() {
  if (m_fd >= 0) ::close(m_fd);
}

bool FileLock::Held() const {
  return m_fd >= 0;
}

Status FileLock::Take(const std::string& path, std::string& holder) {
  if (Held()) return {};
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return ErrnoFailure(errno);
  // A lock of the open file rather than of the process: a second look at the file elsewhere in
  // this process cannot let it go.
  struct flock lock = WholeFile();
  int result = ::fcntl(fd, F_OFD_SETLK, &lock);
  if (result != 0 && errno == EINVAL) result = ::fcntl(fd, F_SETLK, &lock);
  if (result != 0) {
    const int error = errno;
    if (error == EAGAIN || error == EACCES) holder = Holder(fd);
    ::close(fd);
    return ErrnoFailure(error);
  }
  m_fd = fd;
  return {};
}

#else

FileLock::~FileLock() {
  if (m_handle != nullptr) CloseHandle(m_handle);
}

bool FileLock::Held() const {
  return m_handle != nullptr;
}

Status FileLock::Take(const std::string& path, std::string& holder) {
  if (Held()) return {};
  HANDLE handle = CreateFileW(PathFromUtf8(path).wstring().c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                              nullptr, OPEN_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_SHARING_VIOLATION) holder = "another program";
    return Status::Failure(
        ErrorText(std::error_code(static_cast<int>(error), std::system_category())));
  }
  m_handle = handle;
  return {};
}

#endif

}  // namespace dialmend
