#include "platform/folder_reader.h"

#include "platform/reason.h"

namespace dialmend {

std::string KindText(EntryKind kind, std::string_view detail) {
  switch (kind) {
    case EntryKind::Folder:
      return "it is a folder, not a file";
    case EntryKind::Fifo:
      return "it is a FIFO, not a file";
    case EntryKind::Device:
      return "it is a device, not a file";
    case EntryKind::Socket:
      return "it is a socket, not a file";
    case EntryKind::DanglingLink:
      return "it is a dangling link (what it names does not exist)";
    case EntryKind::LinkLoop:
      return "it is a link that leads round in a circle";
    case EntryKind::Unreadable:
      return "it cannot be looked at: " + std::string(detail);
    default:
      return "it is not a file";
  }
}

Status FolderReader::Finished() const {
  if (!m_error) return Status();
  return Status::Failure(ErrorText(m_error));
}

}  // namespace dialmend
