#include <QCheckBox>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <deque>

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

  void theYesNoQuestionIsAnsweredNoByEscapeAndEnter() {
    QStringList texts;
    std::deque<Qt::Key> keys{Qt::Key_Escape, Qt::Key_Return, Qt::Key_Y};
    QTimer user;
    connect(&user, &QTimer::timeout, this, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr || keys.empty()) return;
      QCOMPARE(box->windowTitle(), QStringLiteral("Dialmend"));
      QCOMPARE(box->icon(), QMessageBox::Question);
      QCOMPARE(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
      QCOMPARE(box->defaultButton(), box->button(QMessageBox::No));
      texts << box->text();
      QTest::keyClick(box, keys.front());
      keys.pop_front();
    });
    user.start(10);
    QtDialogs dialogs;
    const QString question = QStringLiteral("Undo?\n\nAre you sure?");
    QVERIFY(!dialogs.AskYesNo(nullptr, question));
    QVERIFY(!dialogs.AskYesNo(nullptr, question));
    QVERIFY(dialogs.AskYesNo(nullptr, question));
    QCOMPARE(texts, QStringList(3, question));
  }

  // Picks `key` in the menu "..." opens, then types `answer` into the dialog that opens and
  // accepts.
  static std::optional<QString> ChooseContactsBy(Qt::Key key, const QString& answer,
                                                 const QString& current) {
    QWidget window;
    auto* button = new QPushButton(QStringLiteral("..."), &window);
    window.show();
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, &window, [&] {
      if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
        QTest::keyClick(menu, key);
      } else if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
        dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(answer);
        static_cast<QDialog*>(dialog)->accept();
      } else if (auto* input = qobject_cast<QInputDialog*>(QApplication::activeModalWidget())) {
        input->setTextValue(answer);
        input->accept();
      }
    });
    user.start(10);
    RecordingDialogs dialogs;
    return dialogs.ChooseContacts(button, current);
  }

  // A folder or a .vcf file picked, a server address typed, or a desktop's address books.
  void theContactsButtonOffersEveryKindOfContacts() {
    QTemporaryDir dir;
    const QString book = dir.filePath(QStringLiteral("book"));
    QVERIFY(QDir().mkpath(book));
    const QString file = dir.filePath(QStringLiteral("all.vcf"));
    QVERIFY(QFile(file).open(QIODevice::WriteOnly));
    const QString url = QStringLiteral("https://ann@dav.example.org/dav/");
    const struct {
      Qt::Key key;
      QString answer;
      std::optional<QString> chosen;
    } rows[] = {
        {Qt::Key_F, book, book},
        {Qt::Key_I, file, file},
        {Qt::Key_Escape, file, std::nullopt},
        {Qt::Key_T, file, QStringLiteral("thunderbird:")},
        {Qt::Key_K, file, QStringLiteral("kde:")},
        {Qt::Key_S, QStringLiteral("  ") + url, url},
        {Qt::Key_G, {}, QStringLiteral("eds:")},
    };
    for (const auto& row : rows)
      QCOMPARE(ChooseContactsBy(row.key, row.answer, dir.path()), row.chosen);
  }

  void thePasswordDialogHidesWhatIsTypedAndTellsWhetherToRememberIt() {
    for (const bool tick : {false, true}) {
      QTimer user;
      bool hidden = false;
      QObject::connect(&user, &QTimer::timeout, this, [&] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) return;
        auto* line = dialog->findChild<QLineEdit*>(QStringLiteral("Password"));
        hidden = line->echoMode() == QLineEdit::Password;
        line->setText(QStringLiteral("pw 1"));
        dialog->findChild<QCheckBox*>(QStringLiteral("Remember"))->setChecked(tick);
        dialog->accept();
      });
      user.start(10);
      RecordingDialogs dialogs;
      bool remember = !tick;
      const std::optional<QString> given =
          dialogs.AskPassword(nullptr, QStringLiteral("Password for ann at https://h: "), remember);
      QCOMPARE(given, std::optional<QString>(QStringLiteral("pw 1")));
      QVERIFY(hidden);
      QCOMPARE(remember, tick);
    }
  }
};

}  // namespace dialmend

int RunDialogsTests(int argc, char** argv) {
  dialmend::DialogsTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "dialogs_test.moc"
