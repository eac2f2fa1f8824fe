#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace dialmend {

class LogFile;

// The activity log: one text that the run's writers append to. Each writer brings its own
// CR LF line ends; nothing is added here.
class ActivityLog {
 public:
  // Called with each appended text, so a pane or a terminal can keep up as the log grows.
  using Listener = std::function<void(std::string_view appended)>;

  // With `keep_text` false the log keeps no copy of its text: it only passes each piece on to
  // its file and its listener, so a long run costs no memory for its log. Text() is then empty.
  explicit ActivityLog(bool keep_text = true) : m_keep_text(keep_text) {}

  // Appends `text` unchanged at the very end.
  void WriteLog(std::string_view text);

  // Empties the log.
  void Clear() { m_text.clear(); }

  // Everything written since the last Clear(), when the log keeps its text.
  [[nodiscard]] const std::string& Text() const { return m_text; }

  void SetListener(Listener listener) { m_listener = std::move(listener); }

  // From now on each appended text also goes to `file` (not owned) at once, before the writer
  // goes on; nullptr stops that.
  void SetFile(LogFile* file) { m_file = file; }

 private:
  bool m_keep_text;
  std::string m_text;
  Listener m_listener;
  LogFile* m_file = nullptr;
};

}  // namespace dialmend
