#include "ui/log_view.h"

#include <QClipboard>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QScrollBar>
#include <QtTest>
#include <string>

#include "tests/ui/drag.h"

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
  // The middle of a line's row, `x` pixels into the viewport.
  static QPoint At(const LogView& view, int line, int x) {
    const int height = view.fontMetrics().lineSpacing();
    return QPoint(x, (line - view.FirstVisibleLine()) * height + height / 2);
  }

 private slots:
  void followsTheEndAsTextArrives() {
    auto view = View();
    for (int i = 0; i < 200; ++i) view->Append("line " + std::to_string(i) + "\r\n");
    QCOMPARE(view->LineCount(), 201);
    QVERIFY(view->FirstVisibleLine() > 150);
    QCOMPARE(view->LastVisibleLine(), view->LineCount() - 1);
    view->verticalScrollBar()->setValue(0);
    QCOMPARE(view->FirstVisibleLine(), 0);
    // A smaller window leaves a reader where they were, and keeps a view that follows the end
    // at the end.
    view->resize(300, 90);
    QCOMPARE(view->FirstVisibleLine(), 0);
    view->ScrollToEnd();
    QCOMPARE(view->LastVisibleLine(), view->LineCount() - 1);
    view->resize(300, 60);
    QCOMPARE(view->LastVisibleLine(), view->LineCount() - 1);
  }

  void paintsEveryVisibleLineTheLastOneToo() {
    auto view = View();
    view->Append("Summary:\r\nFolders processed: 6\r\nProblems: 1");
    const QImage shot = view->viewport()->grab().toImage();
    const int height = view->fontMetrics().lineSpacing();
    for (int line = view->FirstVisibleLine(); line <= view->LastVisibleLine(); ++line) {
      const int top = (line - view->FirstVisibleLine()) * height;
      bool inked = false;
      for (int y = top; y < top + height && !inked; ++y) {
        for (int x = 0; x < shot.width() && !inked; ++x)
          inked = shot.pixel(x, y) != shot.pixel(0, 0);
      }
      QVERIFY2(inked, qPrintable(QStringLiteral("line %1 is blank").arg(line)));
    }
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

  void dragSelectsWholeCharactersCtrlCCopiesThemAndCtrlATakesAll() {
    auto view = View();
    view->Append("Zoë Ångström\r\n  Home: 0171 930 8890\r\nmore\r\n");
    Drag(view->viewport(), At(*view, 0, 0), At(*view, 1, 1000));
    QCOMPARE(view->SelectedText(), QStringLiteral("Zoë Ångström\n  Home: 0171 930 8890"));
    QTest::keyClick(view.get(), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), view->SelectedText());
    QTest::keyClick(view.get(), Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(view->SelectedText(), view->Text());
  }
};

}  // namespace dialmend

int RunLogViewTests(int argc, char** argv) {
  dialmend::LogViewTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "log_view_test.moc"
