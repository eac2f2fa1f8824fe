#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QSize>
#include <QString>
#include <array>
#include <functional>
#include <string>

#include "platform/result.h"
#include "run/window_policy.h"

namespace dialmend {

class Dialogs;
class AboutDialog;
class LogView;
class OptionDialog;

// The main window, "Dialmend", with Qt: it makes the controls, draws what the window policy
// decides and forwards what the user does. A run runs nested in the Go press and keeps the
// window alive by handling events at the walk's yields.
class MainWindow : public QDialog, public WindowHost {
 public:
  // `profile` names the store to run over (empty: the default the profile chooser finds);
  // `dialogs` answers every message box.
  MainWindow(QString profile, Dialogs& dialogs, QWidget* parent = nullptr);
  ~MainWindow() override;

  void Go_Click() { m_policy.Go(); }
  void Quit_Click() { m_policy.Quit(); }
  // Offered once an update run has finished: asks, then undoes that update in a run of its own.
  void Undo_Click() { m_policy.Undo(); }
  void cmdOption_Click();
  void SetProfile_Click();
  void SetFile_Click();
  void ShowLog_Click() { m_policy.ShowLogPressed(); }
  void About_Click();
  void cmdTest_Click();

  [[nodiscard]] WindowPolicy& Policy() { return m_policy; }
  // The live option state every conversion reads.
  [[nodiscard]] const NumberOptions& Options() { return m_policy.Options(); }
  [[nodiscard]] RunController& Controller() { return m_policy.Controller(); }
  // The log of the run in hand as logged (CR LF), read back from the pane's file.
  [[nodiscard]] std::string LogText() const;
  // The International Options dialog, created on first use.
  [[nodiscard]] OptionDialog& OptionsDialog();

  // Where the profile chooser looks for the default store: tests preset it.
  void SetEnvironment(Environment environment) { m_policy.SetEnvironment(std::move(environment)); }

  // A hook run at every yield of a run, for tests and screenshots to act mid-run.
  void SetYieldHook(std::function<void()> hook) { m_yield_hook = std::move(hook); }

  // From now on SIGTERM, SIGHUP and SIGINT close the window as its close box does (during a run:
  // abort, summary, log saved, then the end). Fails saying why they cannot be caught.
  [[nodiscard]] Status CloseOnTerminationSignals();

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
  std::optional<std::string> AskPassword(const std::string& prompt, bool& remember) override;
  void ProcessEvents(bool wait) override;
  void EndProgram() override;

 protected:
  void reject() override { Quit_Click(); }
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  // Enter presses the focused button; from any other control it presses Go, the default.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // Makes the control `spec` names, at its place.
  QWidget* MakeControl(const ControlSpec& spec);
  void SetTabOrder();
  void ConnectHandlers();
  [[nodiscard]] QWidget* Widget(Control control) const {
    return m_controls[static_cast<std::size_t>(control)];
  }
  // The log pane below the controls, taking whatever room the window gives it.
  void PlaceLogPane();
  // The style buttons are one Tab stop, at the checked one; the arrow keys move within them.
  void KeepStyleTabStopAtChecked();

  Dialogs& m_dialogs;
  std::array<QWidget*, kControlCount> m_controls{};
  LogView* m_log_pane = nullptr;
  WindowPolicy m_policy;
  std::function<void()> m_yield_hook;
  bool m_ending = false;
  QSize m_size_with_log;  // as the user last left it; empty until the log is first shown
  bool m_catching_signals = false;
  QElapsedTimer m_since_events;  // since the run last let the event loop run
  OptionDialog* m_option_dialog = nullptr;
  QPointer<AboutDialog> m_about_dialog;
};

}  // namespace dialmend
