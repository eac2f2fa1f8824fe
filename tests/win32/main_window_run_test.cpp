#include "win32/main_window.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/user_setting.h"
#include "run/run_summary.h"
#include "tests/fakes/test_folder.h"
#include "tests/win32/hidden_window.h"
#include "win32/resource_ids.h"
#include "win32/wide_text.h"

// The Win32 window, created hidden, over runs: the log it saves, closing during a run, the
// contacts it goes over and reopens on, and undo. Run on Windows or under wine.

namespace dialmend {
namespace {

namespace fs = std::filesystem;

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
    original = ReadTestTree(folder / "profile");
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
  ASSERT_NE(ReadTestTree(copy.folder / "profile"), copy.original);
  w.answers = {IDYES};
  w.Click(IDC_UNDO);
  ASSERT_EQ(w.asked.size(), 1u);
  EXPECT_EQ(w.asked[0].rfind(L"Undo the update of ", 0), 0u) << w.asked[0];
  EXPECT_EQ(w.asked_types[0] & MB_ICONMASK, static_cast<UINT>(MB_ICONQUESTION));
  EXPECT_EQ(ReadTestTree(copy.folder / "profile"), copy.original);
  // Its log shows in the pane and is saved, as any run's.
  EXPECT_NE(w.window.LogText().find("Undo complete"), std::string::npos);
  EXPECT_TRUE(w.window.Controller().LogSaved());
  const fs::path undo_log = Caption(w.Control(IDC_LOG_FILE));
  EXPECT_EQ(ReadTestFile(undo_log), w.window.LogText());
  fs::remove(undo_log);
}

}  // namespace
}  // namespace dialmend
