// DesktopDirectory() on Windows: the shell's Desktop folder, else the user's profile folder.
#include "log/log_file.h"

#include <windows.h>
#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>

#include <cstdlib>
#include <filesystem>
#include <string_view>

namespace dialmend {
namespace {

std::string Utf8Of(std::wstring_view text) {
  if (text.empty()) return {};
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string out(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
  return out;
}

}  // namespace

std::string DesktopDirectory() {
  wchar_t* desktop = nullptr;
  std::string folder;
  if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_Desktop, KF_FLAG_DEFAULT, nullptr, &desktop)) &&
      desktop != nullptr) {
    folder = Utf8Of(desktop);
  }
  ::CoTaskMemFree(desktop);
  std::error_code ec;
  if (!folder.empty() && std::filesystem::is_directory(folder, ec)) {
    return folder;
  }
  if (const wchar_t* profile = ::_wgetenv(L"USERPROFILE"); profile != nullptr && *profile != 0) {
    return Utf8Of(profile);
  }
  return ".";
}

}  // namespace dialmend
