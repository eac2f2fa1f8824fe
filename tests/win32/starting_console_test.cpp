#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "engine/version.h"

// dialmend.exe started from a console as cmd.exe starts it, with no standard handles given: its
// answers to --help and --version are read back from that console. Run on Windows or under
// wine with a display (wine's console keeps its text only in a window).

namespace {

// The console's text, its rows up to the cursor's, each without its trailing blanks.
std::wstring ConsoleText(HANDLE console) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(console, &info)) return L"(no console)";
  std::wstring text;
  for (SHORT row = 0; row <= info.dwCursorPosition.Y; ++row) {
    std::wstring line(static_cast<std::size_t>(info.dwSize.X), L' ');
    DWORD read = 0;
    ReadConsoleOutputCharacterW(console, line.data(), static_cast<DWORD>(line.size()), {0, row},
                                &read);
    line.resize(line.find_last_not_of(L' ') + 1);
    text += line + L"\n";
  }
  return text;
}

// Runs dialmend.exe with `arguments` on a fresh console; returns what it wrote there.
std::wstring AnswerInAConsole(const std::wstring& arguments) {
  FreeConsole();
  if (!AllocConsole()) return L"(no console)";
  std::wstring command = L"\"" DIALMEND_EXE L"\" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  // Detached: as on Windows, a window program started from a console is not attached to it.
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr,
                      nullptr, &startup, &process)) {
    return L"(not started)";
  }
  WaitForSingleObject(process.hProcess, 30000);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  HANDLE console =
      CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  std::wstring text = ConsoleText(console);
  CloseHandle(console);
  return text;
}

std::wstring Widened(std::string_view ascii) {
  return {ascii.begin(), ascii.end()};
}

struct Asked {
  const char* name;
  const wchar_t* arguments;
  std::wstring answer_begins;
};

void PrintTo(const Asked& asked, std::ostream* out) {
  *out << asked.name;
}

class StartedFromAConsole : public testing::TestWithParam<Asked> {};

TEST_P(StartedFromAConsole, AnswersThere) {
  const std::wstring text = AnswerInAConsole(GetParam().arguments);
  EXPECT_EQ(text.find(GetParam().answer_begins), 0u) << std::string(text.begin(), text.end());
}

INSTANTIATE_TEST_SUITE_P(
    DialmendExe, StartedFromAConsole,
    testing::Values(
        Asked{"Help", L"--help", L"Usage: dialmend [--profile PATH]\n"},
        Asked{"Version", L"--version", L"dialmend " + Widened(dialmend::kVersion) + L"\n"},
        Asked{"UnknownArgument", L"--colour", L"dialmend: unknown argument \"--colour\""},
        Asked{"ProfileWithoutPath", L"--profile", L"dialmend: unknown argument \"--profile\""}),
    [](const auto& info) { return info.param.name; });

}  // namespace
