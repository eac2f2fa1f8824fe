#include "run/log_file.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "platform/atomic_file_common.h"
#include "platform/desktop_directory.h"
#include "platform/plain_file.h"
#include "platform/utf8_path.h"

namespace dialmend {
namespace {

constexpr std::string_view kLogStem = "Dialmend Log ";
constexpr std::string_view kLogSuffix = ".txt";

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
  if (m_fd >= 0) ClosePlainFile(m_fd);
}

Status LogFile::Reserve(const LogTarget& target) {
  if (target.path.empty()) return Status::Failure("Cannot save the log: no log file was given.");
  if (m_fd >= 0) ClosePlainFile(m_fd);
  m_fd = -1;
  std::string path = target.path;
  const bool numbered = target.numbered && NextLogPath(path).has_value();
  bool replace = numbered && target.replace_own;
  bool created = false;
  int fd = -1;
  while (fd < 0) {
    if (replace) {
      fd = OpenPlainFile(path, PlainOpen::OwnThere);
      if (fd >= 0) break;
      if (errno == EINTR) continue;
      replace = false;
      // Gone since: made again. A link, or anything refused, is passed by.
      if (errno != ENOENT) path = *NextLogPath(path);
      continue;
    }
    fd = OpenPlainFile(path, PlainOpen::New);
    if (fd >= 0) {
      created = true;
    } else if (errno == EEXIST && numbered) {
      // Exclusive creation makes two runs at once take two numbers, never one file.
      path = *NextLogPath(path);
    } else if (errno == EEXIST) {
      fd = OpenPlainFile(path, PlainOpen::There);
      if (fd < 0 && errno != ENOENT && errno != EINTR)
        return CannotSave(path, ReasonOf(errno, path));
    } else if (errno != EINTR) {
      return CannotSave(path, ReasonOf(errno, path));
    }
  }

  const int regular = IsRegularFile(fd);
  if (regular < 0) {
    const int error = errno;
    ClosePlainFile(fd);
    return CannotSave(path, ReasonOf(error, path));
  }
  m_regular = regular == 1;
  if (replace && !m_regular) {
    // Not the file this program wrote: another name is taken instead.
    ClosePlainFile(fd);
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
  if (TruncateFile(m_fd, 0) != 0) Fail(errno);
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
  if (ClosePlainFile(m_fd) != 0) Fail(errno);
  m_fd = -1;
  return m_status;
}

void LogFile::Discard() {
  if (m_fd < 0) return;
  if (m_created) {
    CloseAndRemove(m_fd, m_path);
  } else {
    ClosePlainFile(m_fd);
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
