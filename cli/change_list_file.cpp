#include "cli/change_list_file.h"

#include <cerrno>
#include <system_error>

#include "platform/reason.h"
#include "platform/terminal.h"
#include "run/change_list.h"

namespace dialmend {

Status ChangeListFile::Open(const std::string& target, std::FILE* out) {
  if (target == "-") {
    m_name = "standard output";
    m_out = out;
    // Each record ends in CR LF already: text mode would write CR CR LF.
    UseBinaryMode(out);
    return {};
  }
  m_name = "\"" + target + "\"";
  if (const Status reserved = m_file.Reserve({target, false}); !reserved.Ok()) {
    return Failure(reserved.Reason());
  }
  return {};
}

void ChangeListFile::Write(std::string_view records) {
  if (!m_started) {
    m_started = true;
    Write(kChangeListHeader);
  }
  if (m_out == nullptr) {
    m_file.Append(records);
    return;
  }
  if (m_error != 0) return;
  errno = 0;
  if (std::fwrite(records.data(), 1, records.size(), m_out) != records.size() ||
      std::fflush(m_out) != 0) {
    m_error = errno != 0 ? errno : EIO;
  }
}

Status ChangeListFile::Close() {
  if (!m_started) Write({});
  if (m_out == nullptr) {
    const Status completed = m_file.Complete();
    return completed.Ok() ? completed : Failure(completed.Reason());
  }
  if (m_error != 0) return Failure(AsReason(std::generic_category().message(m_error)));
  return {};
}

Status ChangeListFile::Failure(std::string reason) const {
  return Status::Failure("Cannot write the change list to " + m_name + ": " + reason + ".");
}

}  // namespace dialmend
