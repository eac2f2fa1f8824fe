#include "platform/file_descriptor.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "platform/atomic_file_common.h"
#include "platform/system_calls.h"

namespace dialmend {

static_assert(kTempRandomLength == 6, "mkostemps fills in exactly six X's");

std::string ReasonOf(int error) {
  return AsReason(std::generic_category().message(error));
}

FileStamp StampOf(const struct stat& info) {
  FileStamp stamp;
  stamp.size = static_cast<std::uint64_t>(info.st_size);
  stamp.mtime_ns = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 +
                   static_cast<std::int64_t>(info.st_mtim.tv_nsec);
  stamp.inode = static_cast<std::uint64_t>(info.st_ino);
  stamp.device = static_cast<std::uint64_t>(info.st_dev);
  return stamp;
}

std::int64_t ChangeTimeOf(const struct stat& info) {
  return static_cast<std::int64_t>(info.st_ctim.tv_sec) * 1'000'000'000 +
         static_cast<std::int64_t>(info.st_ctim.tv_nsec);
}

Descriptor::~Descriptor() {
  if (m_fd >= 0) Sys().close(m_fd);
}

void Descriptor::Reset(int fd) {
  if (m_fd >= 0) Sys().close(m_fd);
  m_fd = fd;
}

int Descriptor::Close() {
  const int result = Sys().close(m_fd);
  m_fd = -1;
  return result;
}

TempFileGuard::~TempFileGuard() {
  if (!m_kept) Sys().unlink(m_path.c_str());
}

// Returns 0, or the errno of the failed write.
int WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = Sys().write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return 0;
}

bool IsFileAt(const char* path, const struct stat& info) {
  struct stat named {};
  return ::lstat(path, &named) == 0 && named.st_ino == info.st_ino && named.st_dev == info.st_dev;
}

Descriptor MakeTempFile(const std::filesystem::path& target, std::string& temp_path) {
  std::filesystem::path folder = target.parent_path();
  if (folder.empty()) folder = ".";
  // The dot hides the file, and the suffix keeps sync tools from taking it for a card.
  const std::string name = target.filename().string();
  std::string temp_name = "." + name.substr(0, kTempNameKeep);
  temp_name += kTempMarker;
  temp_name.append(kTempRandomLength, 'X');
  temp_name += kTempSuffix;
  temp_path = (folder / temp_name).string();
  return Descriptor(
      Sys().mkostemps(temp_path.data(), static_cast<int>(kTempSuffix.size()), O_CLOEXEC));
}

std::filesystem::path FolderOf(const std::filesystem::path& target) {
  std::filesystem::path folder = target.parent_path();
  return folder.empty() ? std::filesystem::path(".") : folder;
}

void SyncFolderAt(const std::filesystem::path& folder) {
  Descriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  // The new content is in place whatever this gives: some file systems cannot flush a folder.
  if (directory.Get() >= 0) (void)Sys().fsync(directory.Get());
}

void SyncFolder(const std::filesystem::path& target) {
  SyncFolderAt(FolderOf(target));
}

}  // namespace dialmend
