#include "ui/main_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSocketNotifier>
#include <algorithm>
#include <chrono>
#include <utility>
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
#include "run/window_texts.h"
#include "ui/about_dialog.h"
#include "ui/dialogs.h"
#include "ui/log_view.h"
#include "ui/option_dialog.h"
#include "ui/program_look.h"

namespace dialmend {
namespace {

// The contacts row: the window is one row taller than designed, and the rows below it lower.
constexpr int kRow = 360;
constexpr int kClientWidth = 5040;
constexpr int kClientHeight = 3405 + kRow;
// Outer heights 3885 and 6000 less 480 for the frame and caption.
constexpr int kClientHeightWithLog = 6000 - 480 + kRow;
constexpr int kLogTop = 3400 + kRow;

enum Counter { kFolders, kChecked, kUpdated, kNumbers };

void Place(QWidget* widget, int left, int top, int width, int height) {
  widget->setGeometry(Px(left), Px(top), Px(width), Px(height));
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption,
                        const QString& tip, bool bold) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setToolTip(tip);
  button->setFont(ControlFont(bold));
  // Enter presses the focused button through the window's own key handling.
  button->setAutoDefault(false);
  return button;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& caption) {
  auto* label = new QLabel(caption, parent);
  label->setObjectName(QString::fromLatin1(name));
  return label;
}

QCheckBox* MakeCheck(QWidget* parent, const char* name, const QString& caption) {
  auto* check = new QCheckBox(caption, parent);
  check->setObjectName(QString::fromLatin1(name));
  return check;
}

// A box holding a path shows its end, the file name, whenever the user is not in it.
class PathBox : public QLineEdit {
 public:
  using QLineEdit::QLineEdit;

 protected:
  void focusOutEvent(QFocusEvent* event) override {
    QLineEdit::focusOutEvent(event);
    end(false);
  }
};

enum class BoxKind { Text, Path };

// A text box with the button-face background as designed, but only where it cannot be typed
// into: an enabled box that looks disabled is not seen to be one.
QLineEdit* MakeTextBox(QWidget* parent, const char* name, const QString& tip,
                       BoxKind kind = BoxKind::Text) {
  QLineEdit* box = kind == BoxKind::Path ? new PathBox(parent) : new QLineEdit(parent);
  box->setObjectName(QString::fromLatin1(name));
  box->setToolTip(tip);
  QPalette palette = box->palette();
  palette.setColor(QPalette::Disabled, QPalette::Base, palette.color(QPalette::Button));
  box->setPalette(palette);
  return box;
}

QString Tip(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString Mode(bool update, const char* verb) {
  return QString::fromStdString(RunButtonTip(verb, update));
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
  ShowProfile();
}

void MainWindow::SetEnvironment(Environment environment) {
  m_environment = std::move(environment);
  ShowProfile();
}

MainWindow::~MainWindow() {
#ifndef _WIN32
  if (m_catching_signals) {
    for (int signal_number : kCloseSignals) std::signal(signal_number, SIG_DFL);
  }
#endif
}

Status MainWindow::CloseOnTerminationSignals() {
#ifdef _WIN32
  return Status::Failure("Termination signals are not caught on Windows.");
#else
  if (g_signal_pipe[0] < 0 && ::pipe2(g_signal_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    return Status::Failure(std::string("Cannot catch termination signals: ") +
                           std::strerror(errno) + ".");
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
  return Status{};
#endif
}

void MainWindow::BuildControls() {
  BuildHeading();
  BuildRunButtons();
  BuildStyleChooser();
  BuildCounters();
  BuildOptionRows();
  BuildLogPane();
  SetTabOrder();
  ConnectHandlers();
  m_go->setFocus();
}

void MainWindow::BuildHeading() {
  m_image = MakeLabel(this, "Image1", QString());
  m_image->setPixmap(ProgramIcon().pixmap(Px(885), Px(885)));
  m_image->setScaledContents(true);
  Place(m_image, 120, 80, 885, 885);

  m_title = MakeLabel(this, "Title", QStringLiteral("Dialmend"));
  m_title->setFont(TitleFont());
  Place(m_title, 1170, 240, 2655, 375);
}

void MainWindow::BuildRunButtons() {
  m_go = MakeButton(this, "Go", QStringLiteral(" &Go!"), QStringLiteral("Start simulation"), true);
  m_go->setDefault(true);
  Place(m_go, 2520, 720, 1100, 495);

  m_quit = MakeButton(this, "Quit", QStringLiteral("&Quit"), Tip(kQuitTip), true);
  Place(m_quit, 3840, 720, 1100, 495);

  m_show_log = MakeButton(this, "ShowLog", QStringLiteral("Show &Log"), Tip(kShowLogTip), true);
  Place(m_show_log, 2520, 1320, 1100, 495);

  m_about = MakeButton(this, "About", QStringLiteral("&About"), Tip(kAboutTip), true);
  Place(m_about, 3840, 1320, 1100, 495);

  // In the right-hand column above Quit, in the place of the Test button nothing ever shows:
  // no control moves, and it is seen only while there is an update to undo.
  m_undo = MakeButton(this, "Undo", QStringLiteral("U&ndo"), Tip(kUndoTip), true);
  OfferUndo(false);
  Place(m_undo, 3840, 120, 1100, 495);

  m_cmd_test =
      MakeButton(this, "cmdTest", QStringLiteral("Test"), QStringLiteral("Hide/Disable"), true);
  m_cmd_test->hide();
  m_cmd_test->setEnabled(false);
  Place(m_cmd_test, 3840, 120, 1095, 495);
}

void MainWindow::BuildStyleChooser() {
  m_style_tag = MakeLabel(this, "StyleTag", QStringLiteral("Number formatting style"));
  Place(m_style_tag, 120, 960, 2295, 255);

  const QString captions[4] = {QStringLiteral("(020) 1234 5678 (Default)"),
                               QStringLiteral("020-1234 5678"), QStringLiteral("020 1234 5678"),
                               QStringLiteral("02012345678")};
  for (int i = 0; i < 4; ++i) {
    m_style[i] = new QRadioButton(captions[i], this);
    m_style[i]->setObjectName(QStringLiteral("Style%1").arg(i));
    m_style[i]->setToolTip(Tip(kStyleTip));
    Place(m_style[i], 120, 1200 + 240 * i, 2175, 255);
  }
  m_style[0]->setChecked(true);
}

void MainWindow::BuildCounters() {
  // They share the style chooser's place; a run shows the one or the other.
  const char* counter_names[4] = {"Folders", "Checked", "Updated", "Numbers"};
  const char* caption_names[4] = {"lblFolders", "lblChecked", "lblUpdated", "lblNumbers"};
  const QString captions[4] = {
      QStringLiteral("Folders Processed"), QStringLiteral("Contacts Checked"),
      QStringLiteral("Contacts To Update"), QStringLiteral("Phone Nos To Update")};
  const int tops[4] = {1080, 1320, 1560, 1800};
  const int caption_widths[4] = {1575, 1575, 1575, 1695};
  for (int i = 0; i < 4; ++i) {
    m_counters[i] = MakeLabel(this, counter_names[i], QStringLiteral("0"));
    Place(m_counters[i], 1800, tops[i], 495, 255);
    m_counters[i]->hide();
    m_counter_labels[i] = MakeLabel(this, caption_names[i], captions[i]);
    Place(m_counter_labels[i], 120, tops[i], caption_widths[i], 255);
    m_counter_labels[i]->hide();
  }
}

void MainWindow::BuildOptionRows() {
  m_cmd_option = MakeButton(this, "cmdOption", QStringLiteral("&International Options"),
                            Tip(kOptionsTip), false);
  Place(m_cmd_option, 2520, 1920, 2415, 260);

  m_update =
      MakeCheck(this, "Update", QStringLiteral("&Update contacts (Simulate when unchecked)"));
  Place(m_update, 120, 2280, 3615, 255);

  // The contacts row takes the log row's designed place; the rows below it move down as one.
  m_lbl_profile = MakeLabel(this, "lblProfile", QStringLiteral("Contacts:"));
  Place(m_lbl_profile, 120, 2610, 1215, 255);
  m_profile_box = MakeTextBox(this, "Profile", QString(), BoxKind::Path);
  // Read-only, so grey as designed whether enabled or not: it is changed with "..." alone.
  m_profile_box->setReadOnly(true);
  QPalette grey = m_profile_box->palette();
  grey.setColor(QPalette::Base, grey.color(QPalette::Button));
  m_profile_box->setPalette(grey);
  Place(m_profile_box, 1350, 2595, 3225, 285);
  m_set_profile = MakeButton(this, "SetProfile", QStringLiteral("..."), Tip(kSetProfileTip), false);
  Place(m_set_profile, 4600, 2595, 300, 285);

  // The check boxes are 255 high, centred on their designed rows: at 195 their square is cut.
  m_save_log = MakeCheck(this, "SaveLog", QStringLiteral("Save log to:-"));
  m_save_log->setChecked(true);
  Place(m_save_log, 120, 2610 + kRow, 1215, 255);
  m_log_file = MakeTextBox(this, "LogFile", QString(), BoxKind::Path);
  Place(m_log_file, 1350, 2595 + kRow, 3225, 285);
  m_set_file = MakeButton(this, "SetFile", QStringLiteral("..."), Tip(kSetFileTip), false);
  Place(m_set_file, 4600, 2595 + kRow, 300, 285);

  m_chk_replace = MakeCheck(this, "chkReplace", QStringLiteral("Custom replace:-"));
  m_chk_replace->setToolTip(Tip(kReplaceTip));
  Place(m_chk_replace, 120, 2970 + kRow, 1560, 255);
  m_txt_find = MakeTextBox(this, "txtFind", Tip(kFindTip));
  m_txt_find->setEnabled(false);
  Place(m_txt_find, 1680, 2970 + kRow, 1215, 285);
  m_lbl_to = MakeLabel(this, "lblTo", QStringLiteral("to"));
  Place(m_lbl_to, 3120, 3000 + kRow, 375, 255);
  m_txt_replace = MakeTextBox(this, "txtReplace", Tip(kReplacementTip));
  m_txt_replace->setEnabled(false);
  Place(m_txt_replace, 3580, 2980 + kRow, 1335, 285);
}

void MainWindow::BuildLogPane() {
  m_log_pane = new LogView(this);
  m_log_pane->setObjectName(QStringLiteral("Log"));
  // Below the window's edge until Show Log: hidden, so Tab does not stop on it unseen.
  m_log_pane->hide();
  // The change lines' columns line up only in a fixed-width font.
  m_log_pane->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  PlaceLogPane();
}

void MainWindow::SetTabOrder() {
  // As designed, with the contacts row after Update and the style buttons together as one stop
  // at the checked one, and Undo, when it is offered, after Go; labels and the hidden Test button
  // take no focus.
  QWidget* order[] = {m_go,       m_undo,       m_style[0],    m_style[1],    m_style[2],
                      m_style[3], m_cmd_option, m_update,      m_profile_box, m_set_profile,
                      m_save_log, m_set_file,   m_show_log,    m_quit,        m_about,
                      m_log_pane, m_log_file,   m_chk_replace, m_txt_find,    m_txt_replace};
  for (std::size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);
}

void MainWindow::ConnectHandlers() {
  for (int i = 0; i < 4; ++i) {
    connect(m_style[i], &QRadioButton::clicked, this, [this, i] { Style_Click(i); });
    connect(m_style[i], &QRadioButton::toggled, this, [this](bool on) {
      if (on) KeepStyleTabStopAtChecked();
    });
  }
  connect(m_go, &QPushButton::clicked, this, &MainWindow::Go_Click);
  connect(m_quit, &QPushButton::clicked, this, &MainWindow::Quit_Click);
  connect(m_undo, &QPushButton::clicked, this, &MainWindow::Undo_Click);
  connect(m_update, &QCheckBox::clicked, this, &MainWindow::Update_Click);
  connect(m_chk_replace, &QCheckBox::clicked, this, &MainWindow::chkReplace_Click);
  connect(m_cmd_option, &QPushButton::clicked, this, &MainWindow::cmdOption_Click);
  connect(m_set_profile, &QPushButton::clicked, this, &MainWindow::SetProfile_Click);
  connect(m_save_log, &QCheckBox::clicked, this, &MainWindow::SaveLog_Click);
  connect(m_set_file, &QPushButton::clicked, this, &MainWindow::SetFile_Click);
  connect(m_show_log, &QPushButton::clicked, this, &MainWindow::ShowLog_Click);
  connect(m_cmd_test, &QPushButton::clicked, this, &MainWindow::cmdTest_Click);
  connect(m_about, &QPushButton::clicked, this, &MainWindow::About_Click);
  connect(m_txt_find, &QLineEdit::textChanged, this,
          [this](const QString& text) { m_options.find = text.toStdString(); });
  connect(m_txt_replace, &QLineEdit::textChanged, this,
          [this](const QString& text) { m_options.replacement = text.toStdString(); });
}

void MainWindow::Go_Click() {
  m_controller.Go();
}

void MainWindow::Quit_Click() {
  m_controller.Quit();
}

void MainWindow::Undo_Click() {
  m_controller.Undo();
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

void MainWindow::SetProfile_Click() {
  const QString current =
      m_profile.isEmpty() ? m_profile_box->text().section(QLatin1Char(';'), 0, 0) : m_profile;
  const std::optional<QString> chosen = m_dialogs.ChooseContacts(m_set_profile, current);
  if (!chosen) return;
  if (const Status checked = CheckProfile(chosen->toStdString()); !checked.Ok()) {
    // A choice that would only fail as the run starts is refused now; the old one stays.
    m_dialogs.Inform(this, QString::fromStdString(RefusedContactsText(
                               QDir::toNativeSeparators(*chosen).toStdString(), checked.Message(),
                               m_profile_box->text().toStdString())));
    return;
  }
  m_profile = *chosen;
  ShowProfile();
}

void MainWindow::ShowProfile() {
  const Result<std::string> place = ProfilePlace(m_profile.toStdString(), m_environment);
  if (place.Ok()) {
    m_profile_box->setText(QDir::toNativeSeparators(QString::fromStdString(place.Value())));
    m_profile_box->setToolTip(m_profile_box->text());
  } else {
    // An empty box alone would not say that nothing was found, nor what to do.
    m_profile_box->clear();
    m_profile_box->setPlaceholderText(Tip(kNoContactsFound));
    m_profile_box->setToolTip(QString::fromStdString(place.Message()));
  }
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
  if (m_log_shown) {
    // The log may be read in a window as large as the user likes; the pane takes the room.
    const QSize designed(Px(kClientWidth), Px(kClientHeightWithLog));
    setMinimumSize(designed);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    resize(m_size_with_log.isEmpty() ? designed : m_size_with_log);
    FlushLogToPane();
  } else {
    m_size_with_log = size();
    setFixedSize(Px(kClientWidth), Px(kClientHeight));
  }
  m_log_pane->setVisible(m_log_shown);
}

void MainWindow::PlaceLogPane() {
  const int top = Px(kLogTop);
  m_log_pane->setGeometry(0, top, width(), std::max(height() - top, Px(2100)));
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  PlaceLogPane();
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
  m_pending_log += text;
  Present(m_controller.State() != RunState::Running);
}

void MainWindow::Present(bool now) {
  constexpr qint64 kFrameMs = 40;
  if (!now && m_since_present.isValid() && m_since_present.elapsed() < kFrameMs) return;
  m_since_present.start();
  FlushLogToPane();
  const std::int64_t values[4] = {m_latest_counters.folders, m_latest_counters.checked,
                                  m_latest_counters.updated, m_latest_counters.numbers};
  for (int i = 0; i < 4; ++i) m_counters[i]->setText(QString::number(values[i]));
  // Painted now, not at the next pass of an event loop the run may be holding up.
  if (m_log_shown) m_log_pane->viewport()->repaint();
  for (QLabel* counter : m_counters) counter->repaint();
}

void MainWindow::FlushLogToPane() {
  if (m_pending_log.empty()) return;
  m_log_pane->Append(m_pending_log);
  m_pending_log.clear();
}

std::string MainWindow::LogText() const {
  return m_log_pane->Logged() + m_pending_log;
}

RunJob MainWindow::PrepareRun() {
  // The default search runs again as the run opens the store: show what it finds this time.
  if (m_profile.isEmpty()) ShowProfile();
  RunJob job;
  job.store = StoreOrProblem(OpenProfile(m_profile.toStdString(), m_environment, Access()));
  job.options = &m_options;
  job.update = m_update->isChecked();
  if (m_save_log->isChecked()) {
    const QString path = m_log_file->text();
    job.log = LogTarget{path.toStdString(), path == m_default_log, path == m_own_log};
  }
  return job;
}

ServerAccess MainWindow::Access() {
  ServerAccess access;
  auto remember = std::make_shared<bool>(false);
  access.ask_password = [this, remember](const std::string& prompt) -> std::optional<std::string> {
    // The time the dialog stays open is the user's, not the run's.
    m_controller.HoldClock(true);
    std::optional<QString> given =
        m_dialogs.AskPassword(this, QString::fromStdString(prompt), *remember);
    m_controller.HoldClock(false);
    if (!given) return std::nullopt;
    return given->toStdString();
  };
  access.remember_given = [remember] { return *remember; };
  // A busy server's wait answers Pause and Abort as a walk's yield does: a pause holds it, an
  // abort ends it.
  access.stop_waiting = [this] {
    ProcessEvents(false);
    while (m_controller.State() == RunState::Paused) ProcessEvents(true);
    return m_controller.State() != RunState::Running;
  };
  return access;
}

void MainWindow::SetRunControlsEnabled(bool enabled) {
  for (QWidget* w : {static_cast<QWidget*>(m_update), static_cast<QWidget*>(m_save_log),
                     static_cast<QWidget*>(m_chk_replace)}) {
    w->setEnabled(enabled);
  }
  m_profile_box->setEnabled(enabled);
  m_set_profile->setEnabled(enabled);
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

void MainWindow::OfferUndo(bool offered) {
  m_undo->setVisible(offered);
  m_undo->setEnabled(offered);
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
  m_quit->setToolTip(Tip(kQuitTip));
  m_about->setText(QStringLiteral("&About"));
  m_go->setToolTip(Mode(update, "Reset"));
  // An aborted update is offered too: its record holds every change that reached the store.
  OfferUndo(update && !m_controller.RecordPath().empty());
  // Every abort passes through a pause, so a run still running here has completed.
  const bool aborted = m_controller.State() != RunState::Running;
  if (aborted || m_controller.Counters().problems > 0) {
    // The summary tells what went wrong; the user should not need to know to ask for it.
    if (!m_log_shown) ShowLog_Click();
    m_log_pane->ScrollToEnd();
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
  // A simulation's log is replaced by the next run's: repeated simulations keep one file.
  m_own_log = !update && m_controller.LogSaved() ? m_log_file->text() : QString();
  SetStyleChooserShown(true);
  SetRunControlsEnabled(true);
  OfferUndo(false);
  setWindowTitle(QStringLiteral("Dialmend"));
  m_go->setText(QStringLiteral("&Go"));
  m_go->setToolTip(Mode(m_update->isChecked(), "Start"));
  m_quit->setText(QStringLiteral("&Quit"));
  m_quit->setToolTip(Tip(kQuitTip));
  m_about->setText(QStringLiteral("&About"));
  m_pending_log.clear();
  m_log_pane->Clear();
}

void MainWindow::ShowCounters(const RunCounters& counters) {
  m_latest_counters = counters;
  Present(m_controller.State() != RunState::Running);
}

AbortAnswer MainWindow::AskAbort() {
  Present(true);
  return m_dialogs.AskAbort(this);
}

bool MainWindow::AskUndo(const std::string& started) {
  return m_dialogs.AskUndo(this, QString::fromStdString(started));
}

void MainWindow::ShowMessage(const std::string& text) {
  Present(true);
  m_dialogs.Inform(this, QString::fromStdString(text));
}

void MainWindow::ShowProfileProblem(const std::string& reason) {
  ShowMessage(ProfileProblemText(QDir::toNativeSeparators(m_profile).toStdString(), reason));
}

void MainWindow::EndProgram() {
  m_ending = true;
  close();
  QCoreApplication::quit();
}

void MainWindow::ProcessEvents(bool wait) {
  Present(false);
  if (m_yield_hook) m_yield_hook();
  if (wait) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return;
  }
  // A pass of the event loop costs more than a contact; a click waits a few milliseconds at
  // most and is still seen between two contacts.
  constexpr qint64 kEventsMs = 8;
  if (m_since_events.isValid() && m_since_events.elapsed() < kEventsMs) return;
  m_since_events.start();
  QCoreApplication::processEvents(QEventLoop::AllEvents);
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
