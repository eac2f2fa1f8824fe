#include "stores/thunderbird/profile_lock.h"

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
namespace {

constexpr const char* kCloseIt = ": close Thunderbird and run again";

#ifndef _WIN32

// The whole file, for writing, as Thunderbird locks it.
struct flock WholeFile() {
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  return lock;
}

// Who holds the lock on `fd`, in words ("thunderbird (process 4242)"); "another program" when
// the system does not say.
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

#endif

}  // namespace

#ifndef _WIN32

ProfileLock::~ProfileLock() {
  if (m_fd >= 0) ::close(m_fd);
}

bool ProfileLock::Held() const {
  return m_fd >= 0;
}

Status ProfileLock::Take(const std::string& profile) {
  if (Held()) return {};
  const std::string path = profile + "/.parentlock";
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    const int error = errno;
    return Status::Failure("cannot be locked: " +
                           ErrorText(std::error_code(error, std::generic_category())));
  }
  // A lock of the open file rather than of the process: a second look at the file elsewhere in
  // this process cannot let it go.
  struct flock lock = WholeFile();
  int result = ::fcntl(fd, F_OFD_SETLK, &lock);
  if (result != 0 && errno == EINVAL) result = ::fcntl(fd, F_SETLK, &lock);
  if (result != 0) {
    const int error = errno;
    std::string why =
        error == EAGAIN || error == EACCES
            ? "is in use by " + Holder(fd) + kCloseIt
            : "cannot be locked: " + ErrorText(std::error_code(error, std::generic_category()));
    ::close(fd);
    return Status::Failure(std::move(why));
  }
  m_fd = fd;
  return {};
}

#else

ProfileLock::~ProfileLock() {
  if (m_handle != nullptr) CloseHandle(m_handle);
}

bool ProfileLock::Held() const {
  return m_handle != nullptr;
}

Status ProfileLock::Take(const std::string& profile) {
  if (Held()) return {};
  const std::wstring path = (PathFromUtf8(profile) / L"parent.lock").wstring();
  // Thunderbird opens it so, and deletes it when it closes.
  HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_SHARING_VIOLATION) {
      return Status::Failure(std::string("is in use by another program") + kCloseIt);
    }
    return Status::Failure(
        "cannot be locked: " +
        ErrorText(std::error_code(static_cast<int>(error), std::system_category())));
  }
  m_handle = handle;
  return {};
}

#endif

}  // namespace dialmend
