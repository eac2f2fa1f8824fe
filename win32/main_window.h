#pragma once

// The other Windows headers need what windows.h declares first.
#include <windows.h>

#include <shobjidl.h>

#include <functional>
#include <optional>
#include <string>

#include "run/window_policy.h"

// The main window, "Dialmend", in plain Win32: it makes the controls from its dialog template,
// draws what the window policy decides and forwards what the user does, as MainWindow does
// with Qt. A run runs nested in the Go press and keeps the window alive by pumping its
// messages at the walk's yields.

namespace dialmend {

class LogPane;

class Win32MainWindow : public WindowHost {
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

  // The dialog template's control that draws `control`; 0 when the window has none.
  [[nodiscard]] static int IdOf(Control control);

  [[nodiscard]] WindowPolicy& Policy() { return m_policy; }
  [[nodiscard]] RunController& Controller() { return m_policy.Controller(); }
  [[nodiscard]] const NumberOptions& Options() { return m_policy.Options(); }
  // The tooltip the control `id` shows; empty when it has none.
  [[nodiscard]] std::wstring ToolTip(int id) const;
  // The log of the run in hand as logged (CR LF), read back from the pane's file.
  [[nodiscard]] std::string LogText() const;

  // Seams for tests: every message box and question of the main window, and the contacts
  // chooser behind "...". By default the system's message box and file dialogs.
  void SetMessageBox(MessageBoxFn message_box) { m_message_box = std::move(message_box); }
  void SetContactsChooser(ContactsChooser chooser) { m_choose_contacts = std::move(chooser); }

  // WindowHost
  void DrawControl(Control control, const ControlLook& look, const ControlLook* before) override;
  void DrawWindow(const WindowLook& look, const WindowLook* before) override;
  void AppendToPane(std::string_view text) override;
  void ClearPane() override;
  void ScrollPaneToEnd() override;
  void PaintNow() override;
  void Beep() override;
  void Inform(const std::string& text) override;
  AbortAnswer AskAbort(const std::string& question) override;
  bool AskYesNo(const std::string& question) override;
  void ProcessEvents(bool wait) override;
  void EndProgram() override;

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  static INT_PTR CALLBACK AboutProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  static INT_PTR CALLBACK OptionsProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  void About_Click();
  void cmdOption_Click();
  // Log file...: a save dialog for the log path, asked again while its folder is missing.
  void SetFile_Click();
  // "..." of the contacts row: the chooser, then the policy checks the choice.
  void SetProfile_Click();
  // A menu under "..." offering a folder or a .vcf file, then the system's dialog for it.
  std::optional<std::wstring> ChooseContacts(const std::wstring& current);
  // Shows the system's dialog for a folder or a .vcf file, opened where `current` is; puts the
  // choice in `chosen`. Returns the dialog's result (cancelled: ERROR_CANCELLED).
  HRESULT ShowContactsDialog(IFileOpenDialog& dialog, bool folder, const std::wstring& current,
                             std::optional<std::wstring>& chosen);
  // Fills the About box and the International Options as they open.
  void InitAbout(HWND about);
  void InitOptions(HWND options);
  // Gives control `id` the tooltip `text`, or changes the one it has.
  void SetTip(int id, std::string_view text);
  void MakeTips();
  INT_PTR OnMessage(UINT message, WPARAM wparam, LPARAM lparam);
  // The window as it opens: icons, tips, every control drawn and placed, Go focused.
  void Init();
  void Command(int id, int code);
  // Tab goes through the controls in the order the policy gives.
  void SetTabOrder();
  // Puts every control at its place in twips, scaled to `dpi`, in its face.
  void Layout(UINT dpi);
  void MakeFonts(UINT dpi);
  // The window is resizable only while the log shows, and comes back at the size the user left
  // it at.
  void SizeForLog(bool shown, bool remember);
  // Keeps the window's client size, for the next time the log shows.
  void RememberLogSize();
  // Stretches the log pane over the client area below the controls.
  void PlaceLogPane();
  // Handles the messages waiting now, through the dialog manager (Tab, access keys, Enter).
  void PumpMessages();
  // Hands `message` to the dialog manager of the window or About box it is for; false when it
  // is for neither.
  bool DialogMessage(MSG& message);
  // Moves the focus to Go when `control` has it: a disabled or hidden control keeps the focus
  // and takes no keys, so Esc and Enter would do nothing until a click.
  void KeepFocusUsable(HWND control);

  [[nodiscard]] bool Checked(int id) const;
  void SetText(int id, const std::wstring& text);
  [[nodiscard]] std::wstring Text(int id) const;

  HINSTANCE m_instance;
  HWND m_window = nullptr;
  HWND m_about = nullptr;  // the About box while it is open
  HWND m_tips = nullptr;
  LogPane* m_pane = nullptr;
  MessageBoxFn m_message_box;
  ContactsChooser m_choose_contacts;
  HFONT m_normal_font = nullptr;
  HFONT m_bold_font = nullptr;
  HFONT m_title_font = nullptr;
  HFONT m_fixed_font = nullptr;
  HICON m_image = nullptr;
  UINT m_dpi = 96;
  WindowPolicy m_policy;
  bool m_log_shown = false;
  // The client size, in twips, the window had when the log was last hidden; zero: none yet.
  SIZE m_log_size{0, 0};
  bool m_ending = false;
  int m_exit_code = 0;
};

}  // namespace dialmend
