#include "win32/main_window.h"

#include <gtest/gtest.h>

#include <string>

#include "win32/resource_ids.h"

// The Win32 view, its window created hidden and its controls driven by messages as the dialog
// manager sends them. Run on Windows or under wine.

namespace dialmend {
namespace {

struct HiddenWindow {
  explicit HiddenWindow(std::wstring profile = L"")
      : window(GetModuleHandleW(nullptr), std::move(profile)) {
    created = window.Create();
  }
  HWND Control(int id) const { return GetDlgItem(window.Handle(), id); }
  void Click(int id) const { SendMessageW(Control(id), BM_CLICK, 0, 0); }
  std::wstring Caption(int id = 0) const {
    HWND of = id == 0 ? window.Handle() : Control(id);
    wchar_t text[256] = {};
    GetWindowTextW(of, text, 256);
    return text;
  }

  Win32MainWindow window;
  bool created = false;
};

TEST(Win32MainWindow, OpensIdleWithTheDesignedCaptionsAndDefaults) {
  HiddenWindow w;
  ASSERT_TRUE(w.created);
  EXPECT_EQ(w.Caption(), L"Dialmend");
  EXPECT_EQ(w.Caption(IDOK), L" &Go!");
  EXPECT_EQ(w.Caption(IDCANCEL), L"&Quit");
  EXPECT_EQ(IsDlgButtonChecked(w.window.Handle(), IDC_STYLE0), BST_CHECKED);
  EXPECT_EQ(IsDlgButtonChecked(w.window.Handle(), IDC_SAVE_LOG), BST_CHECKED);
  EXPECT_FALSE(IsWindowEnabled(w.Control(IDC_FIND_TEXT)));
  EXPECT_FALSE(IsWindowVisible(w.Control(IDC_LOG)));
  EXPECT_EQ(w.window.Controller().State(), RunState::Idle);
}

TEST(Win32MainWindow, PlacesEachControlAtItsTwipsScaledToTheDpi) {
  HiddenWindow w;
  ASSERT_TRUE(w.created);
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  RECT go;
  GetWindowRect(w.Control(IDOK), &go);
  MapWindowPoints(nullptr, w.window.Handle(), reinterpret_cast<POINT*>(&go), 2);
  EXPECT_EQ(go.left, MulDiv(2520, dpi, 1440));
  EXPECT_EQ(go.top, MulDiv(720, dpi, 1440));
  EXPECT_EQ(go.right - go.left, MulDiv(1100, dpi, 1440));
  RECT client;
  GetClientRect(w.window.Handle(), &client);
  EXPECT_EQ(client.right, MulDiv(5040, dpi, 1440));
  EXPECT_EQ(client.bottom, MulDiv(3405, dpi, 1440));
}

TEST(Win32MainWindow, StyleButtonsChooseTheNumberStyle) {
  HiddenWindow w;
  ASSERT_TRUE(w.created);
  w.Click(IDC_STYLE2);
  EXPECT_EQ(w.window.Options().style, StyleFromNumber(2));
  w.Click(IDC_STYLE0);
  EXPECT_EQ(w.window.Options().style, StyleFromNumber(0));
}

TEST(Win32MainWindow, CustomReplaceEnablesItsTextsAndReadsThem) {
  HiddenWindow w;
  ASSERT_TRUE(w.created);
  w.Click(IDC_REPLACE);
  EXPECT_TRUE(w.window.Options().replace);
  EXPECT_TRUE(IsWindowEnabled(w.Control(IDC_FIND_TEXT)));
  SetWindowTextW(w.Control(IDC_FIND_TEXT), L"01232");
  SetWindowTextW(w.Control(IDC_REPLACE_TEXT), L"028 90");
  EXPECT_EQ(w.window.Options().find, "01232");
  EXPECT_EQ(w.window.Options().replacement, "028 90");
}

TEST(Win32MainWindow, ShowLogTogglesThePaneAndTheWindowHeight) {
  HiddenWindow w;
  ASSERT_TRUE(w.created);
  w.Click(IDC_SHOW_LOG);
  EXPECT_TRUE(IsWindowVisible(w.Control(IDC_LOG)) ||
              (GetWindowLongW(w.Control(IDC_LOG), GWL_STYLE) & WS_VISIBLE) != 0);
  EXPECT_EQ(w.Caption(IDC_SHOW_LOG), L"Hide &Log");
  RECT client;
  GetClientRect(w.window.Handle(), &client);
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  EXPECT_EQ(client.bottom, MulDiv(5520, dpi, 1440));
  w.Click(IDC_SHOW_LOG);
  EXPECT_EQ(w.Caption(IDC_SHOW_LOG), L"Show &Log");
}

TEST(Win32MainWindow, GoSimulatesTheProfileAndShowsTheCountsAndTheFinishedCaption) {
  HiddenWindow w(L"" DIALMEND_SAMPLE_PROFILE);
  ASSERT_TRUE(w.created);
  w.Click(IDC_SAVE_LOG);  // no log file from a test
  w.Click(IDOK);
  EXPECT_EQ(w.window.Controller().State(), RunState::Finished);
  EXPECT_EQ(w.Caption(), L"Dialmend - Finished!");
  EXPECT_EQ(w.Caption(IDOK), L"&Reset");
  EXPECT_EQ(w.Caption(IDC_CHECKED), L"58");
  EXPECT_EQ(w.window.Controller().Counters().checked, 58);
  w.Click(IDOK);
  EXPECT_EQ(w.window.Controller().State(), RunState::Idle);
  EXPECT_EQ(w.Caption(), L"Dialmend");
  EXPECT_EQ(w.Caption(IDOK), L"&Go");
}

TEST(Win32MainWindow, AboutOpensOneModelessBoxWithTheVersion) {
  HiddenWindow w;
  ASSERT_TRUE(w.created);
  w.Click(IDC_ABOUT);
  HWND about = FindWindowW(nullptr, L"About Dialmend");
  ASSERT_NE(about, nullptr);
  wchar_t version[64] = {};
  GetDlgItemTextW(about, IDC_ABOUT_VERSION, version, 64);
  EXPECT_EQ(std::wstring(version).rfind(L"Version ", 0), 0u) << version;
  EXPECT_GT(std::wstring(version).size(), 8u);
  w.Click(IDC_ABOUT);
  EXPECT_EQ(FindWindowW(nullptr, L"About Dialmend"), about);
  SendMessageW(GetDlgItem(about, IDOK), BM_CLICK, 0, 0);
  EXPECT_FALSE(IsWindow(about));
}

// Closing the window (or logging off) during a run: the message arrives at the run's first
// yield; the run is aborted, its summary written and its log saved, and only then does the
// window close.
class Win32CloseDuringARun : public testing::TestWithParam<UINT> {};

TEST_P(Win32CloseDuringARun, AbortsTheRunSavesTheLogAndThenCloses) {
  HiddenWindow w(L"" DIALMEND_SAMPLE_PROFILE);
  ASSERT_TRUE(w.created);
  wchar_t folder[MAX_PATH];
  ASSERT_GT(GetTempPathW(MAX_PATH, folder), 0u);
  const std::wstring log = std::wstring(folder) + L"dialmend-close-test.txt";
  DeleteFileW(log.c_str());
  SetWindowTextW(w.Control(IDC_LOG_FILE), log.c_str());
  PostMessageW(w.window.Handle(), GetParam(), 0, 0);
  w.Click(IDOK);
  EXPECT_EQ(w.window.Controller().State(), RunState::Finished);
  EXPECT_TRUE(w.window.Controller().LogSaved());
  EXPECT_LT(w.window.Controller().Counters().checked, 58);
  // The close the program asked for once the walk had unwound.
  MSG message;
  while (w.window.Handle() != nullptr && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    DispatchMessageW(&message);
  }
  EXPECT_EQ(w.window.Handle(), nullptr);
  HANDLE file =
      CreateFileW(log.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  char text[8192] = {};
  DWORD read = 0;
  ReadFile(file, text, sizeof text - 1, &read, nullptr);
  CloseHandle(file);
  DeleteFileW(log.c_str());
  EXPECT_NE(std::string(text, read).find("Simulation aborted"), std::string::npos)
      << std::string(text, read);
}

INSTANTIATE_TEST_SUITE_P(Win32MainWindow, Win32CloseDuringARun,
                         testing::Values(WM_CLOSE, WM_QUERYENDSESSION), [](const auto& info) {
                           return info.param == WM_CLOSE ? "Close" : "LogOff";
                         });

TEST(Win32MainWindow, ClosingWhileIdleEndsTheProgram) {
  HiddenWindow w;
  ASSERT_TRUE(w.created);
  SendMessageW(w.window.Handle(), WM_CLOSE, 0, 0);
  EXPECT_EQ(w.window.Handle(), nullptr);
  MSG message;
  EXPECT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

}  // namespace
}  // namespace dialmend
