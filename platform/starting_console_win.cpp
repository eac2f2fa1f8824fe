#include "platform/starting_console.h"

#include <windows.h>

#include <optional>
#include <string>

#include "platform/utf16.h"

namespace dialmend {
namespace {

std::string WindowsLineEnds(std::string_view text) {
  std::string lines;
  for (const char c : text) {
    if (c == '\n') lines += '\r';
    lines += c;
  }
  return lines;
}

bool WriteToConsole(const std::string& lines) {
  // Already attached (wine attaches a window program to its starter's console) is as good.
  if (!AttachConsole(ATTACH_PARENT_PROCESS) && GetLastError() != ERROR_ACCESS_DENIED) return false;
  HANDLE console =
      CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  if (console == INVALID_HANDLE_VALUE) return false;
  const std::wstring wide = Utf8ToUtf16(lines).value_or(L"");
  DWORD written = 0;
  const bool ok = WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written,
                                nullptr) != FALSE;
  CloseHandle(console);
  return ok;
}

}  // namespace

bool WriteToStartingConsole(std::string_view text, bool error) {
  const std::string lines = WindowsLineEnds(text);
  HANDLE given = GetStdHandle(error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  const DWORD type =
      given != nullptr && given != INVALID_HANDLE_VALUE ? GetFileType(given) : FILE_TYPE_UNKNOWN;
  // A console's handles passed down to a window program cannot be written until it attaches.
  if (type == FILE_TYPE_UNKNOWN || type == FILE_TYPE_CHAR) return WriteToConsole(lines);
  DWORD written = 0;
  return WriteFile(given, lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr) &&
         written == lines.size();
}

}  // namespace dialmend
