#include "win32/main_window.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "platform/utf16.h"
#include "run/window_texts.h"
#include "win32/resource_ids.h"

// The Win32 view, its window created hidden and its controls driven by messages as the dialog
// manager sends them. Run on Windows or under wine.

namespace dialmend {
namespace {

namespace fs = std::filesystem;

std::wstring Wide(std::string_view text) {
  return Utf8ToUtf16(text).value_or(L"?");
}

int Dpi() {
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi;
}

// Where control `id` of `dialog` is, in its client area.
RECT PlaceOf(HWND dialog, int id) {
  RECT place;
  GetWindowRect(GetDlgItem(dialog, id), &place);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&place), 2);
  return place;
}

// `left`, `top`, `width`, `height` in twips, as pixels at the screen's DPI.
RECT Twips(int left, int top, int width, int height) {
  const int dpi = Dpi();
  const int x = MulDiv(left, dpi, 1440);
  const int y = MulDiv(top, dpi, 1440);
  return {x, y, x + MulDiv(width, dpi, 1440), y + MulDiv(height, dpi, 1440)};
}

bool operator==(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// An empty folder of its own for one test, removed after it.
struct FreshFolder {
  explicit FreshFolder(const std::string& name)
      : path(fs::temp_directory_path() / (name + "_" + std::to_string(std::random_device{}()))) {
    fs::create_directories(path);
  }
  ~FreshFolder() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
  fs::path path;
};

std::map<std::string, std::string> FilesUnder(const fs::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    files[fs::relative(entry.path(), root).generic_string()] = {std::istreambuf_iterator<char>(in),
                                                                {}};
  }
  return files;
}

struct HiddenWindow {
  explicit HiddenWindow(std::wstring profile = L"")
      : window(GetModuleHandleW(nullptr), std::move(profile)) {
    // Every question is answered from `answers` (IDCANCEL once they run out) and recorded.
    window.SetMessageBox([this](const std::wstring& text, UINT) {
      asked.push_back(text);
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
  std::wstring Caption(int id = 0) const {
    HWND of = id == 0 ? window.Handle() : Control(id);
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(of)) + 1, L'\0');
    text.resize(
        static_cast<std::size_t>(GetWindowTextW(of, text.data(), static_cast<int>(text.size()))));
    return text;
  }

  Win32MainWindow window;
  bool created = false;
  std::vector<std::wstring> asked;
  std::vector<int> answers;
  std::function<void()> on_ask;
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
  EXPECT_EQ(client.bottom, MulDiv(3405 + 360, dpi, 1440));
}

TEST(Win32MainWindow, ProfileProblemNamesThePathAndTheReason) {
  HiddenWindow w(L"C:\\Contacts\\Work");
  ASSERT_TRUE(w.created);
  w.window.ShowProfileProblem("access is denied");
  ASSERT_EQ(w.asked.size(), 1U);
  EXPECT_EQ(w.asked[0], Wide(ProfileProblemText("C:\\Contacts\\Work", "access is denied")));
  EXPECT_NE(w.asked[0].find(L"\"C:\\Contacts\\Work\": access is denied"), std::wstring::npos);
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
  const RECT designed_log = PlaceOf(window, IDC_LOG);

  RECT outer;
  GetWindowRect(window, &outer);
  const int wider = 150;
  const int taller = 200;
  SetWindowPos(window, nullptr, 0, 0, outer.right - outer.left + wider,
               outer.bottom - outer.top + taller, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  RECT client;
  GetClientRect(window, &client);
  const RECT log = PlaceOf(window, IDC_LOG);
  EXPECT_EQ(log.left, 0);
  EXPECT_EQ(log.top, designed_log.top);
  EXPECT_EQ(log.right, client.right);
  EXPECT_EQ(log.bottom, client.bottom);
  EXPECT_EQ(log.bottom - log.top, designed_log.bottom - designed_log.top + taller);
  EXPECT_TRUE(PlaceOf(window, IDOK) == go);

  // No smaller than designed with the log.
  MINMAXINFO limits{};
  SendMessageW(window, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits));
  EXPECT_EQ(limits.ptMinTrackSize.x, outer.right - outer.left);
  EXPECT_EQ(limits.ptMinTrackSize.y, outer.bottom - outer.top);

  w.Click(IDC_SHOW_LOG);
  EXPECT_EQ(style() & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0);
  RECT hidden;
  GetClientRect(window, &hidden);
  EXPECT_EQ(hidden.bottom, MulDiv(3405 + 360, Dpi(), 1440));

  // Shown again at the size it was left at.
  w.Click(IDC_SHOW_LOG);
  RECT again;
  GetClientRect(window, &again);
  EXPECT_NEAR(again.right, client.right, 1);
  EXPECT_NEAR(again.bottom, client.bottom, 1);
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
  EXPECT_EQ(client.bottom, MulDiv(5520 + 360, dpi, 1440));
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
  EXPECT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
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

TEST(Win32MainWindow, ContactsRowShowsOutlookUntilAFolderIsChosen) {
  HiddenWindow w;
  ASSERT_TRUE(w.created);
  EXPECT_EQ(w.Caption(IDC_PROFILE_LABEL), L"Contacts:");
  EXPECT_EQ(w.Caption(IDC_PROFILE), L"Outlook");
  std::wstring offered = L"unasked";
  w.window.SetContactsChooser([&](const std::wstring& current) {
    offered = current;
    return std::optional<std::wstring>(L"" DIALMEND_SAMPLE_PROFILE);
  });
  w.Click(IDC_SET_PROFILE);
  EXPECT_EQ(offered, L"");
  EXPECT_EQ(w.Caption(IDC_PROFILE), L"" DIALMEND_SAMPLE_PROFILE);
  EXPECT_TRUE(w.asked.empty());
  // The run goes over the contacts chosen.
  w.Click(IDC_SAVE_LOG);
  w.Click(IDOK);
  EXPECT_EQ(w.window.Controller().Counters().checked, 58);
}

TEST(Win32MainWindow, ContactsChoiceCancelledKeepsTheContacts) {
  HiddenWindow w(L"" DIALMEND_SAMPLE_PROFILE);
  ASSERT_TRUE(w.created);
  w.window.SetContactsChooser([](const std::wstring&) { return std::optional<std::wstring>(); });
  w.Click(IDC_SET_PROFILE);
  EXPECT_EQ(w.Caption(IDC_PROFILE), L"" DIALMEND_SAMPLE_PROFILE);
  EXPECT_TRUE(w.asked.empty());
}

TEST(Win32MainWindow, ContactsChoiceWithoutCardsIsRefusedSayingWhy) {
  HiddenWindow w;
  ASSERT_TRUE(w.created);
  FreshFolder empty("win32_no_cards");
  const std::wstring chosen = empty.path.wstring();
  w.window.SetContactsChooser([&](const std::wstring&) { return std::optional(chosen); });
  w.Click(IDC_SET_PROFILE);
  ASSERT_EQ(w.asked.size(), 1u);
  const std::wstring& message = w.asked[0];
  EXPECT_EQ(message.rfind(L"Cannot read contacts from \"" + chosen + L"\": ", 0), 0u) << message;
  EXPECT_NE(message.find(L"no contact cards"), std::wstring::npos) << message;
  EXPECT_NE(message.find(L"The contacts are still those in \"Outlook\"."), std::wstring::npos)
      << message;
  EXPECT_EQ(w.Caption(IDC_PROFILE), L"Outlook");
}

TEST(Win32MainWindow, ContactsRowIsDisabledDuringARunAndEnabledAfterIt) {
  HiddenWindow w(L"" DIALMEND_SAMPLE_PROFILE);
  ASSERT_TRUE(w.created);
  w.Click(IDC_SAVE_LOG);
  bool row_enabled_mid_run = true;
  // Quit pressed at the run's first yield asks whether to abort: the row is seen then.
  w.on_ask = [&] {
    row_enabled_mid_run =
        IsWindowEnabled(w.Control(IDC_PROFILE)) || IsWindowEnabled(w.Control(IDC_SET_PROFILE));
  };
  w.answers = {IDCANCEL};
  PostMessageW(w.window.Handle(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
               reinterpret_cast<LPARAM>(w.Control(IDCANCEL)));
  w.Click(IDOK);
  ASSERT_EQ(w.asked.size(), 1u) << "Quit during the run asked nothing";
  EXPECT_FALSE(row_enabled_mid_run);
  EXPECT_EQ(w.window.Controller().Counters().checked, 58) << "Cancel resumes the run";
  w.Click(IDOK);
  EXPECT_TRUE(IsWindowEnabled(w.Control(IDC_PROFILE)));
  EXPECT_TRUE(IsWindowEnabled(w.Control(IDC_SET_PROFILE)));
}

TEST(Win32MainWindow, ContactsRowTakesTheLogRowsPlaceAndTheRowsBelowMoveDownOneRow) {
  HiddenWindow w;
  ASSERT_TRUE(w.created);
  const HWND window = w.window.Handle();
  EXPECT_TRUE(PlaceOf(window, IDC_PROFILE) == Twips(1350, 2595, 3225, 285));
  EXPECT_TRUE(PlaceOf(window, IDC_SET_PROFILE) == Twips(4600, 2595, 300, 285));
  EXPECT_TRUE(PlaceOf(window, IDC_LOG_FILE) == Twips(1350, 2595 + 360, 3225, 285));
  EXPECT_TRUE(PlaceOf(window, IDC_REPLACE_TEXT) == Twips(3580, 2980 + 360, 1335, 285));
  EXPECT_TRUE(PlaceOf(window, IDOK) == Twips(2520, 720, 1100, 495)) << "the rows above stay";
}

TEST(Win32MainWindow, ControlsShowTheQtWindowsTooltips) {
  HiddenWindow w;
  ASSERT_TRUE(w.created);
  EXPECT_EQ(w.window.ToolTip(IDOK), L"Start simulation");
  EXPECT_EQ(w.window.ToolTip(IDCANCEL), Wide(kQuitTip));
  EXPECT_EQ(w.window.ToolTip(IDC_SHOW_LOG), Wide(kShowLogTip));
  EXPECT_EQ(w.window.ToolTip(IDC_ABOUT), Wide(kAboutTip));
  EXPECT_EQ(w.window.ToolTip(IDC_UNDO), Wide(kUndoTip));
  for (int id : {IDC_STYLE0, IDC_STYLE1, IDC_STYLE2, IDC_STYLE3}) {
    EXPECT_EQ(w.window.ToolTip(id), L"Select default style if you use Outlook's phone dialer");
  }
  EXPECT_EQ(w.window.ToolTip(IDC_OPTIONS), L"Options for UK +44 prefix");
  EXPECT_EQ(w.window.ToolTip(IDC_SET_PROFILE), Wide(kSetProfileTip));
  EXPECT_EQ(w.window.ToolTip(IDC_SET_FILE), L"Change location/filename");
  EXPECT_EQ(w.window.ToolTip(IDC_REPLACE), Wide(kReplaceTip));
  EXPECT_EQ(w.window.ToolTip(IDC_FIND_TEXT), L"Search string");
  EXPECT_EQ(w.window.ToolTip(IDC_REPLACE_TEXT), L"Replacement string");
  EXPECT_EQ(w.window.ToolTip(IDC_PROFILE), L"Outlook");
  EXPECT_EQ(w.window.ToolTip(IDC_LOG_FILE), L"") << "the Qt window gives the log path none";
  w.Click(IDC_UPDATE);
  EXPECT_EQ(w.window.ToolTip(IDOK), L"Start update");
}

TEST(Win32MainWindow, GoAndQuitTooltipsFollowTheRun) {
  HiddenWindow w(L"" DIALMEND_SAMPLE_PROFILE);
  ASSERT_TRUE(w.created);
  w.Click(IDC_SAVE_LOG);
  std::wstring go_mid_run;
  std::wstring quit_mid_run;
  w.on_ask = [&] {
    go_mid_run = w.window.ToolTip(IDOK);
    quit_mid_run = w.window.ToolTip(IDCANCEL);
  };
  w.answers = {IDCANCEL};
  PostMessageW(w.window.Handle(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
               reinterpret_cast<LPARAM>(w.Control(IDCANCEL)));
  w.Click(IDOK);
  EXPECT_EQ(go_mid_run, L"Resume simulation") << "the question is asked while paused";
  EXPECT_EQ(quit_mid_run, L"Abort simulation");
  EXPECT_EQ(w.window.ToolTip(IDOK), L"Reset simulation");
  EXPECT_EQ(w.window.ToolTip(IDCANCEL), Wide(kQuitTip));
  w.Click(IDOK);
  EXPECT_EQ(w.window.ToolTip(IDOK), L"Start simulation");
}

// An update of a copy of the sample, its undo record in a folder of the test's own.
struct UpdatedCopy {
  UpdatedCopy() : folder("win32_undo") {
    fs::copy(fs::path(DIALMEND_SAMPLE_PROFILE), folder.path / "profile",
             fs::copy_options::recursive);
    fs::create_directories(folder.path / "state");
    if (const char* local = std::getenv("LOCALAPPDATA")) saved_local = local;
    _putenv_s("LOCALAPPDATA", (folder.path / "state").string().c_str());
    original = FilesUnder(folder.path / "profile");
  }
  ~UpdatedCopy() { _putenv_s("LOCALAPPDATA", saved_local.c_str()); }
  FreshFolder folder;
  std::string saved_local;
  std::map<std::string, std::string> original;
};

TEST(Win32MainWindow, UndoIsOfferedAfterAnUpdateAsksFirstAndPutsTheNumbersBack) {
  UpdatedCopy copy;
  HiddenWindow w((copy.folder.path / "profile").wstring());
  ASSERT_TRUE(w.created);
  EXPECT_FALSE(IsWindowVisible(w.Control(IDC_UNDO)) ||
               (GetWindowLongW(w.Control(IDC_UNDO), GWL_STYLE) & WS_VISIBLE) != 0);
  const std::wstring log = (copy.folder.path / "update.txt").wstring();
  SetWindowTextW(w.Control(IDC_LOG_FILE), log.c_str());
  w.Click(IDC_UPDATE);
  w.Click(IDOK);
  ASSERT_EQ(w.window.Controller().State(), RunState::Finished);
  ASSERT_GT(w.window.Controller().Counters().updated, 0);
  ASSERT_NE(FilesUnder(copy.folder.path / "profile"), copy.original);
  EXPECT_TRUE(IsWindowEnabled(w.Control(IDC_UNDO)));
  EXPECT_NE(GetWindowLongW(w.Control(IDC_UNDO), GWL_STYLE) & WS_VISIBLE, 0);
  EXPECT_EQ(w.Caption(IDC_UNDO), L"U&ndo");

  w.answers = {IDNO};
  w.Click(IDC_UNDO);
  ASSERT_EQ(w.asked.size(), 1u);
  EXPECT_EQ(w.asked[0].rfind(L"Undo the update of ", 0), 0u) << w.asked[0];
  EXPECT_NE(FilesUnder(copy.folder.path / "profile"), copy.original) << "No undoes nothing";

  w.answers = {IDYES};
  w.Click(IDC_UNDO);
  EXPECT_EQ(w.window.Controller().State(), RunState::Finished);
  EXPECT_EQ(FilesUnder(copy.folder.path / "profile"), copy.original);
  EXPECT_EQ(GetWindowLongW(w.Control(IDC_UNDO), GWL_STYLE) & WS_VISIBLE, 0)
      << "an undo offers no undo";
  // Its log shows in the pane and is saved, as any run's.
  w.Click(IDC_SHOW_LOG);
  EXPECT_NE(w.Caption(IDC_LOG).find(L"Undo complete"), std::wstring::npos);
  EXPECT_TRUE(w.window.Controller().LogSaved());
  const fs::path undo_log = w.Caption(IDC_LOG_FILE);
  std::ifstream in(undo_log, std::ios::binary);
  const std::string saved{std::istreambuf_iterator<char>(in), {}};
  in.close();
  fs::remove(undo_log);
  EXPECT_NE(saved.find("Undo complete"), std::string::npos) << saved;
}

TEST(Win32MainWindow, AboutSaysHowToUndoAsTheLinuxAboutDoes) {
  HiddenWindow w;
  ASSERT_TRUE(w.created);
  w.Click(IDC_ABOUT);
  HWND about = FindWindowW(nullptr, L"About Dialmend");
  ASSERT_NE(about, nullptr);
  wchar_t warning[512] = {};
  GetDlgItemTextW(about, IDC_ABOUT_DISCLAIMER, warning, 512);
  EXPECT_EQ(std::wstring(warning), Wide(kAboutWarning));
  EXPECT_NE(std::wstring(warning).find(L"press Undo"), std::wstring::npos);
  DestroyWindow(about);
}

TEST(Win32MainWindow, AboutPlacesItsControlsAtTheirTwipsScaledToTheDpi) {
  HiddenWindow w;
  ASSERT_TRUE(w.created);
  w.Click(IDC_ABOUT);
  HWND about = FindWindowW(nullptr, L"About Dialmend");
  ASSERT_NE(about, nullptr);
  EXPECT_TRUE(PlaceOf(about, IDOK) == Twips(4440, 3120, 1260, 345));
  EXPECT_TRUE(PlaceOf(about, IDC_SYS_INFO) == Twips(4440, 3600, 1245, 345));
  EXPECT_TRUE(PlaceOf(about, IDC_ABOUT_IMAGE) == Twips(120, 120, 885, 885));
  EXPECT_TRUE(PlaceOf(about, IDC_ABOUT_DISCLAIMER) == Twips(120, 3120, 3870, 825));
  RECT client;
  GetClientRect(about, &client);
  EXPECT_TRUE(client == Twips(0, 0, 5835, 4080));
  DestroyWindow(about);
}

// What the modal International Options showed, read from inside its own message loop.
struct SeenOptions {
  bool found = false;
  RECT ok{};
  RECT prefix2{};
  RECT note{};
  RECT old_codes{};
  RECT client{};
  bool old_codes_ticked = true;
};
SeenOptions g_seen_options;

void CALLBACK ReadOptionsAndClose(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  HWND options = FindWindowW(nullptr, L"International Options");
  if (options == nullptr) return;
  g_seen_options = {true,
                    PlaceOf(options, IDOK),
                    PlaceOf(options, IDC_PREFIX2),
                    PlaceOf(options, IDC_OPTIONS_NOTE),
                    PlaceOf(options, IDC_OLD_CODES),
                    {}};
  GetClientRect(options, &g_seen_options.client);
  g_seen_options.old_codes_ticked = IsDlgButtonChecked(options, IDC_OLD_CODES) == BST_CHECKED;
  SendDlgItemMessageW(options, IDC_OLD_CODES, BM_CLICK, 0, 0);
  PostMessageW(options, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

TEST(Win32MainWindow, InternationalOptionsPlacesItsControlsAtTheirTwipsScaledToTheDpi) {
  HiddenWindow w;
  ASSERT_TRUE(w.created);
  g_seen_options = {};
  MSG pending;
  ASSERT_FALSE(PeekMessageW(&pending, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE))
      << "a quit is pending";
  // Fires once the dialog's own loop runs, which is when it has been laid out.
  SetTimer(nullptr, 0, 0, ReadOptionsAndClose);
  w.Click(IDC_OPTIONS);
  ASSERT_TRUE(g_seen_options.found);
  EXPECT_TRUE(g_seen_options.ok == Twips(3210, 4725, 1125, 345));
  EXPECT_TRUE(g_seen_options.prefix2 == Twips(330, 1920, 3870, 255));
  EXPECT_TRUE(g_seen_options.note == Twips(165, 3705, 4170, 660));
  EXPECT_TRUE(g_seen_options.old_codes == Twips(165, 4395, 4170, 255));
  EXPECT_TRUE(g_seen_options.client == Twips(0, 0, 4500, 5175));
  // The check box, off at start, turns "old codes only" on.
  EXPECT_FALSE(g_seen_options.old_codes_ticked);
  EXPECT_TRUE(w.window.Options().old_codes_only);
}

}  // namespace
}  // namespace dialmend
