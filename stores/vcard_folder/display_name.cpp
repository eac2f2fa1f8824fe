#include "stores/vcard_folder/display_name.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <filesystem>
#include <fstream>
#include <system_error>
#endif

#include "platform/utf8_path.h"
#include "stores/vcard_folder/folder_entries.h"

namespace dialmend {
namespace {

// The first line of a folder's `displayname` is its name; more than this is not a name, and
// reading no further keeps a huge or endless file from costing memory.
constexpr std::size_t kMaxDisplayNameBytes = 4096;

}  // namespace

#ifndef _WIN32

Result<std::string> ReadDisplayName(const std::string& folder) {
  const int fd =
      ::open((folder + "/displayname").c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    if (errno != ENOENT)
      return Result<std::string>::Failure("it cannot be read: " + ErrnoText(errno));
    return std::string();
  }
  const struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat info;
  if (::fstat(fd, &info) != 0) {
    return Result<std::string>::Failure("it cannot be read: " + ErrnoText(errno));
  }
  if (!S_ISREG(info.st_mode)) {
    return Result<std::string>::Failure(KindText({{}, KindOf(info.st_mode), {}}));
  }
  std::string bytes(kMaxDisplayNameBytes, '\0');
  std::size_t total = 0;
  while (total < bytes.size()) {
    const ssize_t got = ::read(fd, bytes.data() + total, bytes.size() - total);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      return Result<std::string>::Failure("it cannot be read: " + ErrnoText(errno));
    }
    if (got == 0) break;
    total += static_cast<std::size_t>(got);
  }
  bytes.resize(total);
  const std::size_t end = bytes.find('\n');
  if (end == std::string::npos && total == kMaxDisplayNameBytes &&
      static_cast<std::uint64_t>(info.st_size) > kMaxDisplayNameBytes) {
    return Result<std::string>::Failure("its first line is longer than 4 KiB");
  }
  if (end != std::string::npos) bytes.resize(end);
  return bytes;
}

#else

Result<std::string> ReadDisplayName(const std::string& folder) {
  const std::filesystem::path path = PathFromUtf8(folder) / "displayname";
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(path, error);
  if (!std::filesystem::exists(status)) return std::string();
  if (!std::filesystem::is_regular_file(status)) {
    return Result<std::string>::Failure("it is not a file");
  }
  std::ifstream in(path, std::ios::binary);
  std::string bytes(kMaxDisplayNameBytes, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  if (in.bad()) {
    return Result<std::string>::Failure("it cannot be read");
  }
  const std::size_t end = bytes.find('\n');
  if (end == std::string::npos && bytes.size() == kMaxDisplayNameBytes && in.peek() != EOF) {
    return Result<std::string>::Failure("its first line is longer than 4 KiB");
  }
  if (end != std::string::npos) bytes.resize(end);
  return bytes;
}

#endif

}  // namespace dialmend
