#include "log/activity_log.h"

namespace dialmend {

void ActivityLog::WriteLog(std::string_view text) {
  m_text.append(text);
  if (m_listener) m_listener(text);
}

}  // namespace dialmend
