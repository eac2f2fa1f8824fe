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

std::string DesktopDirectory() {
  wchar_t* desktop = nullptr;
  std::string folder;
  if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_Desktop, KF_FLAG_DEFAULT, nullptr, &desktop)) &&
      desktop != nullptr) {
    folder = Utf16ToUtf8Lossy(desktop);
  }
  ::CoTaskMemFree(desktop);
  std::error_code ec;
  if (!folder.empty() && std::filesystem::is_directory(folder, ec)) {
    return folder;
  }
  if (const wchar_t* profile = ::_wgetenv(L"USERPROFILE"); profile != nullptr && *profile != 0) {
    return Utf16ToUtf8Lossy(profile);
  }
  return ".";
}

}  // namespace dialmend
