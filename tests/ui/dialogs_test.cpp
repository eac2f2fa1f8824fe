#include <QFileDialog>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "ui/dialogs.h"

namespace dialmend {

// The program's own file dialog, with its message boxes recorded rather than shown.
class RecordingDialogs : public QtDialogs {
 public:
  QStringList informed;
  void Inform(QWidget*, const QString& text) override { informed << text; }
};

class DialogsTest : public QObject {
  Q_OBJECT

 private slots:
  void theLogFileDialogRefusesAFolderThatDoesNotExist() {
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("missing/log.txt"));
    const QString good = dir.filePath(QStringLiteral("log.txt"));
    // Each time the dialog opens, type the next answer into it and accept.
    QStringList answers{missing, good};
    QStringList offered;
    QTimer typist;
    connect(&typist, &QTimer::timeout, this, [&] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr || answers.isEmpty()) return;
      offered << dialog->selectedFiles().value(0);
      dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(answers.takeFirst());
      static_cast<QDialog*>(dialog)->accept();
    });
    typist.start(10);
    RecordingDialogs dialogs;
    const std::optional<QString> chosen = dialogs.ChooseLogFile(nullptr, good);
    QCOMPARE(chosen, std::optional<QString>(good));
    QCOMPARE(dialogs.informed.size(), 1);
    QVERIFY(dialogs.informed.front().contains(QStringLiteral("does not exist")));
    QVERIFY(dialogs.informed.front().contains(QDir::toNativeSeparators(missing)));
    QCOMPARE(offered.size(), 2);
  }
};

}  // namespace dialmend

int RunDialogsTests(int argc, char** argv) {
  dialmend::DialogsTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "dialogs_test.moc"
