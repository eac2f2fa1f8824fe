#pragma once

// The other Windows headers need what windows.h declares first.
#include <windows.h>

#include <functional>
#include <optional>
#include <string>

#include "engine/number_options.h"
#include "run/activity_log.h"
#include "run/run_controller.h"
#include "stores/profile/open_profile.h"

// The main window, "Dialmend", in plain Win32: the run's settings, the Go and Quit buttons
// that drive it, the counters and the log pane. It is the run controller's view on Windows, as
// MainWindow is with Qt. A run runs nested in the Go press and keeps the window alive by
// pumping its messages at the walk's yields.

namespace dialmend {

class Win32MainWindow : public RunView {
 public:
  // Shows `text` in a message box of `type` (MB_OK, MB_YESNO, ...) over the window; returns the
  // button pressed (IDOK, IDYES, ...).
  using MessageBoxFn = std::function<int(const std::wstring& text, UINT type)>;
  // Asks where the contacts are, offering `current`: a folder or a .vcf file; std::nullopt
  // when cancelled.
  using ContactsChooser = std::function<std::optional<std::wstring>(const std::wstring& current)>;

  // `profile` names the store to run over (empty: Outlook).
  Win32MainWindow(HINSTANCE instance, std::wstring profile);
  ~Win32MainWindow() override;
  Win32MainWindow(const Win32MainWindow&) = delete;
  Win32MainWindow& operator=(const Win32MainWindow&) = delete;

  // Creates the window from its dialog template, hidden; false when Windows refuses.
  [[nodiscard]] bool Create();
  [[nodiscard]] HWND Handle() const { return m_window; }
  // Pumps messages until the program ends; returns its exit code.
  int RunMessageLoop();

  [[nodiscard]] RunController& Controller() { return m_controller; }
  [[nodiscard]] const NumberOptions& Options() const { return m_options; }
  // The tooltip the control `id` shows; empty when it has none.
  [[nodiscard]] std::wstring ToolTip(int id) const;

  // Seams for tests: every message box and question of the main window, and the contacts
  // chooser behind "...". By default the system's message box and file dialogs.
  void SetMessageBox(MessageBoxFn message_box) { m_message_box = std::move(message_box); }
  void SetContactsChooser(ContactsChooser chooser) { m_choose_contacts = std::move(chooser); }

  // RunView
  RunJob PrepareRun() override;
  void ShowStarted(bool update) override;
  void ShowPaused(bool update) override;
  void ShowResumed(bool update) override;
  void ShowFinished(bool update) override;
  void ShowReset(bool update) override;
  void ShowCounters(const RunCounters& counters) override;
  void ShowLogPath(const std::string& path) override;
  AbortAnswer AskAbort() override;
  bool AskUndo(const std::string& started) override;
  void ShowMessage(const std::string& text) override;
  void ShowProfileProblem(const std::string& reason) override;
  void EndProgram() override;
  void ProcessEvents(bool wait) override;
  std::string NowText() override;

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  static INT_PTR CALLBACK AboutProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  static INT_PTR CALLBACK OptionsProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  void About_Click();
  void cmdOption_Click();
  // Log file...: a save dialog for the log path, asked again while its folder is missing.
  void SetFile_Click();
  // "..." of the contacts row: the chooser, then the choice checked; a refused one says why and
  // the contacts stay as they were.
  void SetProfile_Click();
  // A menu under "..." offering a folder or a .vcf file, then the system's dialog for it.
  std::optional<std::wstring> ChooseContacts(const std::wstring& current);
  // Puts where the contacts are into the contacts box: the chosen path, or what the default
  // search finds now (Outlook).
  void ShowProfile();
  // Shows and enables the Undo button, or hides and disables it.
  void OfferUndo(bool offered);
  // Gives control `id` the tooltip `text`, or changes the one it has.
  void SetTip(int id, std::string_view text);
  void AddTips();
  INT_PTR OnMessage(UINT message, WPARAM wparam, LPARAM lparam);
  void Command(int id);
  // Puts every control at its place in twips, scaled to `dpi`.
  void Layout(UINT dpi);
  // Puts the About box's and International Options' controls at their places in twips,
  // scaled to the dialog's DPI.
  static void LayoutAbout(HWND about);
  static void LayoutOptions(HWND options);
  // Shows or hides the log pane; the window is resizable only while it shows, and comes back
  // at the size the user left it at.
  void ShowLog(bool shown);
  // Keeps the window's client size, for the next time the log shows.
  void RememberLogSize();
  // Stretches the log pane over the client area below the controls.
  void PlaceLogPane();
  void SetRunControlsEnabled(bool enabled);
  void SetStyleChooserShown(bool shown);
  void AppendToPane(std::string_view text);
  // Puts pending log text and counts on screen; during a run at most every few frames.
  void Present(bool now);
  // Handles the messages waiting now, through the dialog manager (Tab, access keys, Enter).
  void PumpMessages();
  // Hands `message` to the dialog manager of the window or About box it is for; false when it
  // is for neither.
  bool DialogMessage(MSG& message);

  [[nodiscard]] bool Checked(int id) const;
  void SetText(int id, const std::wstring& text);
  [[nodiscard]] std::wstring Text(int id) const;

  HINSTANCE m_instance;
  std::wstring m_profile;
  HWND m_window = nullptr;
  HWND m_about = nullptr;  // the About box while it is open
  HWND m_tips = nullptr;
  MessageBoxFn m_message_box;
  ContactsChooser m_choose_contacts;
  HFONT m_bold_font = nullptr;
  HFONT m_title_font = nullptr;
  HFONT m_fixed_font = nullptr;
  HICON m_image = nullptr;
  UINT m_dpi = 96;
  NumberOptions m_options;
  ActivityLog m_log;
  RunController m_controller;
  bool m_log_shown = false;
  // The client size, in twips, the window had when the log was last hidden; zero: as designed.
  SIZE m_log_size{0, 0};
  bool m_ending = false;
  bool m_waiting_shown = false;  // the caption says the run waits for Outlook
  int m_exit_code = 0;
  // The numbered default the log path box was given; while the box holds it, a run moves on to
  // the next free number rather than replace another run's log.
  std::string m_default_log;
  // The log this window's last simulation saved; empty after any other run.
  std::string m_own_log;
  std::string m_pending_log;
  RunCounters m_latest_counters;
  ULONGLONG m_last_present = 0;
};

}  // namespace dialmend
