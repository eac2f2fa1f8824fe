#include "run/activity_log.h"

#include "run/log_file.h"

namespace dialmend {

void ActivityLog::WriteLog(std::string_view text) {
  if (m_keep_text) m_text.append(text);
  if (m_file != nullptr) m_file->Append(text);
  if (m_listener) m_listener(text);
}

}  // namespace dialmend
