// DesktopDirectory() on Windows: the shell's Desktop folder, else the user's profile folder.
#include "platform/desktop_directory.h"

// The other Windows headers need what windows.h declares first.
#include <windows.h>

#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>

#include <cstdlib>
#include <filesystem>
#include <string_view>

#include "platform/utf16.h"

namespace dialmend {

std::string ChooseDesktopDirectory(const std::wstring& shell_desktop, const std::wstring& profile) {
  std::error_code ec;
  // The wide path: a narrow one would pass through the local code page and miss a folder
  // whose name it cannot spell.
  if (!shell_desktop.empty() &&
      std::filesystem::is_directory(std::filesystem::path(shell_desktop), ec)) {
    return Utf16ToUtf8Lossy(shell_desktop);
  }
  if (!profile.empty()) return Utf16ToUtf8Lossy(profile);
  return ".";
}

std::string DesktopDirectory() {
  wchar_t* desktop = nullptr;
  std::wstring folder;
  if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_Desktop, KF_FLAG_DEFAULT, nullptr, &desktop)) &&
      desktop != nullptr) {
    folder = desktop;
  }
  ::CoTaskMemFree(desktop);
  const wchar_t* profile = ::_wgetenv(L"USERPROFILE");
  return ChooseDesktopDirectory(folder, profile != nullptr ? profile : L"");
}

}  // namespace dialmend
