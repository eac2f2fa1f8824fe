#include "platform/folder_reader.h"

#include "platform/reason.h"
#include "platform/utf8_path.h"

// Windows has no FIFOs or devices in a folder, and no inode numbers in the standard library:
// a folder is known by its path with every link resolved.

namespace dialmend {

namespace fs = std::filesystem;

Result<std::string> FolderIdentity(const std::string& path) {
  std::error_code error;
  const fs::path resolved = fs::canonical(PathFromUtf8(path), error);
  if (error) return Result<std::string>::Failure(ErrorText(error));
  return Utf8FromPath(resolved);
}

Result<FolderReader> FolderReader::Open(const std::string& path) {
  FolderReader reader;
  std::error_code error;
  reader.m_it = fs::directory_iterator(PathFromUtf8(path), error);
  if (error) return Result<FolderReader>::Failure(ErrorText(error));
  return reader;
}

FolderReader::FolderReader(FolderReader&& other) noexcept = default;

FolderReader::~FolderReader() = default;

bool FolderReader::Next() {
  if (m_started) m_it.increment(m_error);
  m_started = true;
  if (m_error || m_it == fs::directory_iterator()) {
    m_name.clear();
    return false;
  }
  m_name = Utf8FromPath(m_it->path().filename());
  return true;
}

std::optional<EntryLook> FolderReader::Look() {
  std::error_code error;
  const fs::file_status status = m_it->status(error);
  if (error || !fs::exists(status)) {
    // Gone since the listing, unless a link that leads nowhere is still there.
    if (!m_it->is_symlink(error)) return std::nullopt;
    return EntryLook{EntryKind::DanglingLink, {}};
  }
  if (fs::is_directory(status)) {
    const fs::path resolved = fs::canonical(m_it->path(), error);
    if (error) return EntryLook{EntryKind::Unreadable, ErrorText(error)};
    return EntryLook{EntryKind::Folder, Utf8FromPath(resolved)};
  }
  if (fs::is_regular_file(status)) return EntryLook{EntryKind::File, {}};
  return EntryLook{EntryKind::Other, {}};
}

EntryKind FolderReader::KindItself() {
  std::error_code error;
  const fs::file_status status = m_it->symlink_status(error);
  if (error) return EntryKind::Unreadable;
  if (fs::is_regular_file(status)) return EntryKind::File;
  return fs::is_directory(status) ? EntryKind::Folder : EntryKind::Other;
}

std::error_code FolderReader::Remove() {
  std::error_code error;
  fs::remove(m_it->path(), error);
  return error;
}

}  // namespace dialmend
