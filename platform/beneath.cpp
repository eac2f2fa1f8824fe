#include "platform/beneath.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_descriptor.h"
#include "platform/system_calls.h"
#endif

#include "platform/utf8_path.h"

namespace dialmend {
namespace {

constexpr std::string_view kLinkInTheWay = "a symbolic link stands in its way";

bool IsSeparator(char c) {
#ifdef _WIN32
  return c == '/' || c == '\\';
#else
  return c == '/';
#endif
}

Status Refused(std::string reason) {
  return Status::Failure(reason, reason);
}

#ifndef _WIN32

Status RefusedErrno(int error) {
  if (error == ELOOP) return Refused(std::string(kLinkInTheWay));
  if (error == EXDEV) return Refused("it lies outside the store");
  return Refused(ReasonOf(error));
}

// Opens `relative` beneath `folder` with one call, or fails with errno; ENOSYS (and the
// EPERM of a sandbox that forbids the call) where the kernel cannot.
int OpenAt2(int folder, const std::string& relative) {
  open_how how{};
  how.flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  return Sys().openat2(folder, relative.c_str(), &how, sizeof how);
}

// Opens `relative` beneath `folder` a part at a time, none of them followed if it is a link.
int OpenPartByPart(int folder, const std::string& relative) {
  Descriptor at(::dup(folder));
  if (at.Get() < 0) return -1;
  std::size_t begin = 0;
  for (;;) {
    const std::size_t end = relative.find('/', begin);
    const std::string part = relative.substr(begin, end - begin);
    if (end == std::string::npos) {
      return ::openat(at.Get(), part.c_str(),
                      O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
    }
    const int next =
        ::openat(at.Get(), part.c_str(), O_RDONLY | O_CLOEXEC | O_DIRECTORY | O_NOFOLLOW);
    // A link to a folder refused by O_NOFOLLOW reads as "not a folder" on some systems.
    if (next < 0) {
      if (errno == ENOTDIR) {
        struct stat info {};
        if (::fstatat(at.Get(), part.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISLNK(info.st_mode)) {
          errno = ELOOP;
        }
      }
      return -1;
    }
    at.Reset(next);
    begin = end + 1;
  }
}

#endif

}  // namespace

std::optional<std::string> RelativeBeneath(std::string_view root, std::string_view path) {
  while (!root.empty() && IsSeparator(root.back())) root.remove_suffix(1);
  if (!path.starts_with(root) || path.size() <= root.size() + 1 ||
      !IsSeparator(path[root.size()])) {
    return std::nullopt;
  }
  path.remove_prefix(root.size() + 1);
  std::string relative;
  std::size_t begin = 0;
  for (;;) {
    std::size_t end = begin;
    while (end < path.size() && !IsSeparator(path[end])) ++end;
    const std::string_view part = path.substr(begin, end - begin);
    if (part.empty() || part == "." || part == ".." || part.find('\0') != std::string::npos) {
      return std::nullopt;
    }
    relative.append(part);
    if (end == path.size()) return relative;
    relative += '/';
    begin = end + 1;
  }
}

FileBeneath OpenBeneath(const std::filesystem::path& root, std::string_view relative) {
  FileBeneath found;
  const std::string parts(relative);
  if (parts.empty() || RelativeBeneath("/", "/" + parts) != parts) {
    found.status = Refused("it lies outside the store");
    return found;
  }
#ifdef _WIN32
  // Windows holds nothing open between reading and saving; each part is looked at instead.
  std::filesystem::path at = root;
  std::size_t begin = 0;
  for (;;) {
    const std::size_t end = parts.find('/', begin);
    at /= PathFromUtf8(parts.substr(begin, end - begin));
    const DWORD attributes = ::GetFileAttributesW(at.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      found.status = Refused(::GetLastError() == ERROR_ACCESS_DENIED ? "permission denied"
                                                                     : "no such file or directory");
      return found;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      found.status = Refused(std::string(kLinkInTheWay));
      return found;
    }
    if (end == std::string::npos) return found;
    begin = end + 1;
  }
#else
  const Descriptor folder(::open(root.c_str(), O_RDONLY | O_CLOEXEC | O_DIRECTORY));
  if (folder.Get() < 0) {
    found.status = RefusedErrno(errno);
    return found;
  }
  int fd = OpenAt2(folder.Get(), parts);
  if (fd < 0 && (errno == ENOSYS || errno == EPERM || errno == E2BIG)) {
    fd = OpenPartByPart(folder.Get(), parts);
  }
  if (fd < 0) {
    found.status = RefusedErrno(errno);
    return found;
  }
  found.file = HeldFile(fd);
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    found.status = RefusedErrno(errno);
  } else if (!S_ISREG(info.st_mode)) {
    found.status = Refused("it is not a regular file");
  }
  return found;
#endif
}

}  // namespace dialmend
