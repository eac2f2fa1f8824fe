#include "run/log_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "platform/atomic_file_common.h"
#include "platform/desktop_directory.h"
#include "platform/utf8_path.h"

namespace dialmend {
namespace {

constexpr std::string_view kLogStem = "Dialmend Log ";
constexpr std::string_view kLogSuffix = ".txt";

// The few calls that differ between the C libraries, under one set of names.
#ifdef _WIN32
using StatBuffer = struct _stat64;
int OpenLog(const std::string& path, bool exclusive) {
  const int flags = _O_WRONLY | _O_CREAT | _O_BINARY | _O_NOINHERIT | (exclusive ? _O_EXCL : 0);
  return ::_wopen(PathFromUtf8(path).c_str(), flags, _S_IREAD | _S_IWRITE);
}
int StatOf(int fd, StatBuffer& info) {
  return ::_fstat64(fd, &info);
}
bool IsRegular(const StatBuffer& info) {
  return (info.st_mode & _S_IFMT) == _S_IFREG;
}
int Empty(int fd) {
  return ::_chsize_s(fd, 0) == 0 ? 0 : -1;
}
long WriteSome(int fd, const char* data, std::size_t size) {
  return ::_write(fd, data, static_cast<unsigned>(size < 0x40000000 ? size : 0x40000000));
}
int SyncToDisk(int fd) {
  return ::_commit(fd);
}
int CloseLog(int fd) {
  return ::_close(fd);
}
#else
using StatBuffer = struct stat;
int OpenLog(const std::string& path, bool exclusive) {
  // No O_NONBLOCK: a FIFO waits for its reader, as a shell redirection does.
  const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (exclusive ? O_EXCL : 0);
  return ::open(path.c_str(), flags, 0666);
}
int StatOf(int fd, StatBuffer& info) {
  return ::fstat(fd, &info);
}
bool IsRegular(const StatBuffer& info) {
  return S_ISREG(info.st_mode);
}
int Empty(int fd) {
  return ::ftruncate(fd, 0);
}
long WriteSome(int fd, const char* data, std::size_t size) {
  return ::write(fd, data, size);
}
int SyncToDisk(int fd) {
  return ::fsync(fd);
}
int CloseLog(int fd) {
  return ::close(fd);
}
#endif

Status CannotSave(const std::string& path, const std::string& reason) {
  return Status::Failure("Cannot save the log to \"" + path + "\": " + reason + ".");
}

std::string ReasonOf(int error, const std::string& path) {
  std::error_code ec;
  // Windows refuses a folder as "permission denied"; say what it is.
  if (error == EACCES && std::filesystem::is_directory(PathFromUtf8(path), ec)) {
    error = EISDIR;
  }
  return AsReason(std::generic_category().message(error));
}

}  // namespace

std::string DefaultLogPath(const std::string& folder,
                           const std::function<bool(const std::string&)>& exists) {
  const std::filesystem::path base = PathFromUtf8(folder);
  for (unsigned long long n = 1;; ++n) {
    std::string candidate = Utf8FromPath(
        base / PathFromUtf8(std::string(kLogStem) + std::to_string(n) + std::string(kLogSuffix)));
    if (!exists(candidate)) return candidate;
  }
}

std::string SetLogFile() {
  return DefaultLogPath(DesktopDirectory(), [](const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(PathFromUtf8(path), ec) || ec;
  });
}

std::optional<std::string> NextLogPath(const std::string& path) {
  const std::filesystem::path whole = PathFromUtf8(path);
  const std::string name = Utf8FromPath(whole.filename());
  if (!name.starts_with(kLogStem) || !name.ends_with(kLogSuffix)) return std::nullopt;
  const std::string digits =
      name.substr(kLogStem.size(), name.size() - kLogStem.size() - kLogSuffix.size());
  if (digits.empty() || digits.size() > 18 || digits[0] == '0' ||
      digits.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  const std::string next =
      std::string(kLogStem) + std::to_string(std::stoull(digits) + 1) + std::string(kLogSuffix);
  return Utf8FromPath(whole.parent_path() / PathFromUtf8(next));
}

LogFile::~LogFile() {
  if (m_fd >= 0) CloseLog(m_fd);
}

Status LogFile::Reserve(const LogTarget& target) {
  if (target.path.empty()) return Status::Failure("Cannot save the log: no log file was given.");
  if (m_fd >= 0) CloseLog(m_fd);
  m_fd = -1;
  std::string path = target.path;
  const bool numbered = target.numbered && NextLogPath(path).has_value();
  int fd;
  while ((fd = OpenLog(path, numbered)) < 0) {
    if (errno == EINTR) continue;
    // Exclusive creation makes two runs at once take two numbers, never one file.
    if (numbered && errno == EEXIST) {
      path = *NextLogPath(path);
      continue;
    }
    return CannotSave(path, ReasonOf(errno, path));
  }

  StatBuffer info{};
  if (StatOf(fd, info) != 0) {
    const int error = errno;
    CloseLog(fd);
    return CannotSave(path, ReasonOf(error, path));
  }
  m_regular = IsRegular(info);
  // A regular file named by the user becomes this run's log; a device or FIFO is written into.
  if (m_regular && Empty(fd) != 0) {
    const int error = errno;
    CloseLog(fd);
    return CannotSave(path, ReasonOf(error, path));
  }
  m_fd = fd;
  m_path = std::move(path);
  m_status = {};
  return {};
}

void LogFile::Fail(int error) {
  if (m_status.Ok()) m_status = CannotSave(m_path, ReasonOf(error, m_path));
}

void LogFile::Append(std::string_view text) {
  if (m_fd < 0 || !m_status.Ok()) return;
  while (!text.empty()) {
    const long written = WriteSome(m_fd, text.data(), text.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      Fail(errno);
      return;
    }
    if (written == 0) {
      Fail(ENOSPC);
      return;
    }
    text.remove_prefix(static_cast<std::size_t>(written));
  }
}

Status LogFile::Complete() {
  if (m_fd < 0) return m_status;
  // A device or FIFO has nothing to flush, and some refuse to be asked.
  if (m_regular && SyncToDisk(m_fd) != 0) Fail(errno);
  if (CloseLog(m_fd) != 0) Fail(errno);
  m_fd = -1;
  return m_status;
}

Status SaveLogFile(const std::string& path, std::string_view text) {
  LogFile file;
  if (Status reserved = file.Reserve({path, false}); !reserved.Ok()) return reserved;
  file.Append(text);
  return file.Complete();
}

}  // namespace dialmend
