#include "ui/log_view.h"

#include <QClipboard>
#include <QDir>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QScopeGuard>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtTest>
#include <filesystem>
#include <string>

#include "tests/ui/drag.h"
#include "ui/log_store.h"

namespace dialmend {

class LogViewTest : public QObject {
  Q_OBJECT

 private:
  // A shown view of a few lines' height, in the font the window gives it.
  static std::unique_ptr<LogView> View() {
    auto view = std::make_unique<LogView>();
    view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    view->resize(300, 120);
    view->show();
    return view;
  }
  // Lines "line 0" ... as logged (CR LF), `count` of them.
  static std::string Numbered(int count) {
    std::string text;
    for (int i = 0; i < count; ++i) text += "line " + std::to_string(i) + "\r\n";
    return text;
  }
  // Whether this process holds open a file whose path starts with `folder`.
  static bool HoldsFileIn(const QString& folder) {
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
      std::error_code error;
      const std::string target = std::filesystem::read_symlink(fd.path(), error).string();
      if (!error && target.starts_with(folder.toStdString() + "/")) return true;
    }
    return false;
  }
  // The middle of a line's row, `x` pixels into the viewport.
  static QPoint At(const LogView& view, int line, int x) {
    const int height = view.fontMetrics().lineSpacing();
    return QPoint(x, (line - view.FirstVisibleLine()) * height + height / 2);
  }

 private slots:
  void appendsWithoutAddingLineEnds() {
    auto view = View();
    view->Append("abc");
    view->Append("def");
    QCOMPARE(view->Text(), QStringLiteral("abcdef"));
    QCOMPARE(view->LineCount(), 1);
  }

  void showsLinesWithoutTheirCarriageReturns() {
    auto view = View();
    view->Append("one\r\ntwo\r");
    view->Append("\nthree");
    QCOMPARE(view->Text(), QStringLiteral("one\ntwo\nthree"));
    QCOMPARE(view->LineCount(), 3);
  }

  void followsTheEndAsTextArrives() {
    auto view = View();
    for (int i = 0; i < 200; ++i) view->Append("line " + std::to_string(i) + "\r\n");
    QCOMPARE(view->LineCount(), 201);
    QVERIFY(view->FirstVisibleLine() > 150);
    QCOMPARE(view->LastVisibleLine(), view->LineCount() - 1);
    view->verticalScrollBar()->setValue(0);
    QCOMPARE(view->FirstVisibleLine(), 0);
    view->ScrollToEnd();
    QCOMPARE(view->LastVisibleLine(), view->LineCount() - 1);
  }

  void scrollsSidewaysAsFarAsTheLongestLine() {
    auto view = View();
    view->Append("short\n");
    QCOMPARE(view->horizontalScrollBar()->maximum(), 0);
    view->Append(std::string(200, 'x') + "\nshort again\n");
    const int char_width = view->fontMetrics().horizontalAdvance(QLatin1Char('x'));
    QVERIFY(view->horizontalScrollBar()->maximum() + view->viewport()->width() >= 200 * char_width);
    view->Clear();
    QCOMPARE(view->horizontalScrollBar()->maximum(), 0);
    QCOMPARE(view->LineCount(), 0);
    QCOMPARE(view->Text(), QString());
  }

  void dragSelectsWholeCharactersAndCtrlCCopiesThem() {
    auto view = View();
    view->Append("Zoë Ångström\r\n  Home: 0171 930 8890\r\n");
    Drag(view->viewport(), At(*view, 0, 0), At(*view, 1, 1000));
    QCOMPARE(view->SelectedText(), QStringLiteral("Zoë Ångström\n  Home: 0171 930 8890"));
    QTest::keyClick(view.get(), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), view->SelectedText());
  }

  void aSelectionStaysPutAsTextArrives() {
    auto view = View();
    view->Append("first line\nsecond");
    const int char_width = view->fontMetrics().horizontalAdvance(QLatin1Char('x'));
    Drag(view->viewport(), At(*view, 0, 4 + 6 * char_width), At(*view, 0, 4 + 10 * char_width));
    QCOMPARE(view->SelectedText(), QStringLiteral("line"));
    view->Append(" half\nthird\n");
    QCOMPARE(view->SelectedText(), QStringLiteral("line"));
  }

  void linesAcrossBlockBoundariesComeBackWhole() {
    LogStore store;
    const int count = 3 * LogStore::kLinesPerBlock + 5;
    const std::string text = Numbered(count);
    // Pieces that end anywhere, between a CR and its LF too.
    for (std::size_t at = 0; at < text.size(); at += 7) store.Append(text.substr(at, 7));
    QCOMPARE(store.LineCount(), count + 1);
    for (int i = 0; i < count; ++i) QCOMPARE(store.Line(i), "line " + std::to_string(i));
    QCOMPARE(store.Line(count), std::string());
    QCOMPARE(store.Text(), text);
    store.Append("tail");
    QCOMPARE(store.Line(count), std::string("tail"));
    store.Clear();
    QCOMPARE(store.LineCount(), 0);
    store.Append("again\r\n");
    QCOMPARE(store.Line(0), std::string("again"));
    QCOMPARE(store.Text(), std::string("again\r\n"));
  }

  void multiByteCharactersAtABlockEdgeStayWhole() {
    LogStore store;
    const int edge = LogStore::kLinesPerBlock;
    store.Append(Numbered(edge - 1) + "Zo\xC3");
    store.Append("\xAB\r\n\xC3\x85ngstr\xC3\xB6m");
    QCOMPARE(store.Line(edge - 1), std::string("Zo\xC3\xAB"));
    QCOMPARE(store.Line(edge), std::string("\xC3\x85ngstr\xC3\xB6m"));
    QCOMPARE(store.Widest(), std::size_t{8});
    QCOMPARE(store.Shown(edge - 1, 2, edge, 2), std::string("\xC3\xAB\n\xC3\x85"));
  }

  void aSelectionSpanningBlocksCopiesEveryLineBetween() {
    auto view = View();
    const int count = 2 * LogStore::kLinesPerBlock + 10;
    view->Append(Numbered(count));
    view->verticalScrollBar()->setValue(0);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, At(*view, 1, 4));
    view->ScrollToEnd();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ShiftModifier,
                      At(*view, count - 1, 1000));
    std::string expected = Numbered(count).substr(std::string("line 0\r\n").size());
    std::erase(expected, '\r');
    expected.pop_back();
    QCOMPARE(view->SelectedText(), QString::fromStdString(expected));
    QTest::keyClick(view.get(), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), QString::fromStdString(expected));
  }

  void keepsItsTextInAFileThatLeavesNothingBehind() {
    QTemporaryDir folder;
    const bool was_set = qEnvironmentVariableIsSet("TMPDIR");
    const QByteArray saved = qgetenv("TMPDIR");
    // Put back even when a check fails, for the tests that follow.
    const auto restore = qScopeGuard([&] {
      if (was_set) {
        qputenv("TMPDIR", saved);
      } else {
        qunsetenv("TMPDIR");
      }
    });
    qputenv("TMPDIR", folder.path().toUtf8());
    {
      auto view = View();
      view->Append(Numbered(10));
      QVERIFY(HoldsFileIn(folder.path()));
      QVERIFY(QDir(folder.path()).isEmpty());
      QCOMPARE(view->LineCount(), 11);
    }
    QVERIFY(!HoldsFileIn(folder.path()));
  }

  void ctrlASelectsEverything() {
    auto view = View();
    view->Append("a\r\nb\r\n");
    QTest::keyClick(view.get(), Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(view->SelectedText(), view->Text());
    view->Clear();
    QCOMPARE(view->SelectedText(), QString());
  }
};

}  // namespace dialmend

int RunLogViewTests(int argc, char** argv) {
  dialmend::LogViewTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "log_view_test.moc"
