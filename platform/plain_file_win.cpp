#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include "platform/plain_file.h"
#include "platform/utf8_path.h"

namespace dialmend {

int OpenPlainFile(const std::string& path, PlainOpen how) {
  int flags = _O_BINARY | _O_NOINHERIT;
  switch (how) {
    case PlainOpen::New:
      flags |= _O_WRONLY | _O_CREAT | _O_EXCL;
      break;
    case PlainOpen::NewAppending:
      flags |= _O_WRONLY | _O_CREAT | _O_EXCL | _O_APPEND;
      break;
    case PlainOpen::There:
    case PlainOpen::OwnThere:
      flags |= _O_WRONLY;
      break;
    case PlainOpen::ReadWrite:
      flags |= _O_RDWR;
      break;
  }
  return ::_wopen(PathFromUtf8(path).c_str(), flags, _S_IREAD | _S_IWRITE);
}

long WriteSome(int fd, const char* data, std::size_t size) {
  return ::_write(fd, data, static_cast<unsigned>(size < 0x40000000 ? size : 0x40000000));
}

int SyncToDisk(int fd) {
  return ::_commit(fd);
}

int TruncateFile(int fd, std::uint64_t size) {
  return ::_chsize_s(fd, static_cast<__int64>(size)) == 0 ? 0 : -1;
}

int SeekToEnd(int fd) {
  return ::_lseeki64(fd, 0, SEEK_END) < 0 ? -1 : 0;
}

int ClosePlainFile(int fd) {
  return ::_close(fd);
}

int IsRegularFile(int fd) {
  struct _stat64 info {};
  if (::_fstat64(fd, &info) != 0) return -1;
  return (info.st_mode & _S_IFMT) == _S_IFREG ? 1 : 0;
}

// Windows cannot remove an open file: closes it first. A link is rare enough there not to be
// looked for.
void CloseAndRemove(int fd, const std::string& path) {
  ::_close(fd);
  ::_wunlink(PathFromUtf8(path).c_str());
}

}  // namespace dialmend
