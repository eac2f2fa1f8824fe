#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QSize>
#include <QString>
#include <array>
#include <memory>
#include <optional>
#include <string>

#include "engine/number_options.h"
#include "platform/result.h"
#include "run/activity_log.h"
#include "run/run_controller.h"
#include "stores/profile/open_profile.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace dialmend {

class Dialogs;
class AboutDialog;
class LogView;
class OptionDialog;

// The main window, "Dialmend": the run's settings, the Go and Quit buttons that drive it, the
// counters and the log pane. It is the view of the run controller; a run runs nested in the
// Go press and keeps the window alive by handling events at the walk's yields.
class MainWindow : public QDialog, public RunView {
 public:
  // `profile` names the store to run over (empty: the default the profile chooser finds);
  // `dialogs` answers every message box.
  MainWindow(QString profile, Dialogs& dialogs, QWidget* parent = nullptr);
  ~MainWindow() override;

  void Go_Click();
  void Quit_Click();
  // Offered once an update run has finished: asks, then undoes that update in a run of its own.
  void Undo_Click();
  void Update_Click();
  void Style_Click(int index);
  void chkReplace_Click();
  void cmdOption_Click();
  void SetProfile_Click();
  void SaveLog_Click();
  void SetFile_Click();
  void ShowLog_Click();
  void About_Click();
  void cmdTest_Click();

  // The live option state every conversion reads.
  [[nodiscard]] const NumberOptions& Options() const { return m_options; }
  [[nodiscard]] RunController& Controller() { return m_controller; }
  // The log of the run in hand as logged (CR LF), read back from the pane's file.
  [[nodiscard]] std::string LogText() const;
  // The International Options dialog, created on first use.
  [[nodiscard]] OptionDialog& OptionsDialog();

  // Where the profile chooser looks for the default store: tests preset it.
  void SetEnvironment(Environment environment);

  // A hook run at every yield of a run, for tests and screenshots to act mid-run.
  void SetYieldHook(std::function<void()> hook) { m_yield_hook = std::move(hook); }

  // From now on SIGTERM, SIGHUP and SIGINT close the window as its close box does (during a run:
  // abort, summary, log saved, then the end). Fails saying why they cannot be caught.
  [[nodiscard]] Status CloseOnTerminationSignals();

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

 protected:
  void reject() override { Quit_Click(); }
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  // Enter presses the focused button; from any other control it presses Go, the default.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // The controls, built in the steps a reader meets them on screen, top to bottom.
  void BuildControls();
  void BuildHeading();
  void BuildRunButtons();
  void BuildStyleChooser();
  // How a server profile is reached from the window: the password dialog, and Pause and Abort
  // answered while a busy server is waited for.
  [[nodiscard]] ServerAccess Access();
  void BuildCounters();
  void BuildOptionRows();
  void BuildLogPane();
  void SetTabOrder();
  void ConnectHandlers();
  // The log pane below the controls, taking whatever room the window gives it.
  void PlaceLogPane();
  // Puts where the contacts are into the contacts box: the chosen path, or what the default
  // search finds now.
  void ShowProfile();
  void SetRunControlsEnabled(bool enabled);
  void SetStyleChooserShown(bool shown);
  // Shows and enables the Undo button, or hides and disables it.
  void OfferUndo(bool offered);
  // The style buttons are one Tab stop, at the checked one; the arrow keys move within them.
  void KeepStyleTabStopAtChecked();
  void AppendToPane(std::string_view text);
  // Puts pending log text and counts on screen; during a run at most every few frames, so
  // painting never costs more than the run itself.
  void Present(bool now);
  // Moves the pending log text into the pane in one append, shown or not: a hidden pane only
  // keeps it in its file and lays out nothing.
  void FlushLogToPane();

  QString m_profile;
  Environment m_environment = SystemEnvironment();
  Dialogs& m_dialogs;
  NumberOptions m_options;
  // The pane keeps the log's text (in a file); a second copy in memory would grow with the run.
  ActivityLog m_log{false};
  RunController m_controller;
  std::function<void()> m_yield_hook;
  bool m_ending = false;
  bool m_log_shown = false;  // the window is tall enough to show the log pane
  QSize m_size_with_log;     // as the user last left it; empty until the log is first shown
  bool m_catching_signals = false;
  // The numbered default the log path box was given; while the box holds it, a run moves on to
  // the next free number rather than replace another run's log.
  QString m_default_log;
  // The log this window's last simulation saved; empty after any other run.
  QString m_own_log;
  // Log text the pane has yet to take, as logged (UTF-8, CR LF): what came since the last frame.
  std::string m_pending_log;
  RunCounters m_latest_counters;
  QElapsedTimer m_since_present;
  QElapsedTimer m_since_events;  // since the run last let the event loop run

  QLabel* m_title = nullptr;
  QLabel* m_image = nullptr;
  QPushButton* m_go = nullptr;
  QPushButton* m_quit = nullptr;
  QPushButton* m_undo = nullptr;
  QPushButton* m_about = nullptr;
  QPushButton* m_show_log = nullptr;
  QPushButton* m_cmd_option = nullptr;
  QPushButton* m_set_file = nullptr;
  QPushButton* m_cmd_test = nullptr;
  std::array<QRadioButton*, 4> m_style{};
  QLabel* m_style_tag = nullptr;
  QCheckBox* m_update = nullptr;
  QCheckBox* m_save_log = nullptr;
  QLineEdit* m_log_file = nullptr;
  QCheckBox* m_chk_replace = nullptr;
  QLineEdit* m_txt_find = nullptr;
  QLineEdit* m_txt_replace = nullptr;
  QLabel* m_lbl_to = nullptr;
  QLabel* m_lbl_profile = nullptr;
  QLineEdit* m_profile_box = nullptr;
  QPushButton* m_set_profile = nullptr;
  LogView* m_log_pane = nullptr;
  // Folders, Checked, Updated, Numbers and their caption labels.
  std::array<QLabel*, 4> m_counters{};
  std::array<QLabel*, 4> m_counter_labels{};
  OptionDialog* m_option_dialog = nullptr;
  QPointer<AboutDialog> m_about_dialog;
};

}  // namespace dialmend
