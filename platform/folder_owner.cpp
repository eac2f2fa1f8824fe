#include "platform/folder_owner.h"

#ifndef _WIN32
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/file_descriptor.h"
#include "platform/system_calls.h"
#endif

#include <system_error>

#include "platform/reason.h"

namespace dialmend {

#ifdef _WIN32

std::optional<FileOwner> OwnerOfFilesIn(const std::filesystem::path&) {
  return std::nullopt;
}

Status MakeFolders(const std::filesystem::path& folder, const std::optional<FileOwner>&) {
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) return Status::Failure(ErrorText(error), ErrorText(error));
  return {};
}

Status GiveFile(int, const FileOwner&) {
  return {};
}

std::optional<std::string> OtherOwnerOf(const std::filesystem::path&) {
  return std::nullopt;
}

std::string RunningLogin() {
  return {};
}

#else

namespace {

Status Failed(int error) {
  return Status::Failure(ReasonOf(error), ReasonOf(error));
}

std::string LoginOf(uid_t user) {
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(user, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr ||
      found->pw_name == nullptr) {
    return std::to_string(user);
  }
  return found->pw_name;
}

}  // namespace

std::optional<FileOwner> OwnerOfFilesIn(const std::filesystem::path& folder) {
  if (::geteuid() != 0) return std::nullopt;
  for (std::filesystem::path at = folder;; at = at.parent_path()) {
    struct stat info {};
    if (::stat(at.c_str(), &info) == 0) {
      if (info.st_uid == 0) return std::nullopt;
      return FileOwner{info.st_uid, info.st_gid};
    }
    if (errno != ENOENT || !at.has_relative_path()) return std::nullopt;
  }
}

Status MakeFolders(const std::filesystem::path& folder, const std::optional<FileOwner>& owner) {
  std::vector<std::filesystem::path> missing;
  for (std::filesystem::path at = folder; at.has_relative_path(); at = at.parent_path()) {
    struct stat info {};
    if (::stat(at.c_str(), &info) == 0) {
      if (!S_ISDIR(info.st_mode)) return Failed(ENOTDIR);
      break;
    }
    if (errno != ENOENT) return Failed(errno);
    missing.push_back(at);
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    if (::mkdir(it->c_str(), 0777) != 0 && errno != EEXIST) return Failed(errno);
    if (owner && ::chown(it->c_str(), owner->user, owner->group) != 0) return Failed(errno);
  }
  return {};
}

Status GiveFile(int descriptor, const FileOwner& owner) {
  if (Sys().fchown(descriptor, owner.user, owner.group) != 0) return Failed(errno);
  return {};
}

std::optional<std::string> OtherOwnerOf(const std::filesystem::path& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || info.st_uid == ::geteuid()) return std::nullopt;
  return LoginOf(info.st_uid);
}

std::string RunningLogin() {
  return LoginOf(::geteuid());
}

#endif

}  // namespace dialmend
