#include "ui/main_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSocketNotifier>
#include <algorithm>
#include <utility>

#include "check/format_check.h"
#include "platform/termination_signals.h"
#include "ui/about_dialog.h"
#include "ui/dialogs.h"
#include "ui/log_view.h"
#include "ui/option_dialog.h"
#include "ui/program_look.h"

namespace dialmend {
namespace {

QString Q(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

constexpr QLatin1StringView kProgram("Dialmend");
constexpr QLatin1StringView kContactsKey("contacts");

// The contacts chosen last time, in the user's Qt settings for the program: only they are
// kept, so every other setting starts at its default.
WindowPolicy::Seams SettingsSeams() {
  WindowPolicy::Seams seams;
  seams.remembered_contacts = [] {
    return QSettings(kProgram, kProgram).value(kContactsKey).toString().toStdString();
  };
  seams.remember_contacts = [](const std::string& path) {
    QSettings(kProgram, kProgram).setValue(kContactsKey, QString::fromStdString(path));
  };
  return seams;
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

// A text box with the button-face background, but only where it cannot be typed into: an
// enabled box that looks disabled is not seen to be one. The contacts box is changed with
// "..." alone: read-only, and grey whether enabled or not.
QLineEdit* MakeTextBox(QWidget* parent, Control control) {
  const bool path = control == Control::Profile || control == Control::LogFile;
  QLineEdit* box = path ? new PathBox(parent) : new QLineEdit(parent);
  QPalette palette = box->palette();
  palette.setColor(QPalette::Disabled, QPalette::Base, palette.color(QPalette::Button));
  if (control == Control::Profile) {
    box->setReadOnly(true);
    palette.setColor(QPalette::Base, palette.color(QPalette::Button));
  }
  box->setPalette(palette);
  return box;
}

// A choice box that says when its list is about to open, so its entries can be found then.
class ChoiceBox : public QComboBox {
 public:
  using QComboBox::QComboBox;

  void SetOpening(std::function<void()> opening) { m_opening = std::move(opening); }

  void showPopup() override {
    if (m_opening) m_opening();
    QComboBox::showPopup();
  }

 private:
  std::function<void()> m_opening;
};

// Puts `look`'s entries in `box` when they changed, and chooses its text, without a signal:
// only the user's choices are forwarded.
void DrawChoices(QComboBox& box, const ControlLook& look, const ControlLook* before) {
  const QSignalBlocker quiet(box);
  if (before == nullptr || before->choices != look.choices) {
    box.clear();
    for (const std::string& choice : look.choices) box.addItem(QString::fromStdString(choice));
  }
  box.setCurrentIndex(box.findText(QString::fromStdString(look.text)));
}

QWidget* MakeWidget(QWidget* parent, const ControlSpec& spec) {
  switch (spec.kind) {
    case ControlKind::Image: {
      auto* image = new QLabel(parent);
      image->setPixmap(ProgramIcon().pixmap(Px(spec.place.width), Px(spec.place.height)));
      image->setScaledContents(true);
      return image;
    }
    case ControlKind::Label:
      return new QLabel(parent);
    case ControlKind::Button: {
      auto* button = new QPushButton(parent);
      // Enter presses the focused button through the window's own key handling.
      button->setAutoDefault(false);
      return button;
    }
    case ControlKind::CheckBox:
      return new QCheckBox(parent);
    case ControlKind::RadioButton:
      return new QRadioButton(parent);
    case ControlKind::TextBox:
      return MakeTextBox(parent, spec.control);
    case ControlKind::ChoiceBox:
      return new ChoiceBox(parent);
    case ControlKind::LogPane:
      return new LogView(parent);
  }
  return nullptr;
}

void SetText(QWidget* widget, const QString& text) {
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
    button->setText(text);
  } else if (auto* line = qobject_cast<QLineEdit*>(widget)) {
    line->setText(text);
  } else if (auto* label = qobject_cast<QLabel*>(widget)) {
    label->setText(text);
  }
}

}  // namespace

MainWindow::MainWindow(QString profile, Dialogs& dialogs, QWidget* parent)
    : QDialog(parent, kFixedDialogFlags),
      m_dialogs(dialogs),
      m_policy(*this, profile.toStdString(), SettingsSeams()) {
  setObjectName(QStringLiteral("Dialmend"));
  setWindowIcon(ProgramIcon());
  setFont(ControlFont());
  for (const ControlSpec& spec : MainControls()) {
    m_controls[static_cast<std::size_t>(spec.control)] = MakeControl(spec);
  }
  m_log_pane = static_cast<LogView*>(Widget(Control::Log));
  static_cast<QPushButton*>(Widget(Control::Go))->setDefault(true);
  SetTabOrder();
  ConnectHandlers();
  m_policy.DrawAll();
  Widget(Control::Go)->setFocus();
}

MainWindow::~MainWindow() {
  if (m_catching_signals) StopWatchingTerminationSignals();
}

QWidget* MainWindow::MakeControl(const ControlSpec& spec) {
  QWidget* widget = MakeWidget(this, spec);
  widget->setObjectName(Q(spec.name));
  switch (spec.face) {
    case ControlFace::Bold:
      widget->setFont(ControlFont(true));
      break;
    case ControlFace::Title:
      widget->setFont(TitleFont());
      break;
    case ControlFace::Fixed:
      // The change lines' columns line up only in a fixed-width font.
      widget->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
      break;
    case ControlFace::Normal:
      break;
  }
  const TwipsRect& at = spec.place;
  widget->setGeometry(Px(at.left), Px(at.top), Px(at.width), Px(at.height));
  return widget;
}

Status MainWindow::CloseOnTerminationSignals() {
  const Result<int> watched = WatchTerminationSignals();
  if (!watched.Ok()) return Status::Failure(watched.Message());
  const int fd = watched.Value();
  auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
  connect(notifier, &QSocketNotifier::activated, this, [this, fd] {
    DrainTerminationSignals(fd);
    close();
  });
  m_catching_signals = true;
  return Status{};
}

void MainWindow::SetTabOrder() {
  const std::span<const Control> order = TabOrder();
  for (std::size_t i = 1; i < order.size(); ++i) {
    setTabOrder(Widget(order[i - 1]), Widget(order[i]));
  }
}

void MainWindow::ConnectHandlers() {
  const auto clicked = [this](Control control, void (MainWindow::*handler)()) {
    connect(static_cast<QAbstractButton*>(Widget(control)), &QAbstractButton::clicked, this,
            handler);
  };
  clicked(Control::Go, &MainWindow::Go_Click);
  clicked(Control::Quit, &MainWindow::Quit_Click);
  clicked(Control::Undo, &MainWindow::Undo_Click);
  clicked(Control::Options, &MainWindow::cmdOption_Click);
  clicked(Control::SetProfile, &MainWindow::SetProfile_Click);
  clicked(Control::SetFile, &MainWindow::SetFile_Click);
  clicked(Control::ShowLog, &MainWindow::ShowLog_Click);
  clicked(Control::Test, &MainWindow::cmdTest_Click);
  clicked(Control::About, &MainWindow::About_Click);
  for (Control box : {Control::Update, Control::SaveLog, Control::Replace}) {
    connect(static_cast<QCheckBox*>(Widget(box)), &QCheckBox::clicked, this,
            [this, box](bool ticked) { m_policy.Ticked(box, ticked); });
  }
  for (int i = 0; i < 4; ++i) {
    auto* style = static_cast<QRadioButton*>(
        Widget(static_cast<Control>(static_cast<int>(Control::Style0) + i)));
    connect(style, &QRadioButton::clicked, this, [this, i] { m_policy.StyleChosen(i); });
    connect(style, &QRadioButton::toggled, this, [this](bool on) {
      if (on) KeepStyleTabStopAtChecked();
    });
  }
  auto* book = static_cast<ChoiceBox*>(Widget(Control::Book));
  book->SetOpening([this] { m_policy.BookChoiceOpened(); });
  connect(book, &QComboBox::activated, this, [this](int index) { m_policy.BookChosen(index); });
  for (Control box : {Control::Find, Control::Replacement, Control::LogFile}) {
    connect(static_cast<QLineEdit*>(Widget(box)), &QLineEdit::textChanged, this,
            [this, box](const QString& text) { m_policy.Edited(box, text.toStdString()); });
  }
}

void MainWindow::DrawControl(Control control, const ControlLook& look, const ControlLook* before) {
  QWidget* widget = Widget(control);
  const auto changed = [before](auto part) { return before == nullptr || part(*before); };
  // The icon is a picture and the pane shows the log: neither has a caption.
  const ControlKind kind = SpecOf(control).kind;
  if (kind != ControlKind::Image && kind != ControlKind::LogPane &&
      changed([&](const ControlLook& b) { return b.text != look.text; })) {
    SetText(widget, Q(look.text));
  }
  if (auto* box = qobject_cast<QComboBox*>(widget);
      box != nullptr && changed([&](const ControlLook& b) {
        return b.text != look.text || b.choices != look.choices;
      })) {
    DrawChoices(*box, look, before);
  }
  if (changed([&](const ControlLook& b) { return b.tip != look.tip; })) {
    widget->setToolTip(Q(look.tip));
  }
  if (auto* line = qobject_cast<QLineEdit*>(widget);
      line != nullptr &&
      changed([&](const ControlLook& b) { return b.placeholder != look.placeholder; })) {
    line->setPlaceholderText(Q(look.placeholder));
  }
  if (auto* button = qobject_cast<QAbstractButton*>(widget);
      button != nullptr && button->isCheckable() &&
      changed([&](const ControlLook& b) { return b.checked != look.checked; })) {
    button->setChecked(look.checked);
  }
  if (changed([&](const ControlLook& b) { return b.enabled != look.enabled; })) {
    widget->setEnabled(look.enabled);
  }
  if (changed([&](const ControlLook& b) { return b.visible != look.visible; })) {
    widget->setVisible(look.visible);
  }
}

void MainWindow::DrawWindow(const WindowLook& look, const WindowLook* before) {
  if (before == nullptr || before->title != look.title) setWindowTitle(Q(look.title));
  if (before != nullptr && before->log_shown == look.log_shown) return;
  if (look.log_shown) {
    // The log may be read in a window as large as the user likes; the pane takes the room.
    const QSize least(Px(kMainWidth), Px(MainHeight(true)));
    setMinimumSize(least);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    resize(m_size_with_log.isEmpty() ? least : m_size_with_log);
  } else {
    if (before != nullptr) m_size_with_log = size();
    setFixedSize(Px(kMainWidth), Px(MainHeight(false)));
  }
}

OptionDialog& MainWindow::OptionsDialog() {
  if (m_option_dialog == nullptr) m_option_dialog = new OptionDialog(m_policy.Options(), this);
  return *m_option_dialog;
}

void MainWindow::cmdOption_Click() {
  OptionsDialog().exec();
  activateWindow();
  Widget(Control::Go)->setFocus();
}

void MainWindow::SetProfile_Click() {
  const std::optional<QString> chosen =
      m_dialogs.ChooseContacts(Widget(Control::SetProfile), Q(m_policy.ContactsOffered()));
  if (chosen) m_policy.ContactsChosen(chosen->toStdString());
}

void MainWindow::SetFile_Click() {
  auto* box = static_cast<QLineEdit*>(Widget(Control::LogFile));
  if (auto chosen = m_dialogs.ChooseLogFile(this, box->text())) box->setText(*chosen);
}

void MainWindow::PlaceLogPane() {
  const int top = Px(SpecOf(Control::Log).place.top);
  m_log_pane->setGeometry(0, top, width(), std::max(height() - top, Px(kLogMinHeight)));
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
  const FormatCheckResult result = RunFormatCheck(m_policy.Options());
  m_policy.FormatCheckRan();
  m_dialogs.Inform(this, Q(result.general));
  m_dialogs.Inform(this, Q(result.international));
}

std::string MainWindow::LogText() const {
  return m_log_pane->Logged() + m_policy.PendingLog();
}

void MainWindow::KeepStyleTabStopAtChecked() {
  // Qt moves an exclusive group's one Tab stop to the button that last had the focus, which
  // need not be the checked one.
  for (Control style : {Control::Style0, Control::Style1, Control::Style2, Control::Style3}) {
    auto* button = static_cast<QRadioButton*>(Widget(style));
    button->setFocusPolicy(button->isChecked() ? Qt::StrongFocus : Qt::ClickFocus);
  }
}

void MainWindow::AppendToPane(std::string_view text) {
  m_log_pane->Append(text);
}

void MainWindow::ClearPane() {
  m_log_pane->Clear();
}

void MainWindow::ScrollPaneToEnd() {
  m_log_pane->ScrollToEnd();
}

void MainWindow::PaintNow() {
  if (m_log_pane->isVisible()) m_log_pane->viewport()->repaint();
  for (Control counter : {Control::Folders, Control::Checked, Control::Updated, Control::Numbers}) {
    Widget(counter)->repaint();
  }
}

void MainWindow::Beep() {
  QApplication::beep();
}

void MainWindow::Inform(const std::string& text) {
  m_dialogs.Inform(this, Q(text));
}

AbortAnswer MainWindow::AskAbort(const std::string& question) {
  return m_dialogs.AskAbort(this, Q(question));
}

bool MainWindow::AskYesNo(const std::string& question) {
  return m_dialogs.AskYesNo(this, Q(question));
}

std::optional<std::string> MainWindow::AskPassword(const std::string& prompt, bool& remember) {
  std::optional<QString> given = m_dialogs.AskPassword(this, Q(prompt), remember);
  if (!given) return std::nullopt;
  return given->toStdString();
}

void MainWindow::EndProgram() {
  m_ending = true;
  close();
  QCoreApplication::quit();
}

void MainWindow::ProcessEvents(bool wait) {
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
  if (!m_ending && !m_policy.Close()) {
    event->ignore();
    return;
  }
  event->accept();
  QCoreApplication::quit();
}

}  // namespace dialmend
