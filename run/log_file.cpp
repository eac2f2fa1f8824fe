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
// How a log file is opened: created new (never through a link), or opened as it is there,
// through links (a user's /dev/stdout) or not (a name of our own).
enum class OpenAs { New, There, OwnThere };

#ifdef _WIN32
using StatBuffer = struct _stat64;
int OpenLog(const std::string& path, OpenAs as) {
  int flags = _O_WRONLY | _O_BINARY | _O_NOINHERIT;
  if (as == OpenAs::New) flags |= _O_CREAT | _O_EXCL;
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
// Windows cannot remove an open file: closes it first. A link is rare enough there not to be
// looked for.
void CloseAndRemove(int fd, const std::string& path) {
  ::_close(fd);
  ::_wunlink(PathFromUtf8(path).c_str());
}
#else
using StatBuffer = struct stat;
int OpenLog(const std::string& path, OpenAs as) {
  // No O_NONBLOCK: a FIFO waits for its reader, as a shell redirection does.
  int flags = O_WRONLY | O_CLOEXEC;
  if (as == OpenAs::New) flags |= O_CREAT | O_EXCL | O_NOFOLLOW;
  // A FIFO planted at our own name must not hold the run until a reader comes.
  if (as == OpenAs::OwnThere) flags |= O_NOFOLLOW | O_NONBLOCK;
  // The log holds the same numbers as the undo record: for the owner's eyes only.
  return ::open(path.c_str(), flags, 0600);
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
// Removes `path` only while it still names the file open as `fd`: another file put there
// since is not ours to remove.
void CloseAndRemove(int fd, const std::string& path) {
  struct stat open {};
  struct stat named {};
  if (::fstat(fd, &open) == 0 && ::lstat(path.c_str(), &named) == 0 &&
      open.st_dev == named.st_dev && open.st_ino == named.st_ino) {
    ::unlink(path.c_str());
  }
  ::close(fd);
}
#endif

Status CannotSave(const std::string& path, const std::string& reason) {
  return Status::Failure("Cannot save the log to \"" + path + "\": " + reason + ".", reason);
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
  bool replace = numbered && target.replace_own;
  bool created = false;
  int fd = -1;
  while (fd < 0) {
    if (replace) {
      fd = OpenLog(path, OpenAs::OwnThere);
      if (fd >= 0) break;
      if (errno == EINTR) continue;
      replace = false;
      // Gone since: made again. A link, or anything refused, is passed by.
      if (errno != ENOENT) path = *NextLogPath(path);
      continue;
    }
    fd = OpenLog(path, OpenAs::New);
    if (fd >= 0) {
      created = true;
    } else if (errno == EEXIST && numbered) {
      // Exclusive creation makes two runs at once take two numbers, never one file.
      path = *NextLogPath(path);
    } else if (errno == EEXIST) {
      fd = OpenLog(path, OpenAs::There);
      if (fd < 0 && errno != ENOENT && errno != EINTR)
        return CannotSave(path, ReasonOf(errno, path));
    } else if (errno != EINTR) {
      return CannotSave(path, ReasonOf(errno, path));
    }
  }

  StatBuffer info{};
  if (StatOf(fd, info) != 0) {
    const int error = errno;
    CloseLog(fd);
    return CannotSave(path, ReasonOf(error, path));
  }
  m_regular = IsRegular(info);
  if (replace && !m_regular) {
    // Not the file this program wrote: another name is taken instead.
    CloseLog(fd);
    LogTarget next = target;
    next.path = *NextLogPath(path);
    next.replace_own = false;
    return Reserve(next);
  }
  m_fd = fd;
  m_created = created;
  m_emptied = false;
  m_path = std::move(path);
  m_status = {};
  return {};
}

void LogFile::Fail(int error) {
  if (m_status.Ok()) m_status = CannotSave(m_path, ReasonOf(error, m_path));
}

void LogFile::EmptyOnce() {
  // A regular file named by the user becomes this run's log; a device or FIFO is written into.
  if (m_emptied || m_created || !m_regular) return;
  m_emptied = true;
  if (Empty(m_fd) != 0) Fail(errno);
}

void LogFile::Append(std::string_view text) {
  if (m_fd < 0) return;
  EmptyOnce();
  if (!m_status.Ok()) return;
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
  EmptyOnce();
  // A device or FIFO has nothing to flush, and some refuse to be asked.
  if (m_regular && SyncToDisk(m_fd) != 0) Fail(errno);
  if (CloseLog(m_fd) != 0) Fail(errno);
  m_fd = -1;
  return m_status;
}

void LogFile::Discard() {
  if (m_fd < 0) return;
  if (m_created) {
    CloseAndRemove(m_fd, m_path);
  } else {
    CloseLog(m_fd);
  }
  m_fd = -1;
}

Status SaveLogFile(const std::string& path, std::string_view text) {
  LogFile file;
  if (Status reserved = file.Reserve({path, false}); !reserved.Ok()) return reserved;
  file.Append(text);
  return file.Complete();
}

}  // namespace dialmend
