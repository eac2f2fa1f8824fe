#include "win32/main_window.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/user_setting.h"
#include "run/run_summary.h"
#include "run/window_texts.h"
#include "tests/fakes/test_folder.h"
#include "win32/dialog_layout.h"
#include "win32/log_pane.h"
#include "win32/resource_ids.h"
#include "win32/wide_text.h"

// The Win32 window, created hidden and driven by messages as the dialog manager sends them:
// that it draws what the window policy decides and forwards what the user does. Run on
// Windows or under wine.

namespace dialmend {
namespace {

namespace fs = std::filesystem;

// Where control `id` of `dialog` is, in its client area.
RECT PlaceOf(HWND dialog, int id) {
  RECT place;
  GetWindowRect(GetDlgItem(dialog, id), &place);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&place), 2);
  return place;
}

// `at` in pixels at the screen's DPI.
RECT Pixels(const TwipsRect& at) {
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  const int x = MulDiv(at.left, dpi, 1440);
  const int y = MulDiv(at.top, dpi, 1440);
  return {x, y, x + MulDiv(at.width, dpi, 1440), y + MulDiv(at.height, dpi, 1440)};
}

bool operator==(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

std::wstring Caption(HWND window) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(
      static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

bool Shown(HWND window) {
  return (GetWindowLongW(window, GWL_STYLE) & WS_VISIBLE) != 0;
}

std::map<std::string, std::string> FilesUnder(const fs::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) {
      files[fs::relative(entry.path(), root).generic_string()] = ReadTestFile(entry.path());
    }
  }
  return files;
}

struct HiddenWindow {
  explicit HiddenWindow(std::wstring profile = L"")
      : window(GetModuleHandleW(nullptr), std::move(profile)) {
    // Every question is answered from `answers` (IDCANCEL once they run out) and recorded.
    window.SetMessageBox([this](const std::wstring& text, UINT type) {
      asked.push_back(text);
      asked_types.push_back(type);
      if (on_ask) on_ask();
      if (answers.empty()) return IDCANCEL;
      const int answer = answers.front();
      answers.erase(answers.begin());
      return answer;
    });
    created = window.Create();
  }
  // The window's end posts the program's end; taken here, or the next test's dialogs would end
  // as they open.
  ~HiddenWindow() {
    if (window.Handle() != nullptr) DestroyWindow(window.Handle());
    MSG quit;
    PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
  }
  HiddenWindow(const HiddenWindow&) = delete;
  HiddenWindow& operator=(const HiddenWindow&) = delete;
  HWND Control(int id) const { return GetDlgItem(window.Handle(), id); }
  void Click(int id) const { SendMessageW(Control(id), BM_CLICK, 0, 0); }
  // Presses Quit at the run's first yield, as a click queued during the run.
  void QuitDuringTheRun() const {
    PostMessageW(window.Handle(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                 reinterpret_cast<LPARAM>(Control(IDCANCEL)));
  }

  // Each control shows what the policy says, at its place.
  void ExpectDrawnAsPolicySays() {
    for (const ControlSpec& spec : MainControls()) {
      const int id = Win32MainWindow::IdOf(spec.control);
      if (id == 0) continue;  // no such control here
      const ControlLook look = window.Policy().Look(spec.control);
      HWND control = Control(id);
      SCOPED_TRACE(std::string(spec.name));
      if (spec.kind != ControlKind::Image && spec.kind != ControlKind::LogPane) {
        EXPECT_EQ(Caption(control), Wide(look.text.empty() ? look.placeholder : look.text));
      }
      EXPECT_EQ(window.ToolTip(id), Wide(look.tip));
      EXPECT_EQ(IsWindowEnabled(control) != FALSE, look.enabled);
      EXPECT_EQ(Shown(control), look.visible);
      if (spec.kind == ControlKind::CheckBox || spec.kind == ControlKind::RadioButton) {
        EXPECT_EQ(IsDlgButtonChecked(window.Handle(), id) == BST_CHECKED, look.checked);
      }
      RECT place = PlaceOf(window.Handle(), id);
      // A choice box is as high as its face needs; its place's height is the field's room.
      if (spec.kind == ControlKind::ChoiceBox) place.bottom = Pixels(spec.place).bottom;
      if (spec.control != Control::Log) {
        EXPECT_TRUE(place == Pixels(spec.place));
      }
    }
    EXPECT_EQ(Caption(window.Handle()), Wide(window.Policy().Window().title));
  }
  Win32MainWindow window;
  bool created = false;
  std::vector<std::wstring> asked;
  std::vector<UINT> asked_types;
  std::vector<int> answers;
  std::function<void()> on_ask;
};

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

// The Log file... dialog as a user meets it: OK pressed on the file offered, each question that
// follows answered from `answers` and its text kept.
struct SaveDialogUser {
  std::vector<int> answers;
  std::vector<std::wstring> questions;
};
SaveDialogUser g_save_user;

BOOL CALLBACK AnswerSaveDialogWindow(HWND window, LPARAM) {
  // The dialog is disabled while it asks; a box with Yes is the question.
  if (!IsWindowVisible(window) || !IsWindowEnabled(window)) return TRUE;
  if (GetDlgItem(window, IDYES) != nullptr) {
    g_save_user.questions.push_back(Caption(GetDlgItem(window, 0xFFFF)));  // the box's text
    const int answer = g_save_user.answers.empty() ? IDNO : g_save_user.answers.front();
    if (!g_save_user.answers.empty()) g_save_user.answers.erase(g_save_user.answers.begin());
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0);
    return FALSE;
  }
  if (Caption(window) != L"Log file...") return TRUE;
  // Cancelled once every answer is given and it is still open.
  const int press = g_save_user.answers.empty() ? IDCANCEL : IDOK;
  PostMessageW(window, WM_COMMAND, MAKEWPARAM(press, BN_CLICKED), 0);
  return FALSE;
}

void CALLBACK AnswerSaveDialog(HWND, UINT, UINT_PTR, DWORD) {
  EnumThreadWindows(GetCurrentThreadId(), AnswerSaveDialogWindow, 0);
}

TEST(Win32MainWindow, LogFileAsksBeforeReplacingAFile) {
  HiddenWindow w;
  ASSERT_TRUE(w.created);
  const fs::path folder = FreshTestFolder("win32_log_file");
  const fs::path existing = folder / "kept.txt";
  WriteTestFile(existing, "an earlier log");
  // The dialog opens on the file in the box. No keeps it open, Yes takes the file.
  SetWindowTextW(w.Control(IDC_LOG_FILE), existing.wstring().c_str());
  g_save_user = {{IDNO, IDYES}, {}};
  const UINT_PTR timer = SetTimer(nullptr, 0, 50, AnswerSaveDialog);
  w.Click(IDC_SET_FILE);
  KillTimer(nullptr, timer);
  // Windows names the file in the question; wine asks without naming it.
  ASSERT_EQ(g_save_user.questions.size(), 2u);
  EXPECT_EQ(Caption(w.Control(IDC_LOG_FILE)), existing.wstring());
  EXPECT_EQ(ReadTestFile(existing), "an earlier log");
  fs::remove_all(folder);
}

// Closing the window (or logging off) during a run: the message arrives at the run's first
// yield; the run is aborted, its summary written and its log saved, and only then does the
// window close.
class Win32CloseDuringARun : public testing::TestWithParam<UINT> {};

TEST_P(Win32CloseDuringARun, AbortsTheRunSavesTheLogAndThenCloses) {
  HiddenWindow w(L"" DIALMEND_SAMPLE_PROFILE);
  ASSERT_TRUE(w.created);
  const fs::path log = FreshTestFolder("win32_close") / "close.txt";
  SetWindowTextW(w.Control(IDC_LOG_FILE), log.wstring().c_str());
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
  EXPECT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  const std::string text = ReadTestFile(log);
  fs::remove_all(log.parent_path());
  EXPECT_NE(text.find("Simulation aborted"), std::string::npos) << text;
}

INSTANTIATE_TEST_SUITE_P(Win32MainWindow, Win32CloseDuringARun,
                         testing::Values(WM_CLOSE, WM_QUERYENDSESSION), [](const auto& info) {
                           return info.param == WM_CLOSE ? "Close" : "LogOff";
                         });

TEST(Win32MainWindow, ReopensOnTheContactsChosenLastUnlessTheyAreGone) {
  const std::string sample = DIALMEND_SAMPLE_PROFILE;
  for (const std::string& remembered : {sample, sample + "/gone"}) {
    ASSERT_TRUE(WriteUserSetting(L"Contacts", remembered));
    HiddenWindow w;
    EXPECT_EQ(w.window.Policy().ContactsOffered() == sample, remembered == sample) << remembered;
    EXPECT_TRUE(w.asked.empty());
  }
  (void)WriteUserSetting(L"Contacts", "");
}

TEST(Win32MainWindow, ClosingWhileIdleEndsTheProgram) {
  HiddenWindow w;
  ASSERT_TRUE(w.created);
  SendMessageW(w.window.Handle(), WM_CLOSE, 0, 0);
  EXPECT_EQ(w.window.Handle(), nullptr);
  MSG message;
  EXPECT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

TEST(Win32MainWindow, TheContactsAreOutlookUntilAFolderIsChosenAndARunGoesOverThem) {
  HiddenWindow w;
  ASSERT_TRUE(w.created);
  EXPECT_EQ(Caption(w.Control(IDC_PROFILE)), L"Outlook");
  // Outlook is asked for its books only when the user opens the choice.
  EXPECT_EQ(SendMessageW(w.Control(IDC_BOOK), CB_GETCOUNT, 0, 0), 1);
  std::wstring offered = L"unasked";
  w.window.SetContactsChooser([&](const std::wstring& current) {
    offered = current;
    return std::optional<std::wstring>(L"" DIALMEND_SAMPLE_PROFILE);
  });
  w.Click(IDC_SET_PROFILE);
  EXPECT_EQ(offered, L"Outlook");
  EXPECT_EQ(Caption(w.Control(IDC_PROFILE)), L"" DIALMEND_SAMPLE_PROFILE);
  EXPECT_TRUE(w.asked.empty());
  w.Click(IDC_SAVE_LOG);
  w.Click(IDOK);
  EXPECT_EQ(w.window.Controller().Counters().checked, 58);
  // One book of them, as the user chooses it.
  w.Click(IDOK);
  SendMessageW(w.Control(IDC_BOOK), CB_SELECTSTRING, static_cast<WPARAM>(-1),
               reinterpret_cast<LPARAM>(L"family"));
  SendMessageW(w.window.Handle(), WM_COMMAND, MAKEWPARAM(IDC_BOOK, CBN_SELCHANGE), 0);
  w.Click(IDOK);
  EXPECT_EQ(w.window.Controller().Counters().checked, 9);
}

// An update of a copy of the sample, its undo record in a folder of the test's own.
struct UpdatedCopy {
  UpdatedCopy() : folder(FreshTestFolder("win32_undo")) {
    fs::copy(fs::path(DIALMEND_SAMPLE_PROFILE), folder / "profile", fs::copy_options::recursive);
    fs::create_directories(folder / "state");
    if (const char* local = std::getenv("LOCALAPPDATA")) saved_local = local;
    _putenv_s("LOCALAPPDATA", (folder / "state").string().c_str());
    original = FilesUnder(folder / "profile");
  }
  ~UpdatedCopy() {
    _putenv_s("LOCALAPPDATA", saved_local.c_str());
    fs::remove_all(folder);
  }
  fs::path folder;
  std::string saved_local;
  std::map<std::string, std::string> original;
};

TEST(Win32MainWindow, UndoPutsTheNumbersBackAndSavesItsLog) {
  UpdatedCopy copy;
  HiddenWindow w((copy.folder / "profile").wstring());
  ASSERT_TRUE(w.created);
  const std::wstring log = (copy.folder / "update.txt").wstring();
  SetWindowTextW(w.Control(IDC_LOG_FILE), log.c_str());
  w.Click(IDC_UPDATE);
  w.Click(IDOK);
  ASSERT_NE(FilesUnder(copy.folder / "profile"), copy.original);
  w.answers = {IDYES};
  w.Click(IDC_UNDO);
  ASSERT_EQ(w.asked.size(), 1u);
  EXPECT_EQ(w.asked[0].rfind(L"Undo the update of ", 0), 0u) << w.asked[0];
  EXPECT_EQ(w.asked_types[0] & MB_ICONMASK, static_cast<UINT>(MB_ICONQUESTION));
  EXPECT_EQ(FilesUnder(copy.folder / "profile"), copy.original);
  // Its log shows in the pane and is saved, as any run's.
  EXPECT_NE(w.window.LogText().find("Undo complete"), std::string::npos);
  EXPECT_TRUE(w.window.Controller().LogSaved());
  const fs::path undo_log = Caption(w.Control(IDC_LOG_FILE));
  EXPECT_EQ(ReadTestFile(undo_log), w.window.LogText());
  fs::remove(undo_log);
}

}  // namespace
}  // namespace dialmend
