#include "log/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "log/atomic_file_common.h"

namespace dialmend {

std::string PathText(const std::filesystem::path& path) {
  return path.string();
}

namespace {

static_assert(kTempRandomLength == 6, "mkostemps fills in exactly six X's");

// The system's words for an errno value, in lower case to sit after a colon.
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

// Closes the descriptor on every path out of a function.
class Descriptor {
 public:
  explicit Descriptor(int fd) : m_fd(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (m_fd >= 0) ::close(m_fd);
  }

  int Get() const { return m_fd; }

  // Closes now, so the caller sees the error a late write-back may report.
  int Close() {
    const int result = ::close(m_fd);
    m_fd = -1;
    return result;
  }

 private:
  int m_fd;
};

// Removes the temporary file unless it was renamed into place.
class TempFileGuard {
 public:
  explicit TempFileGuard(std::string path) : m_path(std::move(path)) {}
  TempFileGuard(const TempFileGuard&) = delete;
  TempFileGuard& operator=(const TempFileGuard&) = delete;
  ~TempFileGuard() {
    if (!m_kept) ::unlink(m_path.c_str());
  }

  void Keep() { m_kept = true; }

 private:
  std::string m_path;
  bool m_kept = false;
};

// Returns 0, or the errno of the failed write.
int WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return 0;
}

// Reads and stamps an open descriptor for ReadOpenFile.
class DescriptorReader : public OpenFile {
 public:
  explicit DescriptorReader(int fd) : m_fd(fd) {}

  std::optional<std::size_t> Read(char* buffer, std::size_t size, std::string& reason) override {
    for (;;) {
      const ssize_t got = ::read(m_fd, buffer, size);
      if (got >= 0) return static_cast<std::size_t>(got);
      if (errno == EINTR) continue;
      reason = ReasonOf(errno);
      return std::nullopt;
    }
  }

  std::optional<FileStamp> Stamp(std::string& reason) override {
    struct stat info {};
    if (::fstat(m_fd, &info) != 0) {
      reason = ReasonOf(errno);
      return std::nullopt;
    }
    return StampOf(info);
  }

 private:
  int m_fd;
};

}  // namespace

FileSnapshot ReadFileSnapshot(const std::filesystem::path& path, std::size_t max_bytes) {
  FileSnapshot snapshot;
  // Without O_NONBLOCK a FIFO in the folder would hang the walk in open().
  Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (file.Get() < 0) {
    snapshot.status = FileFailure(kCannotRead, path, ReasonOf(errno));
    return snapshot;
  }
  struct stat before {};
  if (::fstat(file.Get(), &before) != 0) {
    snapshot.status = FileFailure(kCannotRead, path, ReasonOf(errno));
    return snapshot;
  }
  if (!S_ISREG(before.st_mode)) {
    snapshot.status = FileFailure(kCannotRead, path, "it is not a regular file");
    return snapshot;
  }
  DescriptorReader reader(file.Get());
  return ReadOpenFile(reader, path, max_bytes, StampOf(before));
}

FileStatus WriteAtomically(const std::filesystem::path& path, std::string_view bytes,
                           const FileStamp* expected,
                           std::optional<std::string_view> expected_content) {
  std::filesystem::path target = path;
  struct stat link {};
  if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
    // Renaming over the link would turn it into a plain file and leave the linked file stale.
    std::error_code error;
    target = std::filesystem::canonical(path, error);
    if (error) return FileFailure(kCannotSave, path, ReasonOf(error.value()));
  }

  const auto still_as_read = [&](std::string_view changed_reason) -> FileStatus {
    if (expected == nullptr) return FileStatus{};
    struct stat info {};
    if (::stat(target.c_str(), &info) != 0) {
      if (errno == ENOENT) {
        return FileFailure(kCannotSave, path, "it was removed after it was read");
      }
      return FileFailure(kCannotSave, path, ReasonOf(errno));
    }
    return CheckStillAsRead(path, target, StampOf(info), *expected, expected_content,
                            changed_reason);
  };
  if (FileStatus status = still_as_read("another program changed it after it was read"); !status) {
    return status;
  }
  struct stat original {};
  bool exists = ::stat(target.c_str(), &original) == 0;
  if (!exists && (expected != nullptr || errno != ENOENT)) {
    return FileFailure(kCannotSave, path, ReasonOf(errno));
  }
  if (!exists) {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    original.st_mode = 0666 & ~mask;
    original.st_uid = ::geteuid();
    original.st_gid = ::getegid();
  }

  std::filesystem::path folder = target.parent_path();
  if (folder.empty()) folder = ".";
  // The dot hides the file, and the suffix keeps sync tools from taking it for a card.
  const std::string name = target.filename().string();
  std::string temp_name = "." + name.substr(0, kTempNameKeep);
  temp_name += kTempMarker;
  temp_name.append(kTempRandomLength, 'X');
  temp_name += kTempSuffix;
  std::string temp_path = (folder / temp_name).string();
  Descriptor temp(::mkostemps(temp_path.data(), static_cast<int>(kTempSuffix.size()), O_CLOEXEC));
  if (temp.Get() < 0) return FileFailure(kCannotSave, path, ReasonOf(errno));
  TempFileGuard guard(temp_path);

  if (const int error = WriteAll(temp.Get(), bytes); error != 0) {
    return FileFailure(kCannotSave, path, ReasonOf(error));
  }
  if (::fchmod(temp.Get(), original.st_mode & 07777) != 0) {
    return FileFailure(kCannotSave, path, ReasonOf(errno));
  }
  if (original.st_uid != ::geteuid() || original.st_gid != ::getegid()) {
    // Only root may give a file away; anyone else makes the file theirs, as any editor does.
    if (::fchown(temp.Get(), original.st_uid, original.st_gid) != 0 && errno != EPERM) {
      return FileFailure(kCannotSave, path, ReasonOf(errno));
    }
  }
  if (::fsync(temp.Get()) != 0) return FileFailure(kCannotSave, path, ReasonOf(errno));
  if (temp.Close() != 0) return FileFailure(kCannotSave, path, ReasonOf(errno));

  // Checked again just before the rename, to keep the window for a lost update small.
  if (FileStatus status = still_as_read("another program changed it while it was being saved");
      !status) {
    return status;
  }
  if (::rename(temp_path.c_str(), target.c_str()) != 0) {
    return FileFailure(kCannotSave, path, ReasonOf(errno));
  }
  guard.Keep();

  // Without this the rename itself may not survive a power cut.
  Descriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  // The new content is in place whatever this gives: some file systems cannot flush a folder.
  if (directory.Get() >= 0) (void)::fsync(directory.Get());
  return FileStatus{};
}

}  // namespace dialmend
