#include <QCheckBox>
#include <QComboBox>
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
#include <map>
#include <optional>

#include "run/run_summary.h"
#include "tests/fakes/test_folder.h"
#include "tests/ui/drag.h"
#include "tests/ui/fake_dialogs.h"
#include "ui/about_dialog.h"
#include "ui/dialogs.h"
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
  static std::string ReadFile(const QString& path) { return ReadTestFile(path.toStdString()); }
  std::map<std::string, std::string> Cards() {
    std::map<std::string, std::string> cards;
    for (const auto& entry :
         std::filesystem::recursive_directory_iterator(m_profile->filePath("p").toStdString())) {
      if (entry.is_regular_file()) cards[entry.path().string()] = ReadTestFile(entry.path());
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
  // Every control shows what the policy says, at its place, and the window its title.
  void ExpectDrawnAsPolicySays() {
    for (const ControlSpec& spec : MainControls()) {
      const ControlLook look = m_window->Policy().Look(spec.control);
      QWidget* widget = Find(spec.name.data());
      QString shown;
      if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        shown = button->text();
        QVERIFY2(button->isChecked() == look.checked, spec.name.data());
      } else if (auto* line = qobject_cast<QLineEdit*>(widget)) {
        shown = line->text();
        QVERIFY2(line->placeholderText() == Q(look.placeholder), spec.name.data());
      } else if (auto* label = qobject_cast<QLabel*>(widget)) {
        shown = label->text();
      } else if (auto* box = qobject_cast<QComboBox*>(widget)) {
        shown = box->currentText();
      }
      QVERIFY2(shown == Q(look.text), spec.name.data());
      QVERIFY2(widget->toolTip() == Q(look.tip), spec.name.data());
      QVERIFY2(widget->isEnabled() == look.enabled, spec.name.data());
      QVERIFY2(widget->isHidden() != look.visible, spec.name.data());
      if (spec.face == ControlFace::Bold) QVERIFY2(widget->font().bold(), spec.name.data());
      const TwipsRect& at = spec.place;
      const QRect place(Px(at.left), Px(at.top), Px(at.width), Px(at.height));
      QVERIFY2(spec.control == Control::Log || widget->geometry() == place, spec.name.data());
    }
    const WindowLook window = m_window->Policy().Window();
    QCOMPARE(m_window->windowTitle(), Q(window.title));
    QCOMPARE(m_window->height() > Px(MainHeight(false)), window.log_shown);
  }
  static QString Q(const std::string& text) { return QString::fromStdString(text); }

  FakeDialogs m_dialogs;
  std::unique_ptr<QTemporaryDir> m_profile;
  MainWindow* m_window = nullptr;

 private slots:
  void init() { m_dialogs = FakeDialogs(); }

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
      const std::string saved = ReadFile(m_profile->filePath("log.txt"));
      QVERIFY2(saved.find("\r\nUpdate aborted - ") != std::string::npos, strsignal(signal_number));
      QCOMPARE(saved, w->LogText());
      QVERIFY(w->Controller().Counters().updated > 0);
      for (const auto& [name, text] : Cards())
        QVERIFY2(name.find(".dialmend-") == std::string::npos, name.c_str());
    }
  }

  void drawsWhatThePolicySaysAtEveryStep() {
    auto w = Window();
    QVERIFY(Button("Go")->isDefault());
    ExpectDrawnAsPolicySays();
    Find<QCheckBox>("Update")->click();
    bool seen_mid_run = false;
    w->SetYieldHook([&] {
      if (std::exchange(seen_mid_run, true)) return;
      Button("Go")->click();  // pause
      ExpectDrawnAsPolicySays();
      QTimer::singleShot(0, Button("Go"), &QPushButton::click);  // resume
    });
    Button("Go")->click();
    QVERIFY(seen_mid_run);
    // Finished with a problem: the log shows at its summary, and Undo is offered.
    ExpectDrawnAsPolicySays();
    auto* pane = Find<LogView>("Log");
    QVERIFY(pane->isVisible());
    QCOMPARE(w->height(), Px(MainHeight(true)));
    QCOMPARE(pane->verticalScrollBar()->value(), pane->verticalScrollBar()->maximum());
    QCOMPARE(pane->LastVisibleLine(), pane->LineCount() - 1);
    Button("Go")->click();
    ExpectDrawnAsPolicySays();
  }

  void clicksAndTextsReachTheOptions() {
    auto w = Window();
    Find<QRadioButton>("Style2")->click();
    QVERIFY(w->Options().style == NumberStyle::Spaces);
    Find<QCheckBox>("chkReplace")->click();
    Line("txtFind")->setText(QStringLiteral("0485"));
    Line("txtReplace")->setText(QStringLiteral("0845"));
    QVERIFY(w->Options().replace);
    QCOMPARE(w->Options().find, std::string("0485"));
    QCOMPARE(w->Options().replacement, std::string("0845"));
    Find<QCheckBox>("chkReplace")->click();
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

  void theLogFileDialogsChoiceIsTheLogPath() {
    auto w = Window();
    const QString before = Line("LogFile")->text();
    Button("SetFile")->click();
    QCOMPARE(m_dialogs.offered_file, before);
    QCOMPARE(Line("LogFile")->text(), before);
    m_dialogs.chosen_file = QStringLiteral("/tmp/elsewhere.txt");
    Button("SetFile")->click();
    QCOMPARE(Line("LogFile")->text(), QStringLiteral("/tmp/elsewhere.txt"));
    QCOMPARE(w->Policy().Look(Control::LogFile).text, std::string("/tmp/elsewhere.txt"));
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
    WriteTestFile((deep + QStringLiteral("/book/a.vcf")).toStdString(), "BEGIN:VCARD\r\n");
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

  // Enabled text boxes do not look disabled; check boxes are tall enough for their square.
  void controlsLookWhatTheyAre() {
    auto w = Window();
    Find<QCheckBox>("chkReplace")->click();
    for (const char* name : {"txtFind", "txtReplace", "LogFile"}) {
      const QPalette& palette = Line(name)->palette();
      QVERIFY2(palette.color(QPalette::Active, QPalette::Base) !=
                   palette.color(QPalette::Disabled, QPalette::Base),
               name);
    }
    for (const char* name : {"Update", "SaveLog", "chkReplace"}) {
      auto* box = Find<QCheckBox>(name);
      const int square = box->style()->pixelMetric(QStyle::PM_IndicatorHeight, nullptr, box);
      QVERIFY2(box->height() >= square, name);
    }
  }

  // The longest count and every caption fit their boxes in the window's own faces, at one and
  // two times the usual scale.
  void countersShowEveryCountInFull() {
    auto w = Window();
    QStringList captions;
    for (const bool undo : {false, true}) {
      for (const bool update : {false, true}) {
        for (const CounterText& counter : WindowCounters({}, update, undo)) {
          captions << QString::fromUtf8(counter.caption.data(), qsizetype(counter.caption.size()));
        }
      }
    }
    for (const int scale : {1, 2}) {
      const auto fits = [scale](QWidget* widget, const QString& text, int room_twips) {
        QFont font = widget->font();
        font.setPointSizeF(font.pointSizeF() * scale);
        return QFontMetrics(font).horizontalAdvance(text) <= TwipsToPixels(room_twips, 96 * scale);
      };
      for (const char* name : {"Folders", "Checked", "Updated", "Numbers"}) {
        QVERIFY2(fits(Find(name), QStringLiteral("9999999"), SpecOf(Control::Folders).place.width),
                 name);
      }
      for (const QString& caption : captions) {
        QVERIFY2(fits(Find("lblFolders"), caption, SpecOf(Control::FoldersLabel).place.width),
                 qPrintable(caption));
      }
    }
  }

  void choosingABookOrContactsRunsOverTheChoice() {
    auto w = Window();
    auto* book = Find<QComboBox>("Book");
    const int family = book->findText(QStringLiteral("family"));
    book->setCurrentIndex(family);
    emit book->activated(family);
    Button("Go")->click();
    QCOMPARE(w->Controller().Counters().checked, 9);
    Button("Go")->click();  // reset
    m_dialogs.chosen_contacts = std::nullopt;
    Button("SetProfile")->click();
    QCOMPARE(Line("Profile")->text(), m_profile->filePath("p"));
    const QString other = m_profile->filePath("p/family");
    m_dialogs.chosen_contacts = other;
    Button("SetProfile")->click();
    QCOMPARE(m_dialogs.offered_contacts, m_profile->filePath("p"));
    QCOMPARE(Line("Profile")->text(), other);
    QCOMPARE(m_dialogs.informed, QStringList{});
    Button("Go")->click();
    QCOMPARE(w->Controller().Counters().folders, 1);
    // The next window opened without a path reopens on the choice, from the Qt settings.
    MainWindow next(QString(), m_dialogs);
    QCOMPARE(next.findChild<QLineEdit*>(QStringLiteral("Profile"))->text(), other);
  }

  void theLogPaneTakesTheRoomOfAResizedWindow() {
    auto w = Window();
    const QRect go = Button("Go")->geometry();
    const QRect log_file = Line("LogFile")->geometry();
    Button("ShowLog")->click();
    auto* pane = Find<LogView>("Log");
    const QRect least = pane->geometry();
    QCOMPARE(least.bottom(), w->height() - 1);
    w->resize(w->width() + 150, w->height() + 300);
    QCOMPARE(w->size(), QSize(Px(kMainWidth) + 150, Px(MainHeight(true)) + 300));
    QCOMPARE(pane->geometry(), least.adjusted(0, 0, 150, 300));
    QCOMPARE(Button("Go")->geometry(), go);
    QCOMPARE(Line("LogFile")->geometry(), log_file);
    // Hidden, the window is its fixed size again; shown, as the user left it.
    Button("ShowLog")->click();
    QCOMPARE(w->size(), QSize(Px(kMainWidth), Px(MainHeight(false))));
    QCOMPARE(w->minimumSize(), w->maximumSize());
    Button("ShowLog")->click();
    QCOMPARE(pane->geometry(), least.adjusted(0, 0, 150, 300));
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
    // The pane shows the log as lines; the file keeps CR LF.
    QCOMPARE(pane->Text(), QString::fromStdString(w->LogText()).remove(QLatin1Char('\r')));
    QCOMPARE(ReadFile(m_profile->filePath("log.txt")), w->LogText());
    Button("Go")->click();  // reset
    QCOMPARE(pane->Text(), QString());
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
    // Last in reading order, after the custom replacement's row (its boxes disabled here).
    const auto after_replace = [&] { return TabStops(Find<QCheckBox>("chkReplace"), 1); };
    QVERIFY(!after_replace().contains(QStringLiteral("Log")));
    Button("ShowLog")->click();
    QCOMPARE(after_replace(), QStringList{"Log"});
    Button("ShowLog")->click();
    QVERIFY(!after_replace().contains(QStringLiteral("Log")));
  }

  void theStyleGroupIsOneTabStopAtTheCheckedButton() {
    auto w = Window();
    QVERIFY(Activate());
    // In reading order: the style buttons' group beside the buttons' column, row by row.
    QCOMPARE(TabStops(Button("Go"), 4), (QStringList{"Quit", "Style0", "ShowLog", "About"}));
    Find<QRadioButton>("Style2")->click();
    QCOMPARE(TabStops(Button("Go"), 3), (QStringList{"Quit", "Style2", "ShowLog"}));
    QCOMPARE(TabStops(Button("About"), 6).count(QStringLiteral("Style3")), 0);
    QCOMPARE(TabStops(Button("Quit"), 1), QStringList{"Style2"});
    QTest::keyClick(Find<QRadioButton>("Style2"), Qt::Key_Down);
    QVERIFY(Find<QRadioButton>("Style3")->isChecked());
    QCOMPARE(w->focusWidget()->objectName(), QStringLiteral("Style3"));
    QCOMPARE(w->Options().style, StyleFromNumber(3));
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
    QTRY_COMPARE(m_dialogs.yes_no_questions.size(), 1);
  }
};

}  // namespace dialmend

int RunMainWindowTests(int argc, char** argv) {
  dialmend::MainWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "main_window_test.moc"
