#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Reading where khard and vdirsyncer keep their address books. Both files are INI-like: khard's
// (configobj) nests sections by the number of brackets, vdirsyncer's (configparser) holds JSON
// values. Neither reader throws: a file that cannot be read gives a line and a reason.

namespace dialmend {

// Why a configuration file cannot be used: the line (counted from 1) and the reason in words.
struct ConfigProblem {
  std::size_t line = 0;
  std::string reason;
};

// One address book a configuration names; `path` is as written, `~` not yet expanded.
struct ConfiguredBook {
  std::string name;
  std::string path;
  std::size_t line = 0;
};

struct ConfiguredBooks {
  std::vector<ConfiguredBook> books;
  // Set when the file cannot be read as its program reads it; `books` is then empty.
  std::optional<ConfigProblem> problem;
};

// Each `[[name]]` of khard's `[addressbooks]` with its `path`, in the file's order.
[[nodiscard]] ConfiguredBooks ParseKhardConfig(std::string_view text);

// The `path` of each vdirsyncer `[storage NAME]` of `type = "filesystem"` and
// `fileext = ".vcf"`, in the file's order: each path holds one folder per collection.
[[nodiscard]] ConfiguredBooks ParseVdirsyncerConfig(std::string_view text);

// `path` with a leading `~` or `~/` made `home`.
[[nodiscard]] std::string ExpandHome(const std::string& path, const std::string& home);

}  // namespace dialmend
