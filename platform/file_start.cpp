#include "platform/file_start.h"

#include <cerrno>
#include <cstdint>
#include <system_error>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/folder_reader.h"
#include "platform/reason.h"
#else
#include <filesystem>
#include <fstream>

#include "platform/utf8_path.h"
#endif

namespace dialmend {

#ifndef _WIN32

namespace {

Result<FileStart> Unreadable(int error) {
  return Result<FileStart>::Failure("it cannot be read: " +
                                    ErrorText(std::error_code(error, std::generic_category())));
}

}  // namespace

Result<FileStart> ReadFileStart(const std::string& path, std::size_t most) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) return FileStart();
  if (fd < 0) return Unreadable(errno);
  const struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat info;
  if (::fstat(fd, &info) != 0) return Unreadable(errno);
  if (!S_ISREG(info.st_mode)) return Result<FileStart>::Failure(KindText(KindOfMode(info.st_mode)));
  FileStart start;
  start.bytes.resize(most);
  std::size_t total = 0;
  while (total < most) {
    const ssize_t got = ::read(fd, start.bytes.data() + total, most - total);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return Unreadable(errno);
    if (got == 0) break;
    total += static_cast<std::size_t>(got);
  }
  start.bytes.resize(total);
  start.more = total == most && static_cast<std::uint64_t>(info.st_size) > most;
  return start;
}

#else

Result<FileStart> ReadFileStart(const std::string& path, std::size_t most) {
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(PathFromUtf8(path), error);
  if (!std::filesystem::exists(status)) return FileStart();
  if (!std::filesystem::is_regular_file(status)) {
    return Result<FileStart>::Failure("it is not a file");
  }
  std::ifstream in(PathFromUtf8(path), std::ios::binary);
  FileStart start;
  start.bytes.resize(most);
  in.read(start.bytes.data(), static_cast<std::streamsize>(most));
  start.bytes.resize(static_cast<std::size_t>(in.gcount()));
  if (in.bad()) return Result<FileStart>::Failure("it cannot be read");
  start.more = start.bytes.size() == most && in.peek() != EOF;
  return start;
}

#endif

}  // namespace dialmend
