#include "log/log_file.h"

#include <filesystem>
#include <fstream>

#include "log/atomic_file.h"
#include "log/utf8_path.h"

namespace dialmend {

std::string DefaultLogPath(const std::string& folder,
                           const std::function<bool(const std::string&)>& exists) {
  const std::filesystem::path base = PathFromUtf8(folder);
  for (unsigned long long n = 1;; ++n) {
    std::string candidate =
        Utf8FromPath(base / ("Dialmend Log " + std::to_string(n) + ".txt"));
    if (!exists(candidate)) return candidate;
  }
}

std::string SetLogFile() {
  return DefaultLogPath(DesktopDirectory(), [](const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(PathFromUtf8(path), ec) || ec;
  });
}

std::optional<std::string> SaveLogFile(const std::string& path, std::string_view text) {
  if (path.empty()) return std::string("Cannot save the log: no log file was given.");
  if (FileStatus status = WriteFileAtomically(PathFromUtf8(path), text); !status) {
    return "Cannot save the log to \"" + path + "\": " + status.reason + ".";
  }
  return std::nullopt;
}

}  // namespace dialmend
