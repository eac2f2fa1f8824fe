#include "ui/main_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSocketNotifier>
#include <chrono>
#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#endif

#include "check/format_check.h"
#include "run/date_time_text.h"
#include "run/log_file.h"
#include "ui/about_dialog.h"
#include "ui/dialogs.h"
#include "ui/option_dialog.h"
#include "ui/program_look.h"

namespace dialmend {
namespace {

constexpr int kClientWidth = 5040;
constexpr int kClientHeight = 3405;
// Outer heights 3885 and 6000 less 480 for the frame and caption.
constexpr int kClientHeightWithLog = 6000 - 480;

enum Counter { kFolders, kChecked, kUpdated, kNumbers };

void Place(QWidget* widget, int left, int top, int width, int height) {
  widget->setGeometry(Px(left), Px(top), Px(width), Px(height));
}

QString Mode(bool update, const char* verb) {
  return QStringLiteral("%1 %2").arg(
      QLatin1String(verb), update ? QStringLiteral("update") : QStringLiteral("simulation"));
}

#ifndef _WIN32
constexpr int kCloseSignals[] = {SIGTERM, SIGHUP, SIGINT};

// A signal handler may do next to nothing: it writes one byte, and the event loop, which
// watches the other end, closes the window.
int g_signal_pipe[2] = {-1, -1};

extern "C" void OnCloseSignal(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const auto written = ::write(g_signal_pipe[1], &byte, 1);
  errno = saved;
}
#endif

}  // namespace

MainWindow::MainWindow(QString profile, Dialogs& dialogs, QWidget* parent)
    : QDialog(parent, kFixedDialogFlags),
      m_profile(std::move(profile)),
      m_dialogs(dialogs),
      m_controller(*this, m_log) {
  setObjectName(QStringLiteral("Dialmend"));
  setWindowTitle(QStringLiteral("Dialmend"));
  setWindowIcon(ProgramIcon());
  setFont(ControlFont());
  setFixedSize(Px(kClientWidth), Px(kClientHeight));
  BuildControls();
  m_log.SetListener([this](std::string_view text) { AppendToPane(text); });
  // Form_Initialize: the default log file path. The file itself is reserved when a run starts.
  m_default_log = QString::fromStdString(SetLogFile());
  m_log_file->setText(m_default_log);
}

MainWindow::~MainWindow() {
#ifndef _WIN32
  if (m_catching_signals) {
    for (int signal_number : kCloseSignals) std::signal(signal_number, SIG_DFL);
  }
#endif
}

std::optional<std::string> MainWindow::CloseOnTerminationSignals() {
#ifdef _WIN32
  return std::string("Termination signals are not caught on Windows.");
#else
  if (g_signal_pipe[0] < 0 && ::pipe2(g_signal_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    return std::string("Cannot catch termination signals: ") + std::strerror(errno) + ".";
  }
  auto* notifier = new QSocketNotifier(g_signal_pipe[0], QSocketNotifier::Read, this);
  connect(notifier, &QSocketNotifier::activated, this, [this] {
    char bytes[64];
    while (::read(g_signal_pipe[0], bytes, sizeof bytes) > 0) {
    }
    close();
  });
  struct sigaction action {};
  action.sa_handler = OnCloseSignal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (int signal_number : kCloseSignals) ::sigaction(signal_number, &action, nullptr);
  m_catching_signals = true;
  return std::nullopt;
#endif
}

void MainWindow::BuildControls() {
  const auto button = [this](const char* name, const QString& caption, const QString& tip,
                             bool bold) {
    auto* b = new QPushButton(caption, this);
    b->setObjectName(QString::fromLatin1(name));
    b->setToolTip(tip);
    b->setFont(ControlFont(bold));
    b->setAutoDefault(false);
    return b;
  };
  const auto label = [this](const char* name, const QString& caption) {
    auto* l = new QLabel(caption, this);
    l->setObjectName(QString::fromLatin1(name));
    return l;
  };
  const auto check = [this](const char* name, const QString& caption) {
    auto* c = new QCheckBox(caption, this);
    c->setObjectName(QString::fromLatin1(name));
    return c;
  };
  const auto text_box = [this](const char* name, const QString& tip) {
    auto* t = new QLineEdit(this);
    t->setObjectName(QString::fromLatin1(name));
    t->setToolTip(tip);
    QPalette grey = t->palette();
    grey.setColor(QPalette::Base, grey.color(QPalette::Button));
    t->setPalette(grey);
    return t;
  };

  m_image = label("Image1", QString());
  m_image->setPixmap(ProgramIcon().pixmap(Px(885), Px(885)));
  m_image->setScaledContents(true);
  Place(m_image, 120, 80, 885, 885);

  m_title = label("Title", QStringLiteral("Dialmend"));
  m_title->setFont(TitleFont());
  Place(m_title, 1170, 240, 2655, 375);

  m_go = button("Go", QStringLiteral(" &Go!"), QStringLiteral("Start simulation"), true);
  m_go->setDefault(true);
  Place(m_go, 2520, 720, 1100, 495);

  const QString style_tip =
      QStringLiteral("Select default style if you use Outlook's phone dialer");
  const QString style_captions[4] = {
      QStringLiteral("(020) 1234 5678 (Default)"), QStringLiteral("020-1234 5678"),
      QStringLiteral("020 1234 5678"), QStringLiteral("02012345678")};
  for (int i = 0; i < 4; ++i) {
    m_style[i] = new QRadioButton(style_captions[i], this);
    m_style[i]->setObjectName(QStringLiteral("Style%1").arg(i));
    m_style[i]->setToolTip(style_tip);
    Place(m_style[i], 120, 1200 + 240 * i, 2175, 255);
    connect(m_style[i], &QRadioButton::clicked, this, [this, i] { Style_Click(i); });
    connect(m_style[i], &QRadioButton::toggled, this, [this](bool on) {
      if (on) KeepStyleTabStopAtChecked();
    });
  }
  m_style[0]->setChecked(true);

  m_cmd_option = button("cmdOption", QStringLiteral("&International Options"),
                        QStringLiteral("Options for UK +44 prefix"), false);
  Place(m_cmd_option, 2520, 1920, 2415, 260);

  m_update = check("Update", QStringLiteral("&Update contacts (Simulate when unchecked)"));
  Place(m_update, 120, 2280, 3615, 255);

  m_save_log = check("SaveLog", QStringLiteral("Save log to:-"));
  m_save_log->setChecked(true);
  Place(m_save_log, 120, 2640, 1215, 195);

  m_set_file =
      button("SetFile", QStringLiteral("..."), QStringLiteral("Change location/filename"), false);
  Place(m_set_file, 4600, 2595, 300, 285);

  m_show_log = button("ShowLog", QStringLiteral("Show &Log"),
                      QStringLiteral("Does exactly what it says on the button"), true);
  Place(m_show_log, 2520, 1320, 1100, 495);

  m_quit = button("Quit", QStringLiteral("&Quit"), QStringLiteral("Get outta here"), true);
  Place(m_quit, 3840, 720, 1100, 495);

  m_about = button("About", QStringLiteral("&About"), QStringLiteral("Click me..."), true);
  Place(m_about, 3840, 1320, 1100, 495);

  m_log_pane = new QPlainTextEdit(this);
  m_log_pane->setObjectName(QStringLiteral("Log"));
  m_log_pane->setReadOnly(true);
  m_log_pane->setLineWrapMode(QPlainTextEdit::NoWrap);
  // Below the window's edge until Show Log: hidden, so Tab does not stop on it unseen.
  m_log_pane->hide();
  // The change lines' columns line up only in a fixed-width font.
  m_log_pane->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  Place(m_log_pane, 0, 3400, 5040, 2100);

  const char* counter_names[4] = {"Folders", "Checked", "Updated", "Numbers"};
  const char* caption_names[4] = {"lblFolders", "lblChecked", "lblUpdated", "lblNumbers"};
  const QString captions[4] = {
      QStringLiteral("Folders Processed"), QStringLiteral("Contacts Checked"),
      QStringLiteral("Contacts To Update"), QStringLiteral("Phone Nos To Update")};
  const int tops[4] = {1080, 1320, 1560, 1800};
  const int caption_widths[4] = {1575, 1575, 1575, 1695};
  for (int i = 0; i < 4; ++i) {
    m_counters[i] = label(counter_names[i], QStringLiteral("0"));
    Place(m_counters[i], 1800, tops[i], 495, 255);
    m_counters[i]->hide();
    m_counter_labels[i] = label(caption_names[i], captions[i]);
    Place(m_counter_labels[i], 120, tops[i], caption_widths[i], 255);
    m_counter_labels[i]->hide();
  }

  m_log_file = text_box("LogFile", QString());
  Place(m_log_file, 1350, 2595, 3225, 285);

  m_style_tag = label("StyleTag", QStringLiteral("Number formatting style"));
  Place(m_style_tag, 120, 960, 2295, 255);

  m_cmd_test = button("cmdTest", QStringLiteral("Test"), QStringLiteral("Hide/Disable"), true);
  m_cmd_test->hide();
  m_cmd_test->setEnabled(false);
  Place(m_cmd_test, 3840, 120, 1095, 495);

  m_chk_replace = check("chkReplace", QStringLiteral("Custom replace:-"));
  m_chk_replace->setToolTip(
      QStringLiteral("Must match first & subsequent characters to be replaced"));
  Place(m_chk_replace, 120, 3000, 1575, 195);

  m_txt_find = text_box("txtFind", QStringLiteral("Search string"));
  m_txt_find->setEnabled(false);
  Place(m_txt_find, 1680, 2970, 1215, 285);

  m_lbl_to = label("lblTo", QStringLiteral("to"));
  Place(m_lbl_to, 3120, 3000, 375, 255);

  m_txt_replace = text_box("txtReplace", QStringLiteral("Replacement string"));
  m_txt_replace->setEnabled(false);
  Place(m_txt_replace, 3580, 2980, 1335, 285);

  // Tab order as designed, with the style buttons together as one stop at the checked one;
  // labels and the hidden Test button take no focus.
  QWidget* order[] = {m_go,       m_style[0], m_style[1],    m_style[2], m_style[3],   m_cmd_option,
                      m_update,   m_save_log, m_set_file,    m_show_log, m_quit,       m_about,
                      m_log_pane, m_log_file, m_chk_replace, m_txt_find, m_txt_replace};
  for (std::size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);

  connect(m_go, &QPushButton::clicked, this, &MainWindow::Go_Click);
  connect(m_quit, &QPushButton::clicked, this, &MainWindow::Quit_Click);
  connect(m_update, &QCheckBox::clicked, this, &MainWindow::Update_Click);
  connect(m_chk_replace, &QCheckBox::clicked, this, &MainWindow::chkReplace_Click);
  connect(m_cmd_option, &QPushButton::clicked, this, &MainWindow::cmdOption_Click);
  connect(m_save_log, &QCheckBox::clicked, this, &MainWindow::SaveLog_Click);
  connect(m_set_file, &QPushButton::clicked, this, &MainWindow::SetFile_Click);
  connect(m_show_log, &QPushButton::clicked, this, &MainWindow::ShowLog_Click);
  connect(m_cmd_test, &QPushButton::clicked, this, &MainWindow::cmdTest_Click);
  connect(m_about, &QPushButton::clicked, this, &MainWindow::About_Click);
  connect(m_txt_find, &QLineEdit::textChanged, this,
          [this](const QString& text) { m_options.find = text.toStdString(); });
  connect(m_txt_replace, &QLineEdit::textChanged, this,
          [this](const QString& text) { m_options.replacement = text.toStdString(); });
  m_go->setFocus();
}

void MainWindow::Go_Click() {
  m_controller.Go();
}

void MainWindow::Quit_Click() {
  m_controller.Quit();
}

void MainWindow::Update_Click() {
  const bool update = m_update->isChecked();
  m_counter_labels[kUpdated]->setText(update ? QStringLiteral("Contacts Updated")
                                             : QStringLiteral("Contacts To Update"));
  m_counter_labels[kNumbers]->setText(update ? QStringLiteral("Phone Nos Updated")
                                             : QStringLiteral("Phone Nos To Update"));
  m_go->setToolTip(Mode(update, "Start"));
}

void MainWindow::Style_Click(int index) {
  m_options.style = StyleFromNumber(index);
}

void MainWindow::chkReplace_Click() {
  const bool on = m_chk_replace->isChecked();
  m_txt_find->setEnabled(on);
  m_txt_replace->setEnabled(on);
  m_options.replace = on;
}

OptionDialog& MainWindow::OptionsDialog() {
  if (m_option_dialog == nullptr) m_option_dialog = new OptionDialog(m_options, this);
  return *m_option_dialog;
}

void MainWindow::cmdOption_Click() {
  OptionsDialog().exec();
  activateWindow();
  m_go->setFocus();
}

void MainWindow::SaveLog_Click() {
  const bool on = m_save_log->isChecked();
  m_log_file->setEnabled(on);
  m_set_file->setEnabled(on);
}

void MainWindow::SetFile_Click() {
  if (auto chosen = m_dialogs.ChooseLogFile(this, m_log_file->text())) m_log_file->setText(*chosen);
}

void MainWindow::ShowLog_Click() {
  m_log_shown = !m_log_shown;
  m_show_log->setText(m_log_shown ? QStringLiteral("Hide Log") : QStringLiteral("Show Log"));
  setFixedSize(Px(kClientWidth), Px(m_log_shown ? kClientHeightWithLog : kClientHeight));
  m_log_pane->setVisible(m_log_shown);
}

void MainWindow::About_Click() {
  // One at a time: a second press brings the open one to the front.
  if (m_about_dialog == nullptr) m_about_dialog = new AboutDialog(m_dialogs, this);
  m_about_dialog->show();
  m_about_dialog->raise();
  m_about_dialog->activateWindow();
}

void MainWindow::cmdTest_Click() {
  const FormatCheckResult result = RunFormatCheck(m_options);
  // The check switched the custom replacement off and emptied its texts.
  m_chk_replace->setChecked(false);
  m_txt_find->clear();
  m_txt_replace->clear();
  chkReplace_Click();
  m_dialogs.Inform(this, QString::fromStdString(result.first));
  m_dialogs.Inform(this, QString::fromStdString(result.second));
}

void MainWindow::AppendToPane(std::string_view text) {
  // The pane shows lines; the log keeps its CR LF for the file.
  m_pending_log += QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  Present(m_controller.State() != RunState::Running);
}

void MainWindow::Present(bool now) {
  constexpr qint64 kFrameMs = 40;
  if (!now && m_since_present.isValid() && m_since_present.elapsed() < kFrameMs) return;
  m_since_present.start();
  if (!m_pending_log.isEmpty()) {
    m_pending_log.remove(QLatin1Char('\r'));
    QTextCursor end(m_log_pane->document());
    end.movePosition(QTextCursor::End);
    end.insertText(m_pending_log);
    m_log_pane->setTextCursor(end);
    m_pending_log.clear();
  }
  const std::int64_t values[4] = {m_latest_counters.folders, m_latest_counters.checked,
                                  m_latest_counters.updated, m_latest_counters.numbers};
  for (int i = 0; i < 4; ++i) m_counters[i]->setText(QString::number(values[i]));
  // Painted now, not at the next pass of an event loop the run may be holding up.
  m_log_pane->viewport()->repaint();
  for (QLabel* counter : m_counters) counter->repaint();
}

RunJob MainWindow::PrepareRun() {
  RunJob job;
  job.store = StoreOrProblem(OpenProfile(m_profile.toStdString(), m_environment));
  job.options = &m_options;
  job.update = m_update->isChecked();
  if (m_save_log->isChecked()) {
    const QString path = m_log_file->text();
    job.log = LogTarget{path.toStdString(), path == m_default_log};
  }
  return job;
}

void MainWindow::SetRunControlsEnabled(bool enabled) {
  for (QWidget* w : {static_cast<QWidget*>(m_update), static_cast<QWidget*>(m_save_log),
                     static_cast<QWidget*>(m_chk_replace)}) {
    w->setEnabled(enabled);
  }
  m_log_file->setEnabled(enabled && m_save_log->isChecked());
  m_set_file->setEnabled(enabled && m_save_log->isChecked());
  m_txt_find->setEnabled(enabled && m_chk_replace->isChecked());
  m_txt_replace->setEnabled(enabled && m_chk_replace->isChecked());
  m_cmd_option->setEnabled(enabled);
}

void MainWindow::KeepStyleTabStopAtChecked() {
  // Qt moves an exclusive group's one Tab stop to the button that last had the focus, which
  // need not be the checked one.
  for (QRadioButton* b : m_style) {
    b->setFocusPolicy(b->isChecked() ? Qt::StrongFocus : Qt::ClickFocus);
  }
}

void MainWindow::SetStyleChooserShown(bool shown) {
  m_style_tag->setVisible(shown);
  for (QRadioButton* b : m_style) b->setVisible(shown);
  for (QLabel* l : m_counter_labels) l->setVisible(!shown);
  for (QLabel* l : m_counters) l->setVisible(!shown);
}

void MainWindow::ShowStarted(bool update) {
  SetRunControlsEnabled(false);
  if (m_txt_find->text().isEmpty() && m_chk_replace->isChecked()) {
    m_chk_replace->setChecked(false);
    chkReplace_Click();
    m_txt_find->setEnabled(false);
    m_txt_replace->setEnabled(false);
  }
  SetStyleChooserShown(false);
  m_go->setText(QStringLiteral("&Pause"));
  m_quit->setText(QStringLiteral("&Abort"));
  // Alt+A must fire Abort, not only move the focus between two buttons that share it.
  m_about->setText(QStringLiteral("Ab&out"));
  m_go->setToolTip(Mode(update, "Pause"));
  m_quit->setToolTip(Mode(update, "Abort"));
}

void MainWindow::ShowPaused(bool update) {
  Present(true);
  m_go->setText(QStringLiteral("&Resume"));
  m_go->setToolTip(Mode(update, "Resume"));
}

void MainWindow::ShowResumed(bool update) {
  m_go->setText(QStringLiteral("&Pause"));
  m_go->setToolTip(Mode(update, "Pause"));
}

void MainWindow::ShowFinished(bool update) {
  Present(true);
  setWindowTitle(windowTitle() + QStringLiteral(" - Finished!"));
  QApplication::beep();
  m_go->setText(QStringLiteral("&Reset"));
  m_quit->setText(QStringLiteral("&Quit"));
  m_quit->setToolTip(QStringLiteral("Get outta here"));
  m_about->setText(QStringLiteral("&About"));
  m_go->setToolTip(Mode(update, "Reset"));
  // Every abort passes through a pause, so a run still running here has completed.
  const bool aborted = m_controller.State() != RunState::Running;
  if (aborted || m_controller.Counters().problems > 0) {
    // The summary tells what went wrong; the user should not need to know to ask for it.
    if (!m_log_shown) ShowLog_Click();
    m_log_pane->moveCursor(QTextCursor::End);
    m_log_pane->ensureCursorVisible();
  }
}

void MainWindow::ShowLogPath(const std::string& path) {
  const QString reserved = QString::fromStdString(path);
  if (m_log_file->text() == m_default_log) m_default_log = reserved;
  m_log_file->setText(reserved);
}

void MainWindow::ShowReset(bool update) {
  // The next run must not replace the log of the update just done.
  if (update && m_controller.LogSaved()) {
    m_default_log = QString::fromStdString(SetLogFile());
    m_log_file->setText(m_default_log);
  }
  SetStyleChooserShown(true);
  SetRunControlsEnabled(true);
  setWindowTitle(QStringLiteral("Dialmend"));
  m_go->setText(QStringLiteral("&Go"));
  m_go->setToolTip(Mode(m_update->isChecked(), "Start"));
  m_quit->setText(QStringLiteral("&Quit"));
  m_quit->setToolTip(QStringLiteral("Get outta here"));
  m_about->setText(QStringLiteral("&About"));
  m_pending_log.clear();
  m_log_pane->clear();
}

void MainWindow::ShowCounters(const RunCounters& counters) {
  m_latest_counters = counters;
  Present(m_controller.State() != RunState::Running);
}

AbortAnswer MainWindow::AskAbort() {
  Present(true);
  return m_dialogs.AskAbort(this);
}

void MainWindow::ShowMessage(const std::string& text) {
  Present(true);
  m_dialogs.Inform(this, QString::fromStdString(text));
}

void MainWindow::ShowProfileProblem(const std::string& reason) {
  // The designed lines alone cannot tell a missing folder from a bad configuration.
  ShowMessage(std::string(kProfileProblem) + "\n(" + reason + ")");
}

void MainWindow::EndProgram() {
  m_ending = true;
  close();
  QCoreApplication::quit();
}

void MainWindow::ProcessEvents(bool wait) {
  Present(false);
  if (m_yield_hook) m_yield_hook();
  QCoreApplication::processEvents(wait ? QEventLoop::WaitForMoreEvents : QEventLoop::AllEvents);
}

std::string MainWindow::NowText() {
  return LocalDateTimeText(std::chrono::system_clock::now());
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  // The buttons are not auto-default, so Enter on one reaches the window, which would press Go.
  if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
    if (auto* focused = qobject_cast<QPushButton*>(focusWidget()); focused != nullptr) {
      if (focused->isEnabled()) focused->click();
      return;
    }
  }
  QDialog::keyPressEvent(event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // During a run the walk is still on the stack: abort it and end once it has unwound.
  if (!m_ending && !m_controller.Close()) {
    event->ignore();
    return;
  }
  event->accept();
  QCoreApplication::quit();
}

}  // namespace dialmend
