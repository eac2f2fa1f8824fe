#include "platform/program_start.h"

#ifdef _WIN32
// The other Windows headers need what windows.h declares first.
#include <windows.h>

#include <shellapi.h>

#include "platform/utf16.h"
#endif

namespace dialmend {

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
#ifdef _WIN32
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide != nullptr) {
    std::vector<std::string> args;
    for (int i = 1; i < count; ++i) args.push_back(Utf16ToUtf8Lossy(wide[i]));
    ::LocalFree(wide);
    return args;
  }
#endif
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

void UseUtf8ConsoleOutput() {
#ifdef _WIN32
  ::SetConsoleOutputCP(CP_UTF8);
#endif
}

}  // namespace dialmend
