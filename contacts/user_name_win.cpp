// LoggedInUserName() on Windows: the account's display name, else its logon name.
#include "contacts/vcard_store.h"

#define SECURITY_WIN32
#include <windows.h>
#include <lmcons.h>
#include <security.h>

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

std::string LoggedInUserName() {
  // A domain account has a display name; a local one usually gives none.
  wchar_t display[256];
  ULONG display_size = sizeof(display) / sizeof(display[0]);
  if (::GetUserNameExW(NameDisplay, display, &display_size) && display_size > 0) {
    return Utf8Of(std::wstring_view(display, display_size));
  }
  wchar_t logon[UNLEN + 1];
  DWORD logon_size = UNLEN + 1;
  // The size counts the closing NUL.
  if (::GetUserNameW(logon, &logon_size) && logon_size > 1) {
    return Utf8Of(std::wstring_view(logon, logon_size - 1));
  }
  return "";
}

}  // namespace dialmend
