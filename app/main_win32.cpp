// dialmend.exe: the window program on Windows, over the Win32 view.

#include <windows.h>

#include <commctrl.h>

#include <string>
#include <string_view>
#include <vector>

#include "cli/command_line.h"
#include "engine/version.h"
#include "platform/date_format.h"
#include "platform/program_start.h"
#include "platform/starting_console.h"
#include "platform/utf16.h"
#include "win32/main_window.h"

namespace {

constexpr const char* kUsage =
    "Usage: dialmend [--profile PATH]\n"
    "\n"
    "Opens Dialmend, which brings the telephone numbers of your contacts up to date.\n"
    "\n"
    "  --profile PATH  the store: a folder of address-book folders, a folder of .vcf cards,\n"
    "                  a .vcf file, or thunderbird:[PROFILE] (a Thunderbird profile's\n"
    "                  local address books) (default: the contacts of your Outlook profile)\n"
    "  --help, --version\n";

// Shows `text` where the user reads it: the console dialmend.exe was started from, or else a
// message box (started from Explorer or a shortcut, there is no console).
void Tell(const std::string& text, bool error) {
  if (dialmend::WriteToStartingConsole(text, error)) return;
  MessageBoxW(nullptr, dialmend::Utf8ToUtf16(text).value_or(L"").c_str(), L"Dialmend",
              MB_OK | (error ? MB_ICONERROR : MB_ICONINFORMATION));
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
  dialmend::UseUserDateFormat();
  const auto refused = [](std::string_view argument) {
    return "unknown argument \"" + std::string(argument) + "\"";
  };
  bool help = false;
  bool version = false;
  std::string profile;
  dialmend::CommandLine line({});
  line.WordRefusals(refused);
  line.AddFlag("-h,--help", help);
  line.AddFlag("--version", version);
  line.AddValue("--profile", refused("--profile"), [&profile](std::string_view path) {
    profile = path;
    return dialmend::Status{};
  });
  const std::vector<std::string> words = dialmend::Utf8Arguments(0, nullptr);
  const std::vector<std::string_view> args(words.begin(), words.end());
  if (const dialmend::Status parsed = line.Parse(args); !parsed.Ok()) {
    Tell("dialmend: " + parsed.Message() + " (try --help)\n", true);
    return 2;
  }
  if (help) {
    Tell(kUsage, false);
    return 0;
  }
  if (version) {
    Tell(std::string("dialmend ") + dialmend::kVersion + "\n", false);
    return 0;
  }

  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
  dialmend::Win32MainWindow window(instance, dialmend::Utf8ToUtf16(profile).value_or(L""));
  if (!window.Create()) {
    MessageBoxW(nullptr, L"The Dialmend window cannot be created.", L"Dialmend", MB_ICONERROR);
    return 1;
  }
  ShowWindow(window.Handle(), show);
  return window.RunMessageLoop();
}
