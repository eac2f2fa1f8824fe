#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStyle>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <csignal>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>

#include "run/undo_record.h"
#include "tests/ui/drag.h"
#include "tests/ui/fake_dialogs.h"
#include "ui/about_dialog.h"
#include "ui/dialogs.h"
#include "ui/log_store.h"
#include "ui/log_view.h"
#include "ui/main_window.h"
#include "ui/option_dialog.h"
#include "ui/program_look.h"

namespace dialmend {

class MainWindowTest : public QObject {
  Q_OBJECT

 private:
  // A window over a fresh copy of the sample store, saving its log in the temporary folder.
  std::unique_ptr<MainWindow> Window() {
    m_profile = std::make_unique<QTemporaryDir>();
    std::filesystem::copy(DIALMEND_SAMPLE_PROFILE, m_profile->filePath("p").toStdString(),
                          std::filesystem::copy_options::recursive);
    auto window = std::make_unique<MainWindow>(m_profile->filePath("p"), m_dialogs);
    m_window = window.get();
    Line("LogFile")->setText(m_profile->filePath("log.txt"));
    window->show();
    return window;
  }
  template <class T = QWidget>
  T* Find(const char* name) {
    T* w = m_window->findChild<T*>(QString::fromLatin1(name));
    if (w == nullptr) qFatal("no control %s", name);
    return w;
  }
  // A window over a fresh copy of the sample store whose log path box keeps its default: a
  // numbered name in a private home folder.
  std::unique_ptr<MainWindow> DefaultLogWindow() {
    m_home = std::make_unique<QTemporaryDir>();
    m_saved_home = qgetenv("HOME");
    qputenv("HOME", m_home->path().toUtf8());
    qunsetenv("XDG_CONFIG_HOME");
    m_profile = std::make_unique<QTemporaryDir>();
    std::filesystem::copy(DIALMEND_SAMPLE_PROFILE, m_profile->filePath("p").toStdString(),
                          std::filesystem::copy_options::recursive);
    auto window = std::make_unique<MainWindow>(m_profile->filePath("p"), m_dialogs);
    m_window = window.get();
    window->show();
    return window;
  }
  std::string HomeLog(int n) {
    return m_home->filePath(QStringLiteral("Dialmend Log %1.txt").arg(n)).toStdString();
  }
  static std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  std::map<std::string, std::string> Cards() {
    std::map<std::string, std::string> cards;
    for (const auto& entry :
         std::filesystem::recursive_directory_iterator(m_profile->filePath("p").toStdString())) {
      if (entry.is_regular_file()) cards[entry.path().string()] = ReadFile(entry.path().string());
    }
    return cards;
  }
  QPushButton* Button(const char* name) { return Find<QPushButton>(name); }
  // Makes the window the active one, as shortcuts and focus need.
  bool Activate() {
    m_window->activateWindow();
    return QTest::qWaitForWindowActive(m_window);
  }
  // The names of the controls Tab reaches, from `start`, `presses` times.
  QStringList TabStops(QWidget* start, int presses) {
    start->setFocus(Qt::TabFocusReason);
    QStringList names;
    for (int i = 0; i < presses; ++i) {
      QTest::keyClick(m_window->focusWidget(), Qt::Key_Tab);
      names << m_window->focusWidget()->objectName();
    }
    return names;
  }
  QLineEdit* Line(const char* name) { return Find<QLineEdit>(name); }
  // Runs an update to its end; its undo record's path.
  std::string Update() {
    Find<QCheckBox>("Update")->click();
    Button("Go")->click();
    if (m_window->Controller().State() != RunState::Finished) qFatal("the update did not end");
    return m_window->Controller().RecordPath();
  }
  bool UndoOffered() { return Button("Undo")->isVisible() && Button("Undo")->isEnabled(); }
  QString Text(const char* name) { return Find<QLabel>(name)->text(); }

  FakeDialogs m_dialogs;
  std::unique_ptr<QTemporaryDir> m_profile;
  std::unique_ptr<QTemporaryDir> m_home;
  QByteArray m_saved_home;
  MainWindow* m_window = nullptr;

 private slots:
  void init() { m_dialogs = FakeDialogs(); }
  void cleanup() {
    if (m_home) {
      qputenv("HOME", m_saved_home);
      m_home.reset();
    }
  }

  void defaultLogMovesOnWhenAnotherRunTookItMeanwhile() {
    auto w = DefaultLogWindow();
    QCOMPARE(Line("LogFile")->text().toStdString(), HomeLog(1));
    std::ofstream(HomeLog(1), std::ios::binary) << "another run's log";
    Button("Go")->click();
    QCOMPARE(ReadFile(HomeLog(1)), std::string("another run's log"));
    QCOMPARE(ReadFile(HomeLog(2)), w->LogText());
    QCOMPARE(Line("LogFile")->text().toStdString(), HomeLog(2));
  }

  void aSecondRunNeverReplacesTheLogOfAnUpdate() {
    auto w = DefaultLogWindow();
    Find<QCheckBox>("Update")->click();
    Button("Go")->click();
    const std::string first = w->LogText();
    QVERIFY(first.find("\r\nUpdate complete - ") != std::string::npos);
    Button("Go")->click();  // reset
    QCOMPARE(Line("LogFile")->text().toStdString(), HomeLog(2));
    Button("Go")->click();
    QCOMPARE(ReadFile(HomeLog(1)), first);
    QCOMPARE(ReadFile(HomeLog(2)), w->LogText());
  }

  void repeatedSimulationsKeepOneLogFile() {
    auto w = DefaultLogWindow();
    for (int run = 0; run < 3; ++run) {
      if (run > 0) Button("Go")->click();  // reset
      QCOMPARE(Line("LogFile")->text().toStdString(), HomeLog(1));
      Button("Go")->click();
      QCOMPARE(ReadFile(HomeLog(1)), w->LogText());
    }
    QVERIFY(!std::filesystem::exists(HomeLog(2)));
  }

  void aLogThatCannotBeCreatedStopsTheRunBeforeItStarts() {
    auto w = Window();
    const QString path = m_profile->filePath(QStringLiteral("missing/log.txt"));
    Line("LogFile")->setText(path);
    Find<QCheckBox>("Update")->click();
    const auto before = Cards();
    Button("Go")->click();
    QCOMPARE(
        m_dialogs.informed,
        QStringList{
            QStringLiteral("Cannot save the log to \"%1\": no such file or directory.").arg(path)});
    QCOMPARE(w->Controller().State(), RunState::Idle);
    QCOMPARE(Button("Go")->text(), QStringLiteral(" &Go!"));
    QVERIFY(Find<QCheckBox>("Update")->isEnabled());
    QVERIFY(Cards() == before);
    QCOMPARE(w->LogText(), std::string());
  }

  void terminationSignalsCloseARunningUpdateWithItsLogSaved() {
    for (int signal_number : {SIGTERM, SIGHUP, SIGINT}) {
      auto w = Window();
      QVERIFY(w->CloseOnTerminationSignals().Ok());
      Find<QCheckBox>("Update")->click();
      int yields = 0;
      w->SetYieldHook([&] {
        if (++yields == 10) ::raise(signal_number);
      });
      Button("Go")->click();
      QVERIFY2(!w->isVisible(), strsignal(signal_number));
      const std::string saved = ReadFile(m_profile->filePath("log.txt").toStdString());
      QVERIFY2(saved.find("\r\nUpdate aborted - ") != std::string::npos, strsignal(signal_number));
      QCOMPARE(saved, w->LogText());
      QVERIFY(w->Controller().Counters().updated > 0);
      for (const auto& [name, text] : Cards())
        QVERIFY2(name.find(".dialmend-") == std::string::npos, name.c_str());
    }
  }

  void startsIdleWithTheDesignedControls() {
    auto w = Window();
    QCOMPARE(w->windowTitle(), QStringLiteral("Dialmend"));
    QCOMPARE(Button("Go")->text(), QStringLiteral(" &Go!"));
    QCOMPARE(Button("Go")->toolTip(), QStringLiteral("Start simulation"));
    QVERIFY(Button("Go")->isDefault());
    QCOMPARE(Button("Quit")->text(), QStringLiteral("&Quit"));
    QCOMPARE(Button("Quit")->toolTip(), QStringLiteral("Get outta here"));
    QVERIFY(Find<QRadioButton>("Style0")->isChecked());
    QVERIFY(Find<QCheckBox>("SaveLog")->isChecked());
    QVERIFY(!Find<QCheckBox>("Update")->isChecked());
    QVERIFY(!Find<QCheckBox>("chkReplace")->isChecked());
    QVERIFY(!Line("txtFind")->isEnabled());
    QVERIFY(!Line("txtReplace")->isEnabled());
    QVERIFY(Find<QLabel>("Folders")->isHidden());
    QVERIFY(Find<QLabel>("lblNumbers")->isHidden());
    QVERIFY(Button("cmdTest")->isHidden());
    QVERIFY(!Button("cmdTest")->isEnabled());
    QCOMPARE(w->Controller().State(), RunState::Idle);
    // One row taller than designed, for the contacts row.
    QCOMPARE(w->size(), QSize(Px(5040), Px(3405 + 360)));
    QCOMPARE(w->minimumSize(), w->maximumSize());
  }

  void defaultLogPathIsOnTheDesktop() {
    MainWindow w(QStringLiteral("/nonexistent"), m_dialogs);
    QVERIFY(w.findChild<QLineEdit*>(QStringLiteral("LogFile"))
                ->text()
                .contains(QStringLiteral("Dialmend Log ")));
  }

  void updateBoxSwitchesCaptions() {
    auto w = Window();
    Find<QCheckBox>("Update")->click();
    QCOMPARE(Text("lblUpdated"), QStringLiteral("Contacts Updated"));
    QCOMPARE(Text("lblNumbers"), QStringLiteral("Phone Nos Updated"));
    QCOMPARE(Button("Go")->toolTip(), QStringLiteral("Start update"));
    Find<QCheckBox>("Update")->click();
    QCOMPARE(Text("lblUpdated"), QStringLiteral("Contacts To Update"));
    QCOMPARE(Text("lblNumbers"), QStringLiteral("Phone Nos To Update"));
    QCOMPARE(Button("Go")->toolTip(), QStringLiteral("Start simulation"));
  }

  void optionControlsFeedTheConverter() {
    auto w = Window();
    Find<QRadioButton>("Style2")->click();
    QVERIFY(w->Options().style == NumberStyle::Spaces);
    Find<QCheckBox>("chkReplace")->click();
    QVERIFY(Line("txtFind")->isEnabled());
    Line("txtFind")->setText(QStringLiteral("0485"));
    Line("txtReplace")->setText(QStringLiteral("0845"));
    QVERIFY(w->Options().replace);
    QCOMPARE(w->Options().find, std::string("0485"));
    Find<QCheckBox>("chkReplace")->click();
    QVERIFY(!Line("txtFind")->isEnabled());
    QCOMPARE(Line("txtFind")->text(), QStringLiteral("0485"));
    QVERIFY(!w->Options().replace);
  }

  void internationalOptionsKeepTheirChoice() {
    auto w = Window();
    QVERIFY(w->Options().prefix == PrefixAction::AsFound);
    bool answered = false;
    QTimer::singleShot(0, this, [&] {
      QWidget* dialog = QApplication::activeModalWidget();
      QVERIFY(dialog != nullptr);
      QCOMPARE(dialog->objectName(), QStringLiteral("frmOption"));
      dialog->findChild<QRadioButton*>(QStringLiteral("optPrefix1"))->click();
      dialog->findChild<QRadioButton*>(QStringLiteral("optCode2"))->click();
      auto* old_codes = dialog->findChild<QCheckBox*>(QStringLiteral("chkOldCodes"));
      QVERIFY(!old_codes->isChecked());
      QVERIFY(old_codes->toolTip().contains(QStringLiteral("without an old area code")));
      int alt_c = 0;  // its access key is the dialog's only Alt+C
      for (const auto* button : dialog->findChildren<QAbstractButton*>())
        alt_c += button->text().contains(QStringLiteral("&C"), Qt::CaseInsensitive) ? 1 : 0;
      QCOMPARE(alt_c, 1);
      old_codes->click();
      QTest::keyClick(dialog, Qt::Key_Escape);
      answered = true;
    });
    Button("cmdOption")->click();
    QVERIFY(answered);
    QVERIFY(w->Options().prefix == PrefixAction::Remove);
    QVERIFY(w->Options().leading_zero == LeadingZero::Include);
    QVERIFY(w->Options().old_codes_only);
    QVERIFY(w->OptionsDialog().isHidden());
    QVERIFY(w->OptionsDialog().findChild<QRadioButton*>(QStringLiteral("optPrefix1"))->isChecked());
    QCOMPARE(w->focusWidget(), Button("Go"));
  }

  void simulationRunsToTheEndAndResets() {
    auto w = Window();
    Button("Go")->click();
    QCOMPARE(w->Controller().State(), RunState::Finished);
    QCOMPARE(w->windowTitle(), QStringLiteral("Dialmend - Finished!"));
    QCOMPARE(Button("Go")->text(), QStringLiteral("&Reset"));
    QCOMPARE(Button("Go")->toolTip(), QStringLiteral("Reset simulation"));
    QVERIFY(Find<QLabel>("Checked")->isVisible());
    QVERIFY(!Find<QRadioButton>("Style0")->isVisible());
    QCOMPARE(Text("Checked"), QString::number(w->Controller().Counters().checked));
    QVERIFY(w->Controller().Counters().checked > 50);
    QVERIFY(!Find<QCheckBox>("Update")->isEnabled());
    // The pane shows the log as lines; the file keeps CR LF.
    QString pane = Find<LogView>("Log")->Text();
    QString log = QString::fromStdString(w->LogText());
    QCOMPARE(pane, log.remove(QLatin1Char('\r')));
    std::ifstream saved(m_profile->filePath("log.txt").toStdString(), std::ios::binary);
    QCOMPARE(std::string(std::istreambuf_iterator<char>(saved), {}), w->LogText());

    Button("Go")->click();
    QCOMPARE(w->Controller().State(), RunState::Idle);
    QCOMPARE(w->windowTitle(), QStringLiteral("Dialmend"));
    QCOMPARE(Button("Go")->text(), QStringLiteral("&Go"));
    QCOMPARE(Find<LogView>("Log")->Text(), QString());
    QCOMPARE(Text("Checked"), QStringLiteral("0"));
    QVERIFY(Find<QLabel>("Checked")->isHidden());
    QVERIFY(Find<QRadioButton>("Style0")->isVisible());
    QVERIFY(Find<QCheckBox>("Update")->isEnabled());
  }

  void pauseResumeAndAbortFromInsideTheRun() {
    auto w = Window();
    int yields = 0;
    QStringList seen;
    w->SetYieldHook([&] {
      ++yields;
      if (yields == 5) {
        Button("Go")->click();  // pause
        seen << Button("Go")->text();
        QTimer::singleShot(0, this, [&] {
          Button("Go")->click();  // resume
          seen << Button("Go")->text();
        });
      }
      if (yields == 12) {
        m_dialogs.answers = {AbortAnswer::No};
        Button("Quit")->click();  // pause and ask: No leaves it paused
        seen << Button("Go")->text() << Button("Quit")->text();
        QTimer::singleShot(0, this, [&] { Button("Quit")->click(); });  // abort without asking
      }
    });
    Button("Go")->click();
    QCOMPARE(seen, (QStringList{"&Resume", "&Pause", "&Resume", "&Abort"}));
    QCOMPARE(m_dialogs.asked, 1);
    const std::string& log = w->LogText();
    QVERIFY(log.find("Simulation aborted - ") != std::string::npos);
    QCOMPARE(log.find("Summary:"), log.rfind("Summary:"));
    QCOMPARE(w->Controller().State(), RunState::Finished);
    QCOMPARE(w->windowTitle(), QStringLiteral("Dialmend - Finished!"));
  }

  void closingDuringARunAbortsThenEnds() {
    auto w = Window();
    int yields = 0;
    w->SetYieldHook([&] {
      if (++yields == 3) w->close();
    });
    Button("Go")->click();
    QVERIFY(w->LogText().find("Simulation aborted - ") != std::string::npos);
    QVERIFY(!w->isVisible());
    QCOMPARE(yields, 3);  // the walk went no further after the close
  }

  void updateRunWritesTheCardsAndCountsExactly() {
    auto w = Window();
    Find<QCheckBox>("Update")->click();
    m_dialogs.answers = {AbortAnswer::Cancel};
    int yields = 0;
    w->SetYieldHook([&] {
      if (++yields == 8) Button("Quit")->click();  // asked, Cancel resumes
    });
    Button("Go")->click();
    QCOMPARE(m_dialogs.asked, 1);
    const std::string& log = w->LogText();
    QVERIFY(log.find("\r\nUpdate complete - ") != std::string::npos);
    QVERIFY(log.find("Updating contacts in profile ") != std::string::npos);
    const RunCounters& c = w->Controller().Counters();
    QCOMPARE(Text("Folders"), QString::number(c.folders));
    QCOMPARE(Text("Numbers"), QString::number(c.numbers));
    QCOMPARE(c.folders, 6);
    QCOMPARE(c.checked, 58);
    QCOMPARE(c.updated, 54);
    QVERIFY(log.find("Contacts updated: 54\r\nNumbers updated:  " + std::to_string(c.numbers) +
                     "\r\nProblems: 1\r\n") != std::string::npos);
    std::ifstream card(m_profile->filePath("p/work/clients/riverside-dental.vcf").toStdString());
    const std::string text{std::istreambuf_iterator<char>(card), {}};
    QVERIFY(text.find("TEL;TYPE=WORK:(023) 8022 1904\r\n") != std::string::npos);
    QVERIFY(text.find("TEL;TYPE=PAGER:(07625) 338110\r\n") != std::string::npos);
  }

  void twoRunsLeaveOneLogFileAndAClearedSaveWritesNone() {
    auto w = Window();
    const std::string path = m_profile->filePath("log.txt").toStdString();
    Button("Go")->click();
    Button("Go")->click();  // reset
    Find<QRadioButton>("Style3")->click();
    Button("Go")->click();
    std::ifstream saved(path, std::ios::binary);
    const std::string second{std::istreambuf_iterator<char>(saved), {}};
    QCOMPARE(second, w->LogText());
    QCOMPARE(second.find("Dialmend Activity Log"), second.rfind("Dialmend Activity Log"));
    QCOMPARE(QDir(m_profile->path()).entryList({QStringLiteral("*.txt")}).size(), 1);

    Button("Go")->click();
    std::filesystem::remove(path);
    Find<QCheckBox>("SaveLog")->click();
    Button("Go")->click();
    QVERIFY(!std::filesystem::exists(path));
  }

  void dialogOptionsReachTheConversions() {
    auto w = Window();
    w->OptionsDialog().findChild<QRadioButton*>(QStringLiteral("optPrefix2"))->click();
    w->OptionsDialog().findChild<QRadioButton*>(QStringLiteral("optCode1"))->click();
    Find<QRadioButton>("Style3")->click();
    Button("Go")->click();
    QVERIFY(w->LogText().find("0171 600 3000 --> +442076003000\r\n") != std::string::npos);
  }

  void closingAPausedUpdateSavesTheLogAndLeavesWholeFiles() {
    auto w = Window();
    Find<QCheckBox>("Update")->click();
    int yields = 0;
    w->SetYieldHook([&] {
      if (++yields != 10) return;
      Button("Go")->click();  // pause
      QTimer::singleShot(0, this, [&] { w->close(); });
    });
    Button("Go")->click();
    QVERIFY(!w->isVisible());
    std::ifstream saved(m_profile->filePath("log.txt").toStdString(), std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(saved), {}};
    QVERIFY(text.find("\r\nUpdate aborted - ") != std::string::npos);
    QCOMPARE(text, w->LogText());
    // Every card is whole: each still parses to its end, and no temporary file is left.
    for (const auto& entry :
         std::filesystem::recursive_directory_iterator(m_profile->filePath("p").toStdString())) {
      const std::string name = entry.path().filename().string();
      QVERIFY2(name.find(".dialmend-") == std::string::npos, name.c_str());
      if (entry.path().extension() == ".vcf" && name != "broken-export.vcf") {
        std::ifstream card(entry.path(), std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(card), {}};
        QVERIFY2(bytes.find("END:VCARD") != std::string::npos, name.c_str());
      }
    }
  }

  void showLogTogglesTheHeight() {
    auto w = Window();
    Button("ShowLog")->click();
    QCOMPARE(Button("ShowLog")->text(), QStringLiteral("Hide Log"));
    QCOMPARE(w->height(), Px(6000 - 480 + 360));
    Button("ShowLog")->click();
    QCOMPARE(Button("ShowLog")->text(), QStringLiteral("Show Log"));
    QCOMPARE(w->height(), Px(3405 + 360));
  }

  void logFileChoiceAndSaveSwitch() {
    auto w = Window();
    const QString before = Line("LogFile")->text();
    Button("SetFile")->click();
    QCOMPARE(m_dialogs.offered_file, before);
    QCOMPARE(Line("LogFile")->text(), before);
    m_dialogs.chosen_file = QStringLiteral("/tmp/elsewhere.txt");
    Button("SetFile")->click();
    QCOMPARE(Line("LogFile")->text(), QStringLiteral("/tmp/elsewhere.txt"));
    Find<QCheckBox>("SaveLog")->click();
    QVERIFY(!Line("LogFile")->isEnabled());
    QVERIFY(!Button("SetFile")->isEnabled());
  }

  void aLongPathShowsItsEnd() {
    auto w = Window();
    QVERIFY(Activate());
    // The box keeps its cursor in sight, so a cursor at the end in sight shows the end.
    const auto end_shown = [](QLineEdit* box) {
      (void)box->grab();  // the box scrolls its text as it paints
      const QRect cursor = box->inputMethodQuery(Qt::ImCursorRectangle).toRect();
      return box->cursorPosition() == box->text().size() &&
             box->contentsRect().contains(cursor.center());
    };
    const QString deep = m_profile->filePath(QStringLiteral("%1/p").arg(QString(60, 'x')));
    QVERIFY(QDir().mkpath(deep + QStringLiteral("/book")));
    std::ofstream((deep + QStringLiteral("/book/a.vcf")).toStdString()) << "BEGIN:VCARD\r\n";
    m_dialogs.chosen_contacts = deep;
    Button("SetProfile")->click();
    QCOMPARE(Line("Profile")->text(), deep);
    QVERIFY(end_shown(Line("Profile")));
    Line("LogFile")->setText(deep + QStringLiteral("/Dialmend Log 12.txt"));
    QVERIFY(end_shown(Line("LogFile")));
    // Left with the cursor at the start, as a click there leaves it.
    for (const char* name : {"LogFile", "Profile"}) {
      Line(name)->setFocus(Qt::TabFocusReason);
      Line(name)->setCursorPosition(0);
      Button("Go")->setFocus(Qt::TabFocusReason);
      QVERIFY2(end_shown(Line(name)), name);
    }
  }

  void enabledTextBoxesDoNotLookDisabled() {
    auto w = Window();
    Find<QCheckBox>("chkReplace")->click();
    for (const char* name : {"txtFind", "txtReplace", "LogFile"}) {
      const QPalette& palette = Line(name)->palette();
      QVERIFY2(palette.color(QPalette::Active, QPalette::Base) !=
                   palette.color(QPalette::Disabled, QPalette::Base),
               name);
    }
  }

  void checkBoxesAreTallEnoughForTheirSquare() {
    auto w = Window();
    for (const char* name : {"Update", "SaveLog", "chkReplace"}) {
      auto* box = Find<QCheckBox>(name);
      const int square = box->style()->pixelMetric(QStyle::PM_IndicatorHeight, nullptr, box);
      QVERIFY2(box->height() >= square, name);
    }
  }

  void contactsBoxStartsWithTheProfileNamed() {
    auto w = Window();
    QCOMPARE(Line("Profile")->text(), m_profile->filePath("p"));
    QVERIFY(Line("Profile")->isReadOnly());
    QCOMPARE(Find<QLabel>("lblProfile")->text(), QStringLiteral("Contacts:"));
    // Between the run mode and the log row, one row above where the log row was designed.
    QVERIFY(Line("Profile")->y() > Find<QCheckBox>("Update")->y());
    QCOMPARE(Line("Profile")->y(), Px(2595));
    QCOMPARE(Line("LogFile")->y(), Px(2595 + 360));
    QCOMPARE(Button("SetProfile")->geometry().left(), Button("SetFile")->geometry().left());
  }

  void choosingContactsRunsOverTheChoice() {
    auto w = Window();
    const QString other = m_profile->filePath("p/family");
    m_dialogs.chosen_contacts = other;
    Button("SetProfile")->click();
    QCOMPARE(m_dialogs.offered_contacts, m_profile->filePath("p"));
    QCOMPARE(Line("Profile")->text(), other);
    QCOMPARE(m_dialogs.informed, QStringList{});
    Button("Go")->click();
    QCOMPARE(w->Controller().Counters().folders, 1);
    QCOMPARE(w->Controller().Counters().checked, 9);
  }

  void choosingAVcfFileRunsOverItsCards() {
    auto w = Window();
    const QString file = m_profile->filePath("cards.vcf");
    std::ofstream(file.toStdString(), std::ios::binary)
        << "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ann\r\nTEL:0171 930 8890\r\nEND:VCARD\r\n";
    m_dialogs.chosen_contacts = file;
    Button("SetProfile")->click();
    QCOMPARE(Line("Profile")->text(), file);
    Button("Go")->click();
    QCOMPARE(w->Controller().Counters().checked, 1);
  }

  void cancellingTheContactsChoiceKeepsTheOldOne() {
    auto w = Window();
    m_dialogs.chosen_contacts = std::nullopt;
    Button("SetProfile")->click();
    QCOMPARE(Line("Profile")->text(), m_profile->filePath("p"));
    QCOMPARE(m_dialogs.informed, QStringList{});
    Button("Go")->click();
    QCOMPARE(w->Controller().Counters().folders, 6);
  }

  void aChoiceWithoutContactsIsRefusedAndTheOldOneStays() {
    auto w = Window();
    const QString empty = m_profile->filePath("empty");
    QVERIFY(QDir().mkpath(empty));
    const QString photo = m_profile->filePath("photo.vcf");
    std::ofstream(photo.toStdString(), std::ios::binary) << "\x89PNG\r\n";
    m_dialogs.chosen_contacts = empty;
    Button("SetProfile")->click();
    m_dialogs.chosen_contacts = photo;
    Button("SetProfile")->click();
    const QString old = m_profile->filePath("p");
    QCOMPARE(m_dialogs.informed,
             (QStringList{QStringLiteral("Cannot read contacts from \"%1\": it holds no contact "
                                         "cards (.vcf files).\nThe contacts are still those in "
                                         "\"%2\".")
                              .arg(empty, old),
                          QStringLiteral("Cannot read contacts from \"%1\": it is not a vCard "
                                         "file (no BEGIN:VCARD).\nThe contacts are still those "
                                         "in \"%2\".")
                              .arg(photo, old)}));
    QCOMPARE(Line("Profile")->text(), old);
    Button("Go")->click();
    QCOMPARE(w->Controller().Counters().folders, 6);
  }

  void theContactsRowIsDisabledDuringARun() {
    auto w = Window();
    bool enabled_during = true;
    w->SetYieldHook([&] {
      enabled_during = Button("SetProfile")->isEnabled() || Line("Profile")->isEnabled();
    });
    Button("Go")->click();
    QVERIFY(!enabled_during);
    QVERIFY(!Button("SetProfile")->isEnabled());
    Button("Go")->click();  // reset
    QVERIFY(Button("SetProfile")->isEnabled());
    QVERIFY(Line("Profile")->isEnabled());
  }

  void theLogPaneTakesTheRoomOfAResizedWindow() {
    auto w = Window();
    const QRect go = Button("Go")->geometry();
    const QRect log_file = Line("LogFile")->geometry();
    Button("ShowLog")->click();
    auto* pane = Find<LogView>("Log");
    const QRect designed = pane->geometry();
    QCOMPARE(designed.bottom(), w->height() - 1);
    w->resize(w->width() + 150, w->height() + 300);
    QCOMPARE(w->size(), QSize(Px(5040) + 150, Px(6000 - 480 + 360) + 300));
    QCOMPARE(pane->geometry(), designed.adjusted(0, 0, 150, 300));
    QCOMPARE(Button("Go")->geometry(), go);
    QCOMPARE(Line("LogFile")->geometry(), log_file);
    // Hidden, the window is its designed size again; shown, as the user left it.
    Button("ShowLog")->click();
    QCOMPARE(w->size(), QSize(Px(5040), Px(3405 + 360)));
    QCOMPARE(w->minimumSize(), w->maximumSize());
    Button("ShowLog")->click();
    QCOMPARE(pane->geometry(), designed.adjusted(0, 0, 150, 300));
  }

  void theContactsBoxShowsWhatTheDefaultSearchFinds() {
    QTemporaryDir home;
    QVERIFY(QDir().mkpath(home.filePath(".contacts/book")));
    MainWindow w(QString(), m_dialogs);
    m_window = &w;
    Environment env = SystemEnvironment();
    env.variable = [&](const char* name) -> std::optional<std::string> {
      if (std::strcmp(name, "HOME") == 0) return home.path().toStdString();
      return std::nullopt;
    };
    w.SetEnvironment(std::move(env));
    QCOMPARE(Line("Profile")->text(), home.filePath(".contacts"));
    QVERIFY(QDir(home.filePath(".contacts")).removeRecursively());
    Find<QCheckBox>("SaveLog")->click();
    Button("Go")->click();
    QCOMPARE(Line("Profile")->text(), QString());
    QCOMPARE(Line("Profile")->placeholderText(),
             QStringLiteral("none found: choose them with \"...\""));
    QVERIFY(Line("Profile")->toolTip().startsWith(QStringLiteral("no address books found")));
    m_window = nullptr;
  }

  void logLandsAtTheEndWhateverIsSelected() {
    auto w = Window();
    Button("ShowLog")->click();
    auto* pane = Find<LogView>("Log");
    int yields = 0;
    QString selected;
    w->SetYieldHook([&] {
      if (++yields != 20) return;
      Drag(pane->viewport(), QPoint(2, 1),
           QPoint(pane->viewport()->width() / 2, pane->viewport()->height() - 1));
      selected = pane->SelectedText();
    });
    Button("Go")->click();
    QVERIFY(!selected.isEmpty());
    QCOMPARE(pane->SelectedText(), selected);
    QVERIFY(pane->Text().endsWith(QStringLiteral("Problems: 1\n")));
    QVERIFY(pane->Text().startsWith(QStringLiteral("Dialmend Activity Log\n")));
  }

  void ctrlACtrlCCopiesTheSavedLogWithLineFeeds() {
    auto w = Window();
    Button("Go")->click();
    auto* pane = Find<LogView>("Log");
    // The run ends with a problem, so the pane opens at its summary.
    QVERIFY(pane->isVisible());
    QCOMPARE(pane->LastVisibleLine(), pane->LineCount() - 1);
    QVERIFY(pane->LineCount() > LogStore::kLinesPerBlock);
    QVERIFY(Activate());
    pane->setFocus();
    QTest::keyClick(pane, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(pane, Qt::Key_C, Qt::ControlModifier);
    std::string saved = ReadFile(m_profile->filePath("log.txt").toStdString());
    std::erase(saved, '\r');
    QCOMPARE(QGuiApplication::clipboard()->text(), QString::fromStdString(saved));
  }

  void aHiddenPaneKeepsTheLogForWhenItIsShown() {
    auto w = Window();
    auto* pane = Find<LogView>("Log");
    int yields = 0;
    QString while_hidden;
    QString shown;
    std::string logged;
    w->SetYieldHook([&] {
      if (++yields != 30) return;
      while_hidden = pane->Text();
      Button("ShowLog")->click();
      shown = pane->Text();
      logged = w->LogText();
    });
    Button("Go")->click();
    QVERIFY(!while_hidden.isEmpty());
    QVERIFY(shown.startsWith(while_hidden));
    QVERIFY(!logged.empty());
    std::erase(logged, '\r');
    QCOMPARE(shown, QString::fromStdString(logged));
  }

  void quitWhenIdleEndsAtOnce() {
    auto w = Window();
    Button("Quit")->click();
    QVERIFY(!w->isVisible());
    QCOMPARE(m_dialogs.asked, 0);
  }

  void startsWithTheDefaultTheChooserFinds() {
    QTemporaryDir home;
    const std::filesystem::path root = home.path().toStdString();
    std::filesystem::create_directories(root / "cards");
    std::ofstream(root / "cards" / "ann.vcf", std::ios::binary)
        << "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ann\r\nTEL;TYPE=HOME:0171 930 8890\r\nEND:VCARD\r\n";
    std::filesystem::create_directories(root / "xdg" / "khard");
    std::ofstream(root / "xdg" / "khard" / "khard.conf")
        << "[addressbooks]\n[[mine]]\npath = ~/cards\n";
    MainWindow w(QString(), m_dialogs);
    Environment env = SystemEnvironment();
    env.variable = [&](const char* name) -> std::optional<std::string> {
      if (std::strcmp(name, "HOME") == 0) return root.string();
      if (std::strcmp(name, "XDG_CONFIG_HOME") == 0) return (root / "xdg").string();
      return std::nullopt;
    };
    w.SetEnvironment(std::move(env));
    m_window = &w;
    Find<QCheckBox>("SaveLog")->click();
    Button("Go")->click();
    QCOMPARE(m_dialogs.informed, QStringList{});
    QVERIFY2(
        w.LogText().find("\\cards\\Ann\r\n  Home:         0171 930 8890 --> (020) 7930 8890") !=
            std::string::npos,
        w.LogText().c_str());
    QCOMPARE(Text("Checked"), QStringLiteral("1"));
    m_window = nullptr;
  }

  void profileThatCannotOpenShowsTheMessage() {
    MainWindow w(QStringLiteral("/nonexistent/profile"), m_dialogs);
    m_window = &w;
    Find<QCheckBox>("SaveLog")->click();
    Button("Go")->click();
    QCOMPARE(m_dialogs.informed,
             QStringList{QStringLiteral("Cannot open the contacts: \"/nonexistent/profile\": there "
                                        "is no such file or folder.")});
    QCOMPARE(w.windowTitle(), QStringLiteral("Dialmend - Finished!"));
    QVERIFY(w.LogText().empty());
    m_window = nullptr;
  }
  void enterPressesTheFocusedButtonAndGoFromElsewhere() {
    auto w = Window();
    QVERIFY(Activate());
    Button("About")->setFocus(Qt::TabFocusReason);
    QTest::keyClick(Button("About"), Qt::Key_Return);
    QCOMPARE(w->Controller().State(), RunState::Idle);
    auto* about = w->findChild<AboutDialog*>();
    QVERIFY(about != nullptr && about->isVisible());
    about->close();
    QVERIFY(Activate());
    Find<QCheckBox>("Update")->setFocus(Qt::TabFocusReason);
    QTest::keyClick(Find<QCheckBox>("Update"), Qt::Key_Return);
    QCOMPARE(w->Controller().State(), RunState::Finished);
    Button("Quit")->setFocus(Qt::TabFocusReason);
    QTest::keyClick(Button("Quit"), Qt::Key_Enter);
    QVERIFY(!w->isVisible());
  }

  void altAFiresAbortAloneDuringARun() {
    auto w = Window();
    QVERIFY(Activate());
    int yields = 0;
    QString about_during;
    w->SetYieldHook([&] {
      if (++yields != 5) return;
      about_during = Button("About")->text();
      QTest::keyClick(m_window, Qt::Key_A, Qt::AltModifier);
      // An access key presses its button after a short animation.
      QTRY_COMPARE(m_dialogs.asked, 1);
    });
    Button("Go")->click();
    QCOMPARE(m_dialogs.asked, 1);
    QVERIFY(!about_during.contains(QStringLiteral("&A")));
    QCOMPARE(Button("About")->text(), QStringLiteral("&About"));
    Button("Go")->click();  // reset
    QCOMPARE(Button("About")->text(), QStringLiteral("&About"));
  }

  void theLogPaneIsATabStopOnlyWhileShown() {
    auto w = Window();
    QVERIFY(Activate());
    QCOMPARE(TabStops(Button("About"), 1), QStringList{"LogFile"});
    Button("ShowLog")->click();
    QCOMPARE(TabStops(Button("About"), 2), (QStringList{"Log", "LogFile"}));
    Button("ShowLog")->click();
    QCOMPARE(TabStops(Button("About"), 1), QStringList{"LogFile"});
  }

  void theStyleGroupIsOneTabStopAtTheCheckedButton() {
    auto w = Window();
    QVERIFY(Activate());
    QCOMPARE(TabStops(Button("Go"), 2), (QStringList{"Style0", "cmdOption"}));
    Find<QRadioButton>("Style2")->click();
    QCOMPARE(TabStops(Button("Go"), 2), (QStringList{"Style2", "cmdOption"}));
    QCOMPARE(TabStops(Button("About"), 6).count(QStringLiteral("Style3")), 0);
    QCOMPARE(TabStops(Button("Go"), 1), QStringList{"Style2"});
    QTest::keyClick(Find<QRadioButton>("Style2"), Qt::Key_Down);
    QVERIFY(Find<QRadioButton>("Style3")->isChecked());
    QCOMPARE(w->focusWidget()->objectName(), QStringLiteral("Style3"));
    QCOMPARE(w->Options().style, StyleFromNumber(3));
  }

  void theLogPaneUsesTheSystemFixedWidthFont() {
    auto w = Window();
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    QCOMPARE(Find<LogView>("Log")->font().family(), fixed.family());
  }
  void aRunWithProblemsShowsTheLogAtItsSummary() {
    auto w = Window();
    Button("Go")->click();
    QVERIFY(w->LogText().find("\r\nProblems: 1\r\n") != std::string::npos);
    auto* pane = Find<LogView>("Log");
    QVERIFY(pane->isVisible());
    QCOMPARE(Button("ShowLog")->text(), QStringLiteral("Hide Log"));
    QCOMPARE(w->height(), Px(6000 - 480 + 360));
    QCOMPARE(pane->verticalScrollBar()->value(), pane->verticalScrollBar()->maximum());
    QCOMPARE(pane->LastVisibleLine(), pane->LineCount() - 1);
  }

  void undoIsOfferedOnlyAfterAnUpdateHasFinished() {
    auto w = Window();
    QVERIFY(!UndoOffered());
    Button("Go")->click();
    QCOMPARE(w->Controller().State(), RunState::Finished);
    QVERIFY(!UndoOffered());
    Button("Go")->click();  // reset
    QVERIFY(!Update().empty());
    QVERIFY(UndoOffered());
    QCOMPARE(Button("Undo")->text(), QStringLiteral("U&ndo"));
    // In the place of the hidden Test button: above Quit, clear of the title and Go.
    QCOMPARE(Button("Undo")->geometry(), QRect(Px(3840), Px(120), Px(1100), Px(495)));
    QVERIFY(!Button("Undo")->geometry().intersects(Find<QLabel>("Title")->geometry()));
    Button("Go")->click();  // reset
    QVERIFY(!UndoOffered());
  }

  void undoAsksFirstAndNoLeavesEverythingAsItWas() {
    auto w = Window();
    const std::string record = Update();
    const auto cards = Cards();
    const std::string log = w->LogText();
    Button("Undo")->click();
    QCOMPARE(m_dialogs.undo_questions.size(), 1);
    QCOMPARE(m_dialogs.undo_questions.front().toStdString(),
             ReadUndoRecord(record).Value().started_text);
    QCOMPARE(m_dialogs.asked, 0);
    QCOMPARE(w->Controller().State(), RunState::Finished);
    QCOMPARE(w->LogText(), log);
    QVERIFY(Cards() == cards);
    QVERIFY(!ReadUndoRecord(record).Value().undone);
    QVERIFY(UndoOffered());
  }

  void undoPutsBackEveryCardByteForByteAndSavesItsLog() {
    auto w = DefaultLogWindow();
    const auto before = Cards();
    const std::string record = Update();
    QVERIFY(Cards() != before);
    const std::string started = ReadUndoRecord(record).Value().started_text;
    m_dialogs.undo_answers = {true};
    Button("Undo")->click();
    QVERIFY(Cards() == before);
    const std::string header = "Undo of the update of " + started + "\r\n";
    QVERIFY(w->LogText().find(header) != std::string::npos);
    if (!Find<LogView>("Log")->isVisible()) Button("ShowLog")->click();
    QVERIFY(Find<LogView>("Log")->Text().contains(
        QString::fromStdString(header.substr(0, header.size() - 2))));
    QVERIFY(ReadFile(HomeLog(1)).find("Undo of the update") == std::string::npos);
    QCOMPARE(ReadFile(HomeLog(2)), w->LogText());
    QVERIFY(ReadUndoRecord(record).Value().undone.has_value());
    QVERIFY(!UndoOffered());
  }

  void anAbortedUpdateIsOfferedAndUndoneToo() {
    auto w = Window();
    const auto before = Cards();
    Find<QCheckBox>("Update")->click();
    int yields = 0;
    w->SetYieldHook([&] {
      if (++yields != 20) return;
      m_dialogs.answers = {AbortAnswer::Yes};
      Button("Quit")->click();
    });
    Button("Go")->click();
    w->SetYieldHook({});
    QVERIFY(w->LogText().find("Update aborted - ") != std::string::npos);
    QVERIFY(w->Controller().Counters().updated > 0);
    QVERIFY(UndoOffered());
    m_dialogs.undo_answers = {true};
    Button("Undo")->click();
    QVERIFY(Cards() == before);
  }

  void aSecondUndoRestoresNothing() {
    auto w = Window();
    const std::string record = Update();
    const auto updated = Cards();
    m_dialogs.undo_answers = {true, true};
    Button("Undo")->click();
    const auto restored = Cards();
    QVERIFY(restored != updated);
    // Once undone, the window offers nothing more, even to its access key.
    QVERIFY(!UndoOffered());
    w->Undo_Click();
    QCOMPARE(m_dialogs.undo_questions.size(), 1);
    QVERIFY(Cards() == restored);
  }

  void anUpdateUndoneMeanwhileInATerminalIsNotRestoredAgain() {
    auto w = Window();
    const std::string record = Update();
    const auto updated = Cards();
    QVERIFY(MarkUndone(record, "07/12/26 08:00:01").Ok());
    m_dialogs.undo_answers = {true};
    Button("Undo")->click();
    QVERIFY(Cards() == updated);
    QVERIFY(w->LogText().find("This update was undone on 07/12/26 08:00:01: there is nothing "
                              "to restore.") != std::string::npos);
  }

  void undoIsNeitherShownNorEnabledDuringARun() {
    auto w = Window();
    QVERIFY(Activate());
    Find<QCheckBox>("Update")->click();
    int yields = 0;
    bool offered_during = false;
    w->SetYieldHook([&] {
      ++yields;
      offered_during = offered_during || UndoOffered();
    });
    Button("Go")->click();
    QVERIFY(yields > 0);
    QVERIFY(UndoOffered());
    m_dialogs.undo_answers = {true};
    int undo_yields = 0;
    w->SetYieldHook([&] {
      if (++undo_yields == 3) QTest::keyClick(m_window, Qt::Key_N, Qt::AltModifier);
      offered_during = offered_during || UndoOffered();
    });
    Button("Undo")->click();
    QVERIFY(undo_yields >= 3);
    QVERIFY(!offered_during);
    QCOMPARE(m_dialogs.undo_questions.size(), 1);
  }

  void altNPressesUndoAndNoOtherControlSharesItsKey() {
    auto w = Window();
    Update();
    QVERIFY(Activate());
    QStringList keys;
    for (QAbstractButton* b : w->findChildren<QAbstractButton*>()) {
      const qsizetype at = b->text().indexOf(QLatin1Char('&'));
      if (b->isVisible() && at >= 0) keys << b->text().mid(at + 1, 1).toLower();
    }
    QCOMPARE(keys.count(QStringLiteral("n")), 1);
    QCOMPARE(keys.removeDuplicates(), 0);
    QTest::keyClick(m_window, Qt::Key_N, Qt::AltModifier);
    QTRY_COMPARE(m_dialogs.undo_questions.size(), 1);
  }

  void anAbortedRunShowsTheLogAtItsSummary() {
    auto w = Window();
    Button("ShowLog")->click();
    Button("ShowLog")->click();
    int yields = 0;
    w->SetYieldHook([&] {
      if (++yields == 3) {
        m_dialogs.answers = {AbortAnswer::Yes};
        Button("Quit")->click();
      }
    });
    Button("Go")->click();
    QVERIFY(w->LogText().find(" aborted - ") != std::string::npos);
    QCOMPARE(w->Controller().Counters().problems, 0);
    QVERIFY(Find<LogView>("Log")->isVisible());
    QCOMPARE(Button("ShowLog")->text(), QStringLiteral("Hide Log"));
  }
};

}  // namespace dialmend

int RunMainWindowTests(int argc, char** argv) {
  dialmend::MainWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "main_window_test.moc"
