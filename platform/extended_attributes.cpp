#include "platform/extended_attributes.h"

#include <sys/xattr.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "platform/file_descriptor.h"
#include "platform/system_calls.h"

namespace dialmend {
namespace {

// The names of the extended attributes of `fd`, each ended by a zero byte; empty where the file
// system keeps none; or why they cannot be listed.
Result<std::string> AttributeNames(int fd) {
  std::string names;
  for (;;) {
    const ssize_t size = Sys().flistxattr(fd, nullptr, 0);
    if (size < 0 && errno == ENOTSUP) return names;
    if (size < 0) break;
    names.resize(static_cast<std::size_t>(size));
    if (size == 0) return names;
    const ssize_t got = Sys().flistxattr(fd, names.data(), names.size());
    if (got >= 0) {
      names.resize(static_cast<std::size_t>(got));
      return names;
    }
    // ERANGE: an attribute was added since the size was asked.
    if (errno != ERANGE) break;
  }
  return Result<std::string>::Failure(ReasonOf(errno));
}

// The value of attribute `name` of `fd`; std::nullopt with `error` set when it has none or it
// cannot be read.
std::optional<std::string> AttributeValue(int fd, const char* name, int& error) {
  std::string value;
  for (;;) {
    const ssize_t size = Sys().fgetxattr(fd, name, nullptr, 0);
    if (size < 0) break;
    value.resize(static_cast<std::size_t>(size));
    const ssize_t got = Sys().fgetxattr(fd, name, value.data(), value.size());
    if (got >= 0) {
      value.resize(static_cast<std::size_t>(got));
      return value;
    }
    if (errno != ERANGE) break;
  }
  error = errno;
  return std::nullopt;
}

bool Listed(std::string_view names, std::string_view name) {
  for (std::size_t at = 0; at < names.size();) {
    const std::size_t end = names.find('\0', at);
    if (names.substr(at, end - at) == name) return true;
    if (end == std::string_view::npos) break;
    at = end + 1;
  }
  return false;
}

}  // namespace

Status CopyAttributes(int from, int to) {
  const Result<std::string> wanted = AttributeNames(from);
  if (!wanted.Ok()) return Status::Failure(wanted.Message());
  const Result<std::string> present = AttributeNames(to);
  if (!present.Ok()) return Status::Failure(present.Message());
  const auto failed = [](const char* name, int error) {
    return Status::Failure(std::string(name) + ": " + ReasonOf(error));
  };
  // The new file may have inherited attributes of its own, such as the folder's default ACL.
  const std::string& inherited = present.Value();
  for (const char* name = inherited.c_str(); name < inherited.c_str() + inherited.size();
       name += std::strlen(name) + 1) {
    if (!Listed(wanted.Value(), name) && Sys().fremovexattr(to, name) != 0 && errno != ENODATA) {
      return failed(name, errno);
    }
  }
  for (const char* name = wanted.Value().c_str();
       name < wanted.Value().c_str() + wanted.Value().size(); name += std::strlen(name) + 1) {
    int error = 0;
    const std::optional<std::string> value = AttributeValue(from, name, error);
    if (!value) return failed(name, error);
    // A label the new file already carries needs no privilege to keep.
    int unused = 0;
    if (Listed(inherited, name) && AttributeValue(to, name, unused) == value) continue;
    if (Sys().fsetxattr(to, name, value->data(), value->size(), 0) != 0) return failed(name, errno);
  }
  return Status{};
}

}  // namespace dialmend
