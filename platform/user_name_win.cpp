// LoggedInUserName() on Windows: the account's display name, else its logon name.
#include "platform/user_name.h"

#define SECURITY_WIN32
// The other Windows headers need what windows.h declares first.
#include <windows.h>

#include <lmcons.h>
#include <security.h>

#include <string_view>

#include "platform/utf16.h"

namespace dialmend {

std::string LoggedInUserName() {
  // A domain account has a display name; a local one usually gives none.
  wchar_t display[256];
  ULONG display_size = sizeof(display) / sizeof(display[0]);
  if (::GetUserNameExW(NameDisplay, display, &display_size) && display_size > 0) {
    return Utf16ToUtf8Lossy(std::wstring_view(display, display_size));
  }
  wchar_t logon[UNLEN + 1];
  DWORD logon_size = UNLEN + 1;
  // The size counts the closing NUL.
  if (::GetUserNameW(logon, &logon_size) && logon_size > 1) {
    return Utf16ToUtf8Lossy(std::wstring_view(logon, logon_size - 1));
  }
  return "";
}

}  // namespace dialmend
