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

  // Appends `text` unchanged at the very end.
  void WriteLog(std::string_view text);

  // Empties the log.
  void Clear() { m_text.clear(); }

  [[nodiscard]] const std::string& Text() const { return m_text; }

  void SetListener(Listener listener) { m_listener = std::move(listener); }

  // From now on each appended text also goes to `file` (not owned) at once, before the writer
  // goes on; nullptr stops that.
  void SetFile(LogFile* file) { m_file = file; }

 private:
  std::string m_text;
  Listener m_listener;
  LogFile* m_file = nullptr;
};

}  // namespace dialmend
