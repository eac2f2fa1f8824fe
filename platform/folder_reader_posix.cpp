#include "platform/folder_reader.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/reason.h"

namespace dialmend {
namespace {

std::error_code Errno(int error) {
  return std::error_code(error, std::generic_category());
}

std::string IdentityOf(const struct stat& info) {
  return std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
}

}  // namespace

EntryKind KindOfMode(unsigned int mode) {
  if (S_ISREG(mode)) return EntryKind::File;
  if (S_ISDIR(mode)) return EntryKind::Folder;
  if (S_ISFIFO(mode)) return EntryKind::Fifo;
  if (S_ISCHR(mode) || S_ISBLK(mode)) return EntryKind::Device;
  if (S_ISSOCK(mode)) return EntryKind::Socket;
  return EntryKind::Other;
}

Result<std::string> FolderIdentity(const std::string& path) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0)
    return Result<std::string>::Failure(ErrorText(Errno(errno)));
  return IdentityOf(info);
}

Result<FolderReader> FolderReader::Open(const std::string& path) {
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) return Result<FolderReader>::Failure(ErrorText(Errno(errno)));
  FolderReader reader;
  reader.m_dir = dir;
  reader.m_fd = ::dirfd(dir);
  return reader;
}

FolderReader::FolderReader(FolderReader&& other) noexcept
    : m_dir(std::exchange(other.m_dir, nullptr)),
      m_fd(std::exchange(other.m_fd, -1)),
      m_type(other.m_type),
      m_name(other.m_name),
      m_error(other.m_error) {}

FolderReader::~FolderReader() {
  if (m_dir != nullptr) ::closedir(static_cast<DIR*>(m_dir));
}

bool FolderReader::Next() {
  for (;;) {
    errno = 0;
    const dirent* listed = ::readdir(static_cast<DIR*>(m_dir));
    if (listed == nullptr) {
      m_error = Errno(errno);
      m_name = {};
      return false;
    }
    const char* name = listed->d_name;
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
    m_name = name;
    m_type = listed->d_type;
    return true;
  }
}

std::optional<EntryLook> FolderReader::Look() {
  switch (m_type) {
    case DT_REG:
      return EntryLook{EntryKind::File, {}};
    case DT_FIFO:
      return EntryLook{EntryKind::Fifo, {}};
    case DT_CHR:
    case DT_BLK:
      return EntryLook{EntryKind::Device, {}};
    case DT_SOCK:
      return EntryLook{EntryKind::Socket, {}};
    default:
      break;
  }
  struct stat info;
  if (::fstatat(m_fd, m_name.data(), &info, 0) == 0) {
    const EntryKind kind = KindOfMode(info.st_mode);
    return EntryLook{kind, kind == EntryKind::Folder ? IdentityOf(info) : std::string()};
  }
  const int error = errno;
  if (error == ELOOP) return EntryLook{EntryKind::LinkLoop, {}};
  if (error != ENOENT) return EntryLook{EntryKind::Unreadable, ErrorText(Errno(error))};
  // Gone since the listing, unless a link that leads nowhere is still there.
  if (m_type == DT_DIR) return std::nullopt;
  if (m_type == DT_UNKNOWN &&
      (::fstatat(m_fd, m_name.data(), &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(info.st_mode))) {
    return std::nullopt;
  }
  return EntryLook{EntryKind::DanglingLink, {}};
}

EntryKind FolderReader::KindItself() {
  switch (m_type) {
    case DT_REG:
      return EntryKind::File;
    case DT_DIR:
      return EntryKind::Folder;
    case DT_UNKNOWN:
      break;
    default:
      return EntryKind::Other;
  }
  struct stat info;
  if (::fstatat(m_fd, m_name.data(), &info, AT_SYMLINK_NOFOLLOW) != 0) return EntryKind::Unreadable;
  if (S_ISREG(info.st_mode)) return EntryKind::File;
  return S_ISDIR(info.st_mode) ? EntryKind::Folder : EntryKind::Other;
}

std::error_code FolderReader::Remove() {
  return ::unlinkat(m_fd, m_name.data(), 0) == 0 ? std::error_code() : Errno(errno);
}

}  // namespace dialmend
