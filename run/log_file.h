#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/result.h"

namespace dialmend {

// The first "<folder>/Dialmend Log N.txt", N counting from 1, for which `exists` is false.
// The search has no upper limit.
[[nodiscard]] std::string DefaultLogPath(const std::string& folder,
                                         const std::function<bool(const std::string&)>& exists);

// DefaultLogPath on the desktop, testing the file system.
[[nodiscard]] std::string SetLogFile();

// The numbered log name after `path` ("…/Dialmend Log 4.txt" after "…/Dialmend Log 3.txt"), or
// std::nullopt when `path` is not a numbered log name.
[[nodiscard]] std::optional<std::string> NextLogPath(const std::string& path);

// Where a run's log goes.
struct LogTarget {
  std::string path;
  // A numbered default name: when it is taken, the next free number is used instead.
  bool numbered = false;
  // With `numbered`: the file at `path` is this program's own earlier log (the window's last
  // simulation), which is replaced in place instead of passed by. A link there is never
  // followed: it is passed by like any other taken name, and so is anything but a regular file.
  bool replace_own = false;
};

// A run's log file. It is reserved when the run starts and written as the log grows, so that
// however the process ends, the file holds every line written so far. Nothing is ever renamed:
// a named device or FIFO is written into, a named regular file is emptied when the first text
// reaches it and written again, and a numbered name is only ever a new file (or this program's
// own, with LogTarget::replace_own), never reached through a link. A file it creates is readable
// by its owner alone; a file the user named keeps its mode. Nothing here throws.
class LogFile {
 public:
  LogFile() = default;
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;
  ~LogFile();

  // Creates (numbered: exclusively, moving on past taken numbers) or opens the file, closing any
  // file reserved before. Fails with the message for the user ('Cannot save the log to "…":
  // reason.') when it cannot be.
  Status Reserve(const LogTarget& target);

  // The path reserved, once Reserve succeeded (a numbered name may differ from the target's).
  [[nodiscard]] const std::string& Path() const { return m_path; }
  [[nodiscard]] bool IsOpen() const { return m_fd >= 0; }

  // Hands `text` to the system at once, so a process killed later still leaves it in the file.
  // No flush to disk: that waits for Complete. A failure is kept for Complete, and later text
  // is dropped.
  void Append(std::string_view text);

  // Flushes the file to disk and closes it. Fails with the message of the first failure since
  // Reserve, if any.
  Status Complete();

  // Closes the file without completing it, for a run that ended before it read anything: a
  // file Reserve created is removed (when the path still names it), and a file that was there
  // before is left as it was, as no text has reached it.
  void Discard();

 private:
  void Fail(int error);
  // Empties a regular file that was there before, once: just before its first text.
  void EmptyOnce();

  int m_fd = -1;
  bool m_regular = false;
  bool m_created = false;
  bool m_emptied = false;
  std::string m_path;
  Status m_status;
};

// Writes the whole log to `path` as UTF-8, as a run would: reserves the file and completes it.
// Fails with the message for the user ('Cannot save the log to "…": reason.').
Status SaveLogFile(const std::string& path, std::string_view text);

}  // namespace dialmend
