#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/plain_file.h"
#include "platform/system_calls.h"

namespace dialmend {

int OpenPlainFile(const std::string& path, PlainOpen how) {
  // No O_NONBLOCK but for OwnThere: a FIFO a user names waits for its reader, as a shell
  // redirection does.
  int flags = O_CLOEXEC;
  switch (how) {
    case PlainOpen::New:
      flags |= O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW;
      break;
    case PlainOpen::NewAppending:
      flags |= O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_APPEND;
      break;
    case PlainOpen::There:
      flags |= O_WRONLY;
      break;
    case PlainOpen::OwnThere:
      flags |= O_WRONLY | O_NOFOLLOW | O_NONBLOCK;
      break;
    case PlainOpen::ReadWrite:
      flags |= O_RDWR;
      break;
  }
  return ::open(path.c_str(), flags, 0600);
}

long WriteSome(int fd, const char* data, std::size_t size) {
  return Sys().write(fd, data, size);
}

int SyncToDisk(int fd) {
  return Sys().fsync(fd);
}

int TruncateFile(int fd, std::uint64_t size) {
  return ::ftruncate(fd, static_cast<off_t>(size));
}

int SeekToEnd(int fd) {
  return ::lseek(fd, 0, SEEK_END) < 0 ? -1 : 0;
}

int ClosePlainFile(int fd) {
  return ::close(fd);
}

int IsRegularFile(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) return -1;
  return S_ISREG(info.st_mode) ? 1 : 0;
}

void CloseAndRemove(int fd, const std::string& path) {
  struct stat open {};
  struct stat named {};
  if (::fstat(fd, &open) == 0 && ::lstat(path.c_str(), &named) == 0 &&
      open.st_dev == named.st_dev && open.st_ino == named.st_ino) {
    ::unlink(path.c_str());
  }
  ::close(fd);
}

}  // namespace dialmend
