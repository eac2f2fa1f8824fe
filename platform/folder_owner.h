#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/result.h"

// The folders and files a run keeps for its user (the undo records), made so that the user keeps
// them even after a run as root with the user's HOME, as sudo often gives: left to root, they
// would stop every later run of the user's own. Nothing here throws.

namespace dialmend {

// A user and group, by number.
struct FileOwner {
  std::uint32_t user = 0;
  std::uint32_t group = 0;
};

// Whom the files a run makes in `folder` are for: when the process runs as root and the nearest
// folder at or above `folder` that exists belongs to another user, that user and its group; else
// std::nullopt (always on Windows).
[[nodiscard]] std::optional<FileOwner> OwnerOfFilesIn(const std::filesystem::path& folder);

// Makes `folder` and each folder missing above it, each given to `owner` when one is given.
// Fails with the reason.
[[nodiscard]] Status MakeFolders(const std::filesystem::path& folder,
                                 const std::optional<FileOwner>& owner);

// Gives the open file `descriptor` to `owner`. Fails with the reason.
[[nodiscard]] Status GiveFile(int descriptor, const FileOwner& owner);

// The login name of the owner of `path` when that is not the user the process runs as (a run as
// root made it); std::nullopt when it is, or cannot be told (always on Windows).
[[nodiscard]] std::optional<std::string> OtherOwnerOf(const std::filesystem::path& path);

// The login name of the user the process runs as; empty when it cannot be told.
[[nodiscard]] std::string RunningLogin();

}  // namespace dialmend
