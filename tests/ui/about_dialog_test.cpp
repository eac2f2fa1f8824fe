#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QtTest>

#include "platform/system_info.h"
#include "tests/ui/fake_dialogs.h"
#include "ui/about_dialog.h"
#include "ui/main_window.h"

namespace dialmend {

class AboutTest : public QObject {
  Q_OBJECT

 private:
  static QWidget* OpenAbout(MainWindow& window) {
    window.About_Click();
    return window.findChild<QWidget*>(QStringLiteral("frmAbout"));
  }
  static QString Label(QWidget* dialog, const char* name) {
    return dialog->findChild<QLabel*>(QString::fromLatin1(name))->text();
  }

  FakeDialogs m_dialogs;

 private slots:
  void showsTheProgramsTextsAndVersionClearOfTheIcon() {
    MainWindow window(QStringLiteral("/nonexistent"), m_dialogs);
    QWidget* about = OpenAbout(window);
    QVERIFY(about != nullptr);
    QCOMPARE(about->windowTitle(), QStringLiteral("About Dialmend"));
    QCOMPARE(Label(about, "lblTitle"), QStringLiteral("Dialmend"));
    QCOMPARE(Label(about, "lblVersion"), QStringLiteral("Version 1.4.17"));
    const QString description = Label(about, "lblDescription");
    QVERIFY(description.contains(QStringLiteral("address book")));
    QVERIFY(!description.contains(QStringLiteral("Outlook")));
    QVERIFY(description.contains(QStringLiteral("22 April 2000.")));
    QCOMPARE(Label(about, "Rights"), QStringLiteral("Copyright (C) 2026 the Dialmend developers"));
    QVERIFY(!about->isModal());
    const auto* warning = about->findChild<QLabel*>(QStringLiteral("lblDisclaimer"));
    QVERIFY(warning->text().startsWith(QStringLiteral("Warning: ")));
    QVERIFY(warning->text().contains(QStringLiteral("Every update can be undone")));
    QVERIFY(warning->text().contains(QStringLiteral("press Undo in this window")));
    QVERIFY(warning->text().contains(QStringLiteral("dialmend-run --undo")));
    // The icon leaves the texts clear, and each text fits its label.
    const auto* icon = about->findChild<QLabel*>(QStringLiteral("Icon"));
    const auto* text = about->findChild<QLabel*>(QStringLiteral("lblDescription"));
    QVERIFY(icon->geometry().bottom() < text->geometry().top());
    QVERIFY(text->geometry().bottom() <
            about->findChild<QWidget*>(QStringLiteral("Separator"))->geometry().top());
    for (const QLabel* label : {text, warning})
      QVERIFY(label->heightForWidth(label->width()) <= label->height());
  }

  void opensOneAtATimeAndAnewAfterClosing() {
    MainWindow window(QStringLiteral("/nonexistent"), m_dialogs);
    QPointer<QWidget> first = OpenAbout(window);
    window.About_Click();
    QCOMPARE(window.findChildren<AboutDialog*>().size(), 1);
    QTest::keyClick(first, Qt::Key_Escape);
    QTRY_VERIFY(first.isNull());
    QPointer<QWidget> second = OpenAbout(window);
    QVERIFY(!second.isNull());
    QTest::keyClick(second, Qt::Key_Return);
    QTRY_VERIFY(second.isNull());
    QCOMPARE(window.findChildren<AboutDialog*>().size(), 0);
  }

  void sysInfoThatStartsNothingSaysSo() {
    FakeDialogs dialogs;
    MainWindow window(QStringLiteral("/nonexistent"), dialogs);
    const QByteArray saved = qgetenv("PATH");
    qputenv("PATH", "/nonexistent");
    OpenAbout(window)->findChild<QPushButton*>(QStringLiteral("cmdSysInfo"))->click();
    qputenv("PATH", saved);
    QCOMPARE(dialogs.informed, QStringList{QString::fromUtf8(kSysInfoUnavailable.data())});
    // It says what was looked for, so the user knows what to install.
    QVERIFY(dialogs.informed.value(0).contains(QStringLiteral("kinfocenter")));
  }

  void formatCheckShowsItsTwoTexts() {
    FakeDialogs dialogs;
    MainWindow window(QStringLiteral("/nonexistent"), dialogs);
    window.cmdTest_Click();
    QCOMPARE(dialogs.informed.size(), 2);
    QVERIFY(dialogs.informed[0].startsWith(QStringLiteral("Check general format handling")));
    QVERIFY(dialogs.informed[1].startsWith(QStringLiteral("Check international format handling")));
    QVERIFY(!window.Options().replace);
  }
};

}  // namespace dialmend

int RunAboutTests(int argc, char** argv) {
  dialmend::AboutTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "about_dialog_test.moc"
