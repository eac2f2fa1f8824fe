#pragma once

#include <array>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "run/activity_log.h"
#include "run/run_controller.h"
#include "run/window_looks.h"
#include "stores/profile/open_profile.h"

// The main window's behaviour, whichever toolkit draws it: the looks of its controls in each
// state, the presenting of a run's log and counters, the log file's path, the offers made when
// a run ends, and the questions asked. A toolkit's window (ui/ with Qt, win32/) makes the
// controls, draws what the policy decides and forwards what the user does.

namespace dialmend {

// What a toolkit does for the window policy: draw, ask the user, and let events run.
class WindowHost {
 public:
  virtual ~WindowHost() = default;

  // Puts `look` on `control`, which shows `before`; with `before` null, puts every part of it.
  virtual void DrawControl(Control control, const ControlLook& look, const ControlLook* before) = 0;
  // Puts `look` on the window itself, which shows `before` (null: nothing yet). When the log
  // pane comes, the window grows to MainHeight(true) or the size the user last left it at; when
  // it goes, the window is MainHeight(false) high and fixed.
  virtual void DrawWindow(const WindowLook& look, const WindowLook* before) = 0;
  // Adds `text` (UTF-8, CR LF line ends) at the very end of the log pane, shown or not.
  virtual void AppendToPane(std::string_view text) = 0;
  virtual void ClearPane() = 0;
  // Brings the pane's last line into view.
  virtual void ScrollPaneToEnd() = 0;
  // Paints the counters, and the pane while it shows, now: a run holds up the event loop.
  virtual void PaintNow() = 0;
  virtual void Beep() = 0;
  // A message with an OK button only, no icon, titled "Dialmend".
  virtual void Inform(const std::string& text) = 0;
  // Asks `question` with Yes, No and Cancel (the default), with the critical-stop icon.
  [[nodiscard]] virtual AbortAnswer AskAbort(const std::string& question) = 0;
  // Asks `question` with Yes and No (the default), with the question icon; true for Yes.
  [[nodiscard]] virtual bool AskYesNo(const std::string& question) = 0;
  // A server's password, typed unseen after `prompt`; std::nullopt when none is given.
  // `remember` gets whether the user asked to keep it. By default nobody is asked.
  [[nodiscard]] virtual std::optional<std::string> AskPassword(const std::string& prompt,
                                                               bool& remember) {
    (void)prompt;
    (void)remember;
    return std::nullopt;
  }
  // Handles pending events once; with `wait`, first blocks until there is one.
  virtual void ProcessEvents(bool wait) = 0;
  // Closes the window and ends the program once its event loop is back.
  virtual void EndProgram() = 0;
};

class WindowPolicy : public RunView {
 public:
  // What tests preset.
  struct Seams {
    // The clock that paces presenting; by default the steady clock.
    std::function<std::chrono::steady_clock::time_point()> clock;
    // The numbered default log path; by default SetLogFile.
    std::function<std::string()> default_log_path;
    // Where the profile chooser looks for the default store.
    Environment environment = SystemEnvironment();
    // The contacts the user chose in an earlier sitting, and keeping a new choice for the next:
    // the window keeps them in its toolkit's settings. Unset, nothing is remembered.
    std::function<std::string()> remembered_contacts;
    std::function<void(const std::string&)> remember_contacts;
  };

  // During a run the log and the counters reach the screen at most this often.
  static constexpr std::chrono::milliseconds kFrame{40};

  // `profile` names the store to run over (empty: the contacts chosen last time, else the
  // default the profile chooser finds).
  WindowPolicy(WindowHost& host, std::string profile, Seams seams);
  WindowPolicy(WindowHost& host, std::string profile)
      : WindowPolicy(host, std::move(profile), Seams{}) {}

  // Draws every control and the window whole; the host calls it once its controls exist.
  void DrawAll();

  [[nodiscard]] ControlLook Look(Control control) const { return LookOf(control, m_state); }
  [[nodiscard]] WindowLook Window() const { return WindowLookOf(m_state); }

  // What the user does, forwarded by the host.
  void Go() { m_controller.Go(); }
  void Quit() { m_controller.Quit(); }
  // Offered once an update has finished: asks, then undoes that update in a run of its own.
  void Undo() { m_controller.Undo(); }
  // The window is being closed: true when it may close now; during a run the run is aborted
  // instead and the program ends once the walk has unwound.
  [[nodiscard]] bool Close() { return m_controller.Close(); }
  void StyleChosen(int index);
  // A check box the user ticked or cleared: Update, SaveLog or Replace.
  void Ticked(Control box, bool ticked);
  // A text box the user (or a program) changed: Find, Replacement or LogFile.
  void Edited(Control box, const std::string& text);
  void ShowLogPressed();
  // Where the contacts chooser opens: the contacts chosen, or the first the search found.
  [[nodiscard]] std::string ContactsOffered() const;
  // The user chose `path`: taken and remembered for the next sitting when it holds contacts,
  // else refused saying why, and the contacts stay as they were.
  void ContactsChosen(const std::string& path);
  // The user opens the address book choice: the books of a profile that is not one of folders
  // (a server, a file, Outlook) are asked for now, once, rather than as the window opens.
  void BookChoiceOpened();
  // The user chose entry `index` of the address book choice: 0 for all books, else that book
  // alone for the runs from now on.
  void BookChosen(int index);
  // The format check has run over Options(): it switched the custom replacement off and
  // emptied its texts; the buttons keep what the user last chose.
  void FormatCheckRan();

  // The live option state every conversion reads; the International Options change it too.
  [[nodiscard]] NumberOptions& Options() { return m_state.options; }
  [[nodiscard]] RunController& Controller() { return m_controller; }
  // Log text the pane has yet to be given (as logged: UTF-8, CR LF).
  [[nodiscard]] const std::string& PendingLog() const { return m_pending_log; }
  // Where the profile chooser looks for the default store from now on.
  void SetEnvironment(Environment environment);

  // RunView
  RunJob PrepareRun() override;
  void ShowStarted(bool update) override;
  void ShowPaused(bool update) override;
  void ShowResumed(bool update) override;
  void ShowFinished(bool update) override;
  void ShowReset(bool update) override;
  void ShowCounters(const RunCounters& counters) override;
  void ShowContactCount(std::int64_t count) override;
  void ShowLogPath(const std::string& path) override;
  AbortAnswer AskAbort() override;
  bool AskUndo(const std::string& started) override;
  void ShowMessage(const std::string& text) override;
  void ShowProfileProblem(const std::string& reason) override;
  void EndProgram() override { m_host.EndProgram(); }
  void ProcessEvents(bool wait) override;
  std::string NowText() override;

 private:
  // Draws what changed since the host last drew it.
  void Refresh();
  // Takes the look of `control` as drawn: the user changed it on screen.
  void Drawn(Control control) { m_drawn[static_cast<std::size_t>(control)] = Look(control); }
  // Puts pending log text and the latest counts on screen; during a run at most every frame,
  // so painting never costs more than the run itself.
  void Present(bool now);
  // Lets the window answer its messages (`wait`: blocking until one comes).
  void Pump(bool wait);
  // Gives the pane the log text it has yet to take, in one append.
  void FlushLog();
  void AppendLog(std::string_view text);
  // Where the contacts are now: the chosen path, or what the default search finds now.
  void FindProfile();
  // Forgets the books of the contacts chosen before and offers all books; lists the new ones
  // at once when they are folders on disk.
  void ResetBooks();
  // Lists the books of the contacts; one that cannot be listed offers all books alone.
  void ListBooks();
  // How a server profile is reached from the window: the password question, and Pause and
  // Abort answered while a busy server is waited for.
  [[nodiscard]] ServerAccess Access();

  WindowHost& m_host;
  std::string m_profile;
  Seams m_seams;
  WindowState m_state;
  bool m_books_listed = false;
  // What the host shows now, to draw only what changes.
  std::array<ControlLook, kControlCount> m_drawn;
  WindowLook m_drawn_window;
  bool m_drawing = false;
  // The numbered default the log path was given; while the path is it, a run moves on to the
  // next free number rather than replace another run's log.
  std::string m_default_log;
  // The log this window's last simulation saved; empty after any other run.
  std::string m_own_log;
  // The log keeps no copy of its text: the pane keeps it.
  ActivityLog m_log{false};
  RunController m_controller;
  // Log text and counts that came since the last frame.
  std::string m_pending_log;
  RunCounters m_latest_counters;
  std::optional<std::chrono::steady_clock::time_point> m_last_present;
};

}  // namespace dialmend
