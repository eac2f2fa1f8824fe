#include "cli/utf8_arguments.h"

#ifdef _WIN32
// The other Windows headers need what windows.h declares first.
#include <windows.h>

#include <shellapi.h>
#endif

namespace dialmend {

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
#ifdef _WIN32
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide != nullptr) {
    std::vector<std::string> args;
    for (int i = 1; i < count; ++i) {
      const int size = ::WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
      std::string arg(size > 0 ? static_cast<std::size_t>(size - 1) : 0, '\0');
      if (size > 1)
        ::WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, arg.data(), size, nullptr, nullptr);
      args.push_back(std::move(arg));
    }
    ::LocalFree(wide);
    ::SetConsoleOutputCP(CP_UTF8);
    return args;
  }
#endif
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

}  // namespace dialmend
