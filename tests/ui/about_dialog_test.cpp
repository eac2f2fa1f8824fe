#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdlib>

#include "tests/ui/fake_dialogs.h"
#include "ui/about_dialog.h"
#include "ui/main_window.h"
#include "ui/system_info.h"

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

  // Runs the System Info button with PATH set to `path` only.
  QStringList SysInfoWithPath(const QString& path) {
    FakeDialogs dialogs;
    MainWindow window(QStringLiteral("/nonexistent"), dialogs);
    const QByteArray saved = qgetenv("PATH");
    qputenv("PATH", path.toLocal8Bit());
    OpenAbout(window)->findChild<QPushButton*>(QStringLiteral("cmdSysInfo"))->click();
    qputenv("PATH", saved);
    return dialogs.informed;
  }

  static void Script(const QString& path, const QByteArray& text) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }

  FakeDialogs m_dialogs;

 private slots:
  void showsTheProgramsTextsAndVersion() {
    MainWindow window(QStringLiteral("/nonexistent"), m_dialogs);
    QWidget* about = OpenAbout(window);
    QVERIFY(about != nullptr);
    QCOMPARE(about->windowTitle(), QStringLiteral("About Dialmend"));
    QCOMPARE(Label(about, "lblTitle"), QStringLiteral("Dialmend"));
    QCOMPARE(Label(about, "lblVersion"), QStringLiteral("Version 1.4.17"));
    const QString description = Label(about, "lblDescription");
    QVERIFY(description.contains(QStringLiteral("address book")));
    QVERIFY(!description.contains(QStringLiteral("Outlook")));
    QVERIFY(description.contains(QStringLiteral("synchronisation")));
    QVERIFY(description.contains(QStringLiteral("thoroughly tested")));
    QVERIFY(description.contains(QStringLiteral("22 April 2000.")));
    QVERIFY(Label(about, "lblDisclaimer").startsWith(QStringLiteral("Warning: ")));
    QCOMPARE(Label(about, "Label1"), QStringLiteral("Copyright (C) 2026 the Dialmend developers"));
    QVERIFY(!about->isModal());
  }

  void theIconLeavesItsTextClearAndTheTextFits() {
    MainWindow window(QStringLiteral("/nonexistent"), m_dialogs);
    QWidget* about = OpenAbout(window);
    const auto* icon = about->findChild<QLabel*>(QStringLiteral("Image1"));
    const auto* description = about->findChild<QLabel*>(QStringLiteral("lblDescription"));
    QVERIFY(icon->geometry().bottom() < description->geometry().top());
    QVERIFY(description->heightForWidth(description->width()) <= description->height());
    const auto* line = about->findChild<QWidget*>(QStringLiteral("Line1"));
    QVERIFY(description->geometry().bottom() < line->geometry().top());
  }

  void theWarningSaysHowToUndoAnUpdateAndFits() {
    MainWindow window(QStringLiteral("/nonexistent"), m_dialogs);
    QWidget* about = OpenAbout(window);
    const auto* warning = about->findChild<QLabel*>(QStringLiteral("lblDisclaimer"));
    QVERIFY(warning->text().contains(QStringLiteral("Every update can be undone")));
    QVERIFY(warning->text().contains(QStringLiteral("press Undo in this window")));
    QVERIFY(warning->text().contains(QStringLiteral("dialmend-run --undo")));
    QVERIFY(warning->heightForWidth(warning->width()) <= warning->height());
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

  void sysInfoStartsTheFirstProgramFound() {
    QTemporaryDir bin;
    const QString marker = bin.filePath(QStringLiteral("started"));
    Script(bin.filePath(QStringLiteral("hardinfo")),
           "#!/bin/sh\n/usr/bin/touch '" + marker.toLocal8Bit() + "'\n");
    QCOMPARE(SysInfoWithPath(bin.path()), QStringList());
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(marker), 5000);
  }

  void sysInfoWithNothingToStartSaysSo() {
    QTemporaryDir empty;
    QCOMPARE(SysInfoWithPath(empty.path()),
             QStringList{QString::fromLatin1(kSysInfoUnavailable.data())});
  }

  void sysInfoThatFailsToStartSaysSo() {
    QTemporaryDir bin;
    Script(bin.filePath(QStringLiteral("kinfocenter")), "#!/nonexistent/interpreter\n");
    QCOMPARE(SysInfoWithPath(bin.path()),
             QStringList{QString::fromLatin1(kSysInfoUnavailable.data())});
  }

  void registryValuesDecodeByTheirType_data() {
    QTest::addColumn<uint>("type");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("expected");
    QTest::newRow("text with its NUL") << 1u << QByteArray("C:\\Tools\0", 9) << "C:\\Tools";
    QTest::newRow("text without NUL") << 1u << QByteArray("C:\\Tools") << "C:\\Tools";
    QTest::newRow("only one NUL dropped")
        << 1u << QByteArray("ab\0\0", 4) << QString::fromLatin1("ab\0", 3);
    QTest::newRow("number") << 4u << QByteArray("\x2a\x00\x00\x00", 4) << "42";
    QTest::newRow("negative number") << 4u << QByteArray("\xff\xff\xff\xff", 4) << "-1";
    QTest::newRow("other type keeps the old value") << 3u << QByteArray("xyz") << "old";
  }

  void registryValuesDecodeByTheirType() {
    QFETCH(uint, type);
    QFETCH(QByteArray, data);
    QFETCH(QString, expected);
    std::string value = "old";
    DecodeKeyValue(type, std::string_view(data.constData(), static_cast<std::size_t>(data.size())),
                   value);
    QCOMPARE(QString::fromLatin1(value.data(), static_cast<qsizetype>(value.size())), expected);
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
