#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/atomic_file.h"
#include "platform/result.h"

// Finding a file by a path that must stay inside one folder. The paths an undo record names are
// input like any other: "STORE/../elsewhere", or a link swapped in after the update, must never
// lead an undo out of the store it undoes. Nothing here throws.

namespace dialmend {

// The part of `path` below the folder `root`, its parts joined by "/", when `path` names an entry
// inside `root` and has no empty, "." or ".." part; std::nullopt otherwise. Either separator
// counts on Windows.
[[nodiscard]] std::optional<std::string> RelativeBeneath(std::string_view root,
                                                         std::string_view path);

// A file found beneath a folder: why not, or the file, held open where the system allows it
// (never on Windows), for ReadFileSnapshot and OpenedFile::Open.
struct FileBeneath {
  Status status;
  HeldFile file;
};

// Finds the regular file `relative` (as RelativeBeneath gives it) beneath the folder `root`
// without following a symbolic link (or, on Windows, any reparse point) on the way, the file's own
// name included, so nothing put in after the update leads out of the folder. `root` itself is
// followed: it is the store as the user names it. On Linux one openat2 with RESOLVE_BENEATH and
// RESOLVE_NO_SYMLINKS from the folder's descriptor, else each part opened with O_NOFOLLOW from
// the one before. The failure's reason says why ("a symbolic link stands in its way").
[[nodiscard]] FileBeneath OpenBeneath(const std::filesystem::path& root, std::string_view relative);

}  // namespace dialmend
