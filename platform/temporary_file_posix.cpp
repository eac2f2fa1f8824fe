#include "platform/temporary_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <vector>

#include "platform/reason.h"

namespace dialmend {
namespace {

std::string Reason(int error) {
  return ErrorText(std::error_code(error, std::generic_category()));
}

// An unlinked file in `folder`, or -1 with errno set.
int OpenUnlinked(const std::string& folder) {
  int fd = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return fd;
  // A file system without O_TMPFILE: a named file, unlinked at once.
  std::string path = folder + "/dialmend-XXXXXX";
  fd = mkostemp(path.data(), O_CLOEXEC);
  if (fd >= 0 && unlink(path.c_str()) != 0) {
    const int error = errno;
    close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

}  // namespace

Status TemporaryFile::Open() {
  Close();
  std::vector<std::string> folders;
  if (const char* tmpdir = std::getenv("TMPDIR"); tmpdir != nullptr && *tmpdir != '\0') {
    folders.emplace_back(tmpdir);
  }
  folders.emplace_back("/var/tmp");
  folders.emplace_back("/tmp");
  std::string first_failure;
  for (const std::string& folder : folders) {
    m_fd = OpenUnlinked(folder);
    if (m_fd >= 0) return {};
    if (first_failure.empty()) first_failure = "in \"" + folder + "\": " + Reason(errno);
  }
  return Status::Failure(first_failure);
}

bool TemporaryFile::IsOpen() const {
  return m_fd >= 0;
}

void TemporaryFile::Close() {
  if (m_fd >= 0) close(m_fd);
  m_fd = -1;
}

Status TemporaryFile::Write(std::uint64_t offset, std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote =
        pwrite(m_fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote < 0) return Status::Failure(Reason(errno));
    if (wrote == 0) return Status::Failure("the file system took nothing more");
    done += static_cast<std::size_t>(wrote);
  }
  return {};
}

Result<std::string> TemporaryFile::Read(std::uint64_t offset, std::size_t length) const {
  std::string bytes(length, '\0');
  std::size_t done = 0;
  while (done < length) {
    const ssize_t got =
        pread(m_fd, bytes.data() + done, length - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return Result<std::string>::Failure(Reason(errno));
    if (got == 0) return Result<std::string>::Failure("it is shorter than written");
    done += static_cast<std::size_t>(got);
  }
  return bytes;
}

Status TemporaryFile::Truncate() {
  if (ftruncate(m_fd, 0) != 0) return Status::Failure(Reason(errno));
  return {};
}

}  // namespace dialmend
