#include "win32/main_window.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "run/run_summary.h"
#include "run/window_texts.h"
#include "tests/win32/hidden_window.h"
#include "win32/dialog_layout.h"
#include "win32/log_pane.h"
#include "win32/resource_ids.h"
#include "win32/wide_text.h"

// The Win32 window, created hidden and driven by messages as the dialog manager sends them:
// that it draws what the window policy decides and forwards what the user does. Run on
// Windows or under wine.

namespace dialmend {
namespace {

TEST(Win32MainWindow, DrawsWhatThePolicySaysAtEveryStep) {
  HiddenWindow w(L"" DIALMEND_SAMPLE_PROFILE);
  ASSERT_TRUE(w.created);
  w.ExpectDrawnAsPolicySays();
  w.Click(IDC_SAVE_LOG);  // no log file from a test
  w.ExpectDrawnAsPolicySays();
  bool seen_mid_run = false;
  w.on_ask = [&] {
    seen_mid_run = true;
    w.ExpectDrawnAsPolicySays();
  };
  w.QuitDuringTheRun();  // asked while paused; Cancel resumes
  w.Click(IDOK);
  EXPECT_TRUE(seen_mid_run);
  EXPECT_EQ(w.window.Controller().Counters().checked, 58);
  w.ExpectDrawnAsPolicySays();
  w.Click(IDOK);  // reset
  w.ExpectDrawnAsPolicySays();
}

TEST(Win32MainWindow, ClicksAndTextsReachThePolicy) {
  HiddenWindow w;
  ASSERT_TRUE(w.created);
  w.Click(IDC_STYLE2);
  EXPECT_EQ(w.window.Options().style, StyleFromNumber(2));
  w.Click(IDC_REPLACE);
  EXPECT_TRUE(IsWindowEnabled(w.Control(IDC_FIND_TEXT)));
  SetWindowTextW(w.Control(IDC_FIND_TEXT), L"01232");
  SetWindowTextW(w.Control(IDC_REPLACE_TEXT), L"028 90");
  SetWindowTextW(w.Control(IDC_LOG_FILE), L"C:\\logs\\mine.txt");
  EXPECT_EQ(w.window.Options().find, "01232");
  EXPECT_EQ(w.window.Options().replacement, "028 90");
  EXPECT_EQ(w.window.Policy().Look(Control::LogFile).text, "C:\\logs\\mine.txt");
  w.ExpectDrawnAsPolicySays();
}

TEST(Win32MainWindow, IsResizableOnlyWhileTheLogShowsAndThePaneTakesTheRoom) {
  HiddenWindow w;
  ASSERT_TRUE(w.created);
  HWND window = w.window.Handle();
  const auto style = [&] { return GetWindowLongPtrW(window, GWL_STYLE); };
  EXPECT_EQ(style() & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0);
  w.Click(IDC_SHOW_LOG);
  EXPECT_EQ(style() & (WS_THICKFRAME | WS_MAXIMIZEBOX), WS_THICKFRAME | WS_MAXIMIZEBOX);
  const RECT go = PlaceOf(window, IDOK);
  const RECT least_log = PlaceOf(window, IDC_LOG);
  RECT outer;
  GetWindowRect(window, &outer);
  const int wider = 150;
  const int taller = 200;
  SetWindowPos(window, nullptr, 0, 0, outer.right - outer.left + wider,
               outer.bottom - outer.top + taller, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  RECT client;
  GetClientRect(window, &client);
  const RECT log = PlaceOf(window, IDC_LOG);
  EXPECT_TRUE(log == (RECT{0, least_log.top, client.right, client.bottom}));
  EXPECT_EQ(log.bottom - log.top, least_log.bottom - least_log.top + taller);
  EXPECT_TRUE(PlaceOf(window, IDOK) == go);
  // No smaller than with the log at its least.
  MINMAXINFO limits{};
  SendMessageW(window, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits));
  EXPECT_EQ(limits.ptMinTrackSize.x, outer.right - outer.left);
  EXPECT_EQ(limits.ptMinTrackSize.y, outer.bottom - outer.top);
  w.Click(IDC_SHOW_LOG);
  EXPECT_EQ(style() & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0);
  RECT hidden;
  GetClientRect(window, &hidden);
  EXPECT_TRUE(hidden == Pixels({0, 0, kMainWidth, MainHeight(false)}));
  // Shown again at the size it was left at.
  w.Click(IDC_SHOW_LOG);
  RECT again;
  GetClientRect(window, &again);
  EXPECT_NEAR(again.right, client.right, 1);
  EXPECT_NEAR(again.bottom, client.bottom, 1);
}

// The height of the face control `id` of `dialog` is drawn in, in pixels.
int FontHeight(HWND dialog, int id) {
  LOGFONTW font{};
  GetObjectW(reinterpret_cast<HFONT>(SendDlgItemMessageW(dialog, id, WM_GETFONT, 0, 0)),
             sizeof font, &font);
  return std::abs(font.lfHeight);
}

// Every count up to seven digits and each caption of its counter fit their controls, measured
// in the controls' own faces, whatever the run's mode.
void ExpectCountersFit(HWND dialog) {
  const auto room = [dialog](int id, std::string_view text) {
    HWND control = GetDlgItem(dialog, id);
    HDC dc = GetDC(control);
    SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
    const std::wstring wide = Wide(text);
    SIZE size{};
    GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &size);
    ReleaseDC(control, dc);
    RECT client;
    GetClientRect(control, &client);
    return client.right - size.cx;
  };
  for (const int mode : {0, 1, 2, 3}) {
    const std::array<CounterText, 4> counters = WindowCounters({}, mode & 1, mode & 2);
    for (int i = 0; i < 4; ++i) {
      EXPECT_GE(room(IDC_FOLDERS + i, "9999999"), 0) << DpiOf(dialog) << " dpi";
      EXPECT_GE(room(IDC_FOLDERS_LABEL + i, counters[i].caption), 0) << counters[i].caption;
    }
  }
}

TEST(Win32MainWindow, MovedToAMonitorOfTwiceTheDpiEverythingIsTwiceAsLarge) {
  HiddenWindow w;
  ASSERT_TRUE(w.created);
  HWND window = w.window.Handle();
  const UINT dpi = DpiOf(window);
  std::map<int, int> heights;
  for (const ControlSpec& spec : MainControls()) {
    if (const int id = Win32MainWindow::IdOf(spec.control); id != 0) {
      heights[id] = FontHeight(window, id);
    }
  }
  ExpectCountersFit(window);
  RECT suggested{40, 30, 40 + 700, 30 + 500};
  SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(2 * dpi, 2 * dpi),
               reinterpret_cast<LPARAM>(&suggested));
  ExpectCountersFit(window);
  RECT outer;
  GetWindowRect(window, &outer);
  EXPECT_EQ(outer.left, suggested.left);
  EXPECT_EQ(outer.top, suggested.top);
  for (const ControlSpec& spec : MainControls()) {
    const int id = Win32MainWindow::IdOf(spec.control);
    if (id == 0 || spec.kind == ControlKind::Image) continue;
    SCOPED_TRACE(std::string(spec.name));
    EXPECT_NEAR(FontHeight(window, id), 2 * heights[id], 1);
    const RECT place = PlaceOf(window, id);
    if (spec.control != Control::Log) {
      EXPECT_EQ(place.left, TwipsToPixels(spec.place.left, 2 * dpi));
      if (spec.kind != ControlKind::ChoiceBox) {
        EXPECT_EQ(place.bottom - place.top, TwipsToPixels(spec.place.height, 2 * dpi));
      }
    }
  }
  RECT client;
  GetClientRect(window, &client);
  EXPECT_EQ(client.right, TwipsToPixels(kMainWidth, 2 * dpi));
}

TEST(Win32MainWindow, ThePanePagesTheLogAndCopiesWhatIsSelected) {
  HiddenWindow w(L"" DIALMEND_SAMPLE_PROFILE);
  ASSERT_TRUE(w.created);
  w.Click(IDC_SAVE_LOG);
  w.Click(IDOK);
  LogPane* pane = LogPane::Of(w.Control(IDC_LOG));
  ASSERT_NE(pane, nullptr);
  // The sample's run has a problem: the pane shows itself at the summary.
  EXPECT_TRUE(Shown(w.Control(IDC_LOG)));
  EXPECT_EQ(pane->LastShownLine(), pane->LineCount() - 1);
  EXPECT_GT(pane->FirstShownLine(), 0);
  EXPECT_EQ(pane->Logged(), w.window.LogText());
  EXPECT_NE(pane->Logged().find("Contacts checked: 58\r\n"), std::string::npos);
  BYTE keys[256];
  GetKeyboardState(keys);
  keys[VK_CONTROL] = 0x80;
  SetKeyboardState(keys);
  SendMessageW(w.Control(IDC_LOG), WM_KEYDOWN, 'A', 0);
  SendMessageW(w.Control(IDC_LOG), WM_KEYDOWN, 'C', 0);
  keys[VK_CONTROL] = 0;
  SetKeyboardState(keys);
  std::string shown = pane->Logged();
  std::erase(shown, '\r');
  EXPECT_EQ(pane->Selected(), shown);
  ASSERT_TRUE(OpenClipboard(w.window.Handle()));
  HANDLE copied = GetClipboardData(CF_UNICODETEXT);
  ASSERT_NE(copied, nullptr);
  EXPECT_EQ(Narrow(static_cast<const wchar_t*>(GlobalLock(copied))), pane->Logged());
  GlobalUnlock(copied);
  CloseClipboard();
  w.Click(IDOK);  // reset
  EXPECT_EQ(pane->LineCount(), 0);
}

// The centre of `window` on the screen.
POINT CentreOf(HWND window) {
  RECT outer;
  GetWindowRect(window, &outer);
  return {(outer.left + outer.right) / 2, (outer.top + outer.bottom) / 2};
}

TEST(Win32MainWindow, TabGoesThroughTheControlsInReadingOrder) {
  HiddenWindow w;
  ASSERT_TRUE(w.created);
  HWND window = w.window.Handle();
  // In a row (centres less than half a row apart) left to right, else downwards.
  const int half_row = MulDiv(180, static_cast<int>(DpiOf(window)), 1440);
  HWND from = w.Control(IDOK);
  std::vector<std::string> stops;
  for (HWND next = GetNextDlgTabItem(window, from, FALSE); next != w.Control(IDOK);
       from = next, next = GetNextDlgTabItem(window, next, FALSE)) {
    ASSERT_NE(next, nullptr);
    ASSERT_LT(stops.size(), MainControls().size());
    const RECT a = PlaceOf(window, GetDlgCtrlID(from));
    const RECT b = PlaceOf(window, GetDlgCtrlID(next));
    const int down = (b.top + b.bottom - a.top - a.bottom) / 2;
    stops.push_back(Narrow(Caption(next)));
    EXPECT_TRUE(down > half_row || (std::abs(down) <= half_row && b.left > a.left))
        << "after " << Narrow(Caption(from)) << " comes " << stops.back();
  }
  EXPECT_EQ(stops.size(), 13u) << testing::PrintToString(stops);
}

TEST(Win32MainWindow, AboutOpensOneModelessBoxDrawnAsThePolicySays) {
  HiddenWindow w;
  ASSERT_TRUE(w.created);
  w.Click(IDC_ABOUT);
  HWND about = FindWindowW(nullptr, L"About Dialmend");
  ASSERT_NE(about, nullptr);
  EXPECT_EQ(Caption(GetDlgItem(about, IDC_ABOUT_DISCLAIMER)), WindowsLines(kAboutWarning));
  EXPECT_EQ(
      Caption(GetDlgItem(about, IDC_ABOUT_DESCRIPTION))
          .rfind(L"This utility is designed to update contacts in Microsoft\u00AE Outlook ", 0),
      0u);
  EXPECT_EQ(Caption(GetDlgItem(about, IDC_ABOUT_VERSION)).rfind(L"Version ", 0), 0u);
  EXPECT_TRUE(PlaceOf(about, IDC_SYS_INFO) == Pixels(PlaceOf(AboutControl::SysInfo)));
  RECT client;
  GetClientRect(about, &client);
  EXPECT_TRUE(client == Pixels({0, 0, kAboutWidth, kAboutHeight}));
  w.Click(IDC_ABOUT);
  EXPECT_EQ(FindWindowW(nullptr, L"About Dialmend"), about);
  SendMessageW(GetDlgItem(about, IDOK), BM_CLICK, 0, 0);
  EXPECT_FALSE(IsWindow(about));
}

// What the modal International Options showed, read from inside its own message loop.
struct SeenOptions {
  bool found = false;
  std::vector<std::pair<std::wstring, bool>> controls;  // caption, at its place
  RECT client{};
  RECT outer{};
  bool old_codes_ticked = true;
};
SeenOptions g_seen_options;

void CALLBACK ReadOptionsAndClose(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  HWND options = FindWindowW(nullptr, L"International Options");
  if (options == nullptr) return;
  g_seen_options.found = true;
  for (HWND child = GetWindow(options, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    RECT place = PlaceOf(options, GetDlgCtrlID(child));
    const std::wstring caption = Caption(child);
    g_seen_options.controls.emplace_back(caption, false);
    for (const OptionsSpec& spec : OptionsControls()) {
      // A frame's caption has spaces either side.
      const std::wstring given = Wide(spec.caption);
      if ((caption == given || caption == L" " + given + L"  ") && Pixels(spec.place) == place) {
        g_seen_options.controls.back().second = true;
      }
    }
  }
  GetClientRect(options, &g_seen_options.client);
  GetWindowRect(options, &g_seen_options.outer);
  g_seen_options.old_codes_ticked = IsDlgButtonChecked(options, IDC_OLD_CODES) == BST_CHECKED;
  SendDlgItemMessageW(options, IDC_OLD_CODES, BM_CLICK, 0, 0);
  PostMessageW(options, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

TEST(Win32MainWindow, InternationalOptionsAreDrawnAsThePolicySays) {
  HiddenWindow w;
  ASSERT_TRUE(w.created);
  g_seen_options = {};
  // Fires once the dialog's own loop runs, which is when it has been laid out.
  SetTimer(nullptr, 0, 0, ReadOptionsAndClose);
  w.Click(IDC_OPTIONS);
  ASSERT_TRUE(g_seen_options.found);
  EXPECT_EQ(g_seen_options.controls.size(), OptionsControls().size());
  for (const auto& [caption, placed] : g_seen_options.controls) {
    EXPECT_TRUE(placed) << Narrow(caption);
  }
  EXPECT_TRUE(g_seen_options.client == Pixels({0, 0, kOptionsWidth, kOptionsHeight}));
  // The check box, off at start, turns "old codes only" on.
  EXPECT_FALSE(g_seen_options.old_codes_ticked);
  EXPECT_TRUE(w.window.Options().old_codes_only);
}

// What CentredMessageBox showed, read from inside its own loop.
RECT g_box_seen{};

void CALLBACK ReadBoxAndClose(HWND, UINT, UINT_PTR timer, DWORD) {
  HWND box = FindWindowW(L"#32770", L"Dialmend");
  if (box == nullptr) return;
  KillTimer(nullptr, timer);
  GetWindowRect(box, &g_box_seen);
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

TEST(Win32MainWindow, DialogsOpenCentredOnTheWindow) {
  HiddenWindow w;
  ASSERT_TRUE(w.created);
  HWND window = w.window.Handle();
  SetWindowPos(window, nullptr, 200, 150, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  const POINT centre = CentreOf(window);
  w.Click(IDC_ABOUT);
  HWND about = FindWindowW(nullptr, L"About Dialmend");
  ASSERT_NE(about, nullptr);
  EXPECT_NEAR(CentreOf(about).x, centre.x, 1);
  EXPECT_NEAR(CentreOf(about).y, centre.y, 1);
  DestroyWindow(about);
  g_seen_options = {};
  SetTimer(nullptr, 0, 0, ReadOptionsAndClose);
  w.Click(IDC_OPTIONS);
  EXPECT_NEAR((g_seen_options.outer.left + g_seen_options.outer.right) / 2, centre.x, 1);
  EXPECT_NEAR((g_seen_options.outer.top + g_seen_options.outer.bottom) / 2, centre.y, 1);
  g_box_seen = {};
  const UINT_PTR timer = SetTimer(nullptr, 0, 20, ReadBoxAndClose);
  EXPECT_EQ(CentredMessageBox(window, L"Centred?", MB_OK), IDOK);
  KillTimer(nullptr, timer);
  EXPECT_NEAR((g_box_seen.left + g_box_seen.right) / 2, centre.x, 1);
  EXPECT_NEAR((g_box_seen.top + g_box_seen.bottom) / 2, centre.y, 1);
}

}  // namespace
}  // namespace dialmend
