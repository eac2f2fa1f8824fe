// DesktopDirectory() on Linux and other POSIX systems: the XDG user folders, else the home folder.
#include "platform/desktop_directory.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string_view>

namespace dialmend {
namespace {

std::string HomeDirectory() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr) {
    return pw->pw_dir;
  }
  return ".";
}

// The XDG_DESKTOP_DIR line of user-dirs.dirs: XDG_DESKTOP_DIR="$HOME/Desktop".
std::optional<std::string> ConfiguredDesktop(const std::string& home) {
  std::filesystem::path config;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg == '/') {
    config = xdg;
  } else {
    config = std::filesystem::path(home) / ".config";
  }
  std::ifstream in(config / "user-dirs.dirs");
  std::string line;
  while (std::getline(in, line)) {
    constexpr std::string_view kKey = "XDG_DESKTOP_DIR=\"";
    if (!line.starts_with(kKey) || line.back() != '"') continue;
    std::string value = line.substr(kKey.size(), line.size() - kKey.size() - 1);
    if (value.starts_with("$HOME")) value = home + value.substr(5);
    if (!value.starts_with("/")) return std::nullopt;
    return value;
  }
  return std::nullopt;
}

}  // namespace

std::string DesktopDirectory() {
  const std::string home = HomeDirectory();
  if (auto desktop = ConfiguredDesktop(home)) {
    std::error_code ec;
    if (std::filesystem::is_directory(*desktop, ec)) return *desktop;
  }
  const std::string fallback = (std::filesystem::path(home) / "Desktop").string();
  std::error_code ec;
  if (std::filesystem::is_directory(fallback, ec)) return fallback;
  return home;
}

}  // namespace dialmend
