#include "ui/log_view.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTextLayout>
#include <algorithm>
#include <string>
#include <utility>

namespace dialmend {
namespace {

// Room between the frame and the text, as a text box leaves it.
constexpr int kMargin = 4;

}  // namespace

LogView::LogView(QWidget* parent) : QAbstractScrollArea(parent) {
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setCursor(Qt::IBeamCursor);
  UpdateScrollRanges();
}

void LogView::Append(std::string_view text) {
  if (text.empty()) return;
  m_model.Append(text);
  TellProblem();
  UpdateScrollRanges();
  verticalScrollBar()->setValue(verticalScrollBar()->maximum());
  viewport()->update();
}

void LogView::Clear() {
  m_model.Clear();
  TellProblem();
  UpdateScrollRanges();
  viewport()->update();
}

void LogView::ScrollToEnd() {
  verticalScrollBar()->setValue(verticalScrollBar()->maximum());
  horizontalScrollBar()->setValue(0);
}

QString LogView::Text() const {
  const std::string text = m_model.Shown();
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString LogView::SelectedText() const {
  const std::string text = m_model.Selected();
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

int LogView::LineCount() const {
  return m_model.LineCount();
}

int LogView::FirstVisibleLine() const {
  return verticalScrollBar()->value();
}

int LogView::LastVisibleLine() const {
  // A row shown in part counts.
  const int rows = (viewport()->height() + LineHeight() - 1) / LineHeight();
  return LastShownLine(FirstVisibleLine(), rows, LineCount());
}

QString LogView::LineText(int index) const {
  const std::string line = m_model.Line(index);
  return QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
}

int LogView::LineHeight() const {
  return std::max(1, fontMetrics().lineSpacing());
}

LogView::Spot LogView::SpotAt(QPoint point) const {
  if (LineCount() == 0) return Spot{};
  const int line = std::clamp(FirstVisibleLine() + point.y() / LineHeight(), 0, LineCount() - 1);
  const QString text = LineText(line);
  QTextLayout layout(text, font());
  layout.beginLayout();
  QTextLine row = layout.createLine();
  layout.endLayout();
  // The character boundary nearest the point, as a text box places its cursor.
  const int x = point.x() + horizontalScrollBar()->value() - kMargin;
  const int chars = row.xToCursor(x, QTextLine::CursorBetweenCharacters);
  return Spot{line, static_cast<int>(text.left(chars).toUtf8().size())};
}

int LogView::WholeRows() const {
  return std::max(1, viewport()->height() / LineHeight());
}

void LogView::UpdateScrollRanges() {
  const int shown = WholeRows();
  QScrollBar* vertical = verticalScrollBar();
  vertical->setRange(0, LastFirstLine(shown, LineCount()));
  vertical->setPageStep(shown);
  vertical->setSingleStep(1);
  const int char_width = fontMetrics().horizontalAdvance(QLatin1Char('M'));
  const int text_width =
      static_cast<int>(std::min<std::size_t>(m_model.Widest(), 1 << 20)) * char_width;
  QScrollBar* horizontal = horizontalScrollBar();
  horizontal->setRange(0, std::max(0, text_width + 2 * kMargin - viewport()->width()));
  horizontal->setPageStep(viewport()->width());
  horizontal->setSingleStep(char_width);
}

void LogView::CopySelection() const {
  const QString selected = SelectedText();
  if (!selected.isEmpty()) QGuiApplication::clipboard()->setText(selected);
}

void LogView::TellProblem() {
  // The text is still whole (in memory); only the memory it costs is worth a line.
  const std::string problem = m_model.TakeProblem();
  if (!problem.empty()) qWarning("%s", problem.c_str());
}

void LogView::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  painter.setFont(font());
  if (LineCount() == 0) return;
  const QFontMetrics metrics = fontMetrics();
  const int height = LineHeight();
  const int x = kMargin - horizontalScrollBar()->value();
  const QPalette& colours = palette();
  int y = 0;
  for (int line = FirstVisibleLine(); line <= LastVisibleLine(); ++line, y += height) {
    const std::string bytes = m_model.Line(line);
    const QString text = QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
    const QRect row(0, y, viewport()->width(), height);
    painter.setPen(colours.color(QPalette::Text));
    painter.drawText(QPoint(x, y + metrics.ascent()), text);
    const std::optional<LogPaneModel::LinePart> part = m_model.SelectedPart(line);
    if (!part) continue;
    const auto advance = [&](int byte) {
      return metrics.horizontalAdvance(QString::fromUtf8(bytes.data(), byte));
    };
    const int left = advance(part->begin);
    // A selection that goes on past this line covers its end as well.
    const int right = advance(part->end) + (part->past_end ? metrics.horizontalAdvance(' ') : 0);
    const QRect selected(x + left, y, right - left, height);
    painter.fillRect(selected, colours.brush(QPalette::Highlight));
    painter.save();
    painter.setClipRect(selected.intersected(row));
    painter.setPen(colours.color(QPalette::HighlightedText));
    painter.drawText(QPoint(x, y + metrics.ascent()), text);
    painter.restore();
  }
}

void LogView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  const bool at_end = verticalScrollBar()->value() == verticalScrollBar()->maximum();
  UpdateScrollRanges();
  if (at_end) verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void LogView::keyPressEvent(QKeyEvent* event) {
  if (event == QKeySequence::Copy) {
    CopySelection();
  } else if (event == QKeySequence::SelectAll) {
    m_model.SelectAll();
    viewport()->update();
  } else if (event == QKeySequence::MoveToStartOfDocument) {
    verticalScrollBar()->setValue(0);
  } else if (event == QKeySequence::MoveToEndOfDocument) {
    ScrollToEnd();
  } else {
    QAbstractScrollArea::keyPressEvent(event);
  }
}

void LogView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QAbstractScrollArea::mousePressEvent(event);
    return;
  }
  m_model.Press(SpotAt(event->position().toPoint()),
                event->modifiers().testFlag(Qt::ShiftModifier));
  viewport()->update();
}

void LogView::mouseMoveEvent(QMouseEvent* event) {
  if (!(event->buttons() & Qt::LeftButton)) return;
  m_model.DragTo(SpotAt(event->position().toPoint()));
  viewport()->update();
}

void LogView::changeEvent(QEvent* event) {
  QAbstractScrollArea::changeEvent(event);
  if (event->type() == QEvent::FontChange) UpdateScrollRanges();
}

void LogView::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  QAction* copy = menu.addAction(QStringLiteral("&Copy"), this, [this] { CopySelection(); });
  copy->setEnabled(m_model.HasSelection());
  menu.addAction(QStringLiteral("Select &All"), this, [this] {
    m_model.SelectAll();
    viewport()->update();
  });
  menu.exec(event->globalPos());
}

}  // namespace dialmend
