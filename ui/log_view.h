#pragma once

#include <QAbstractScrollArea>
#include <QString>
#include <string>
#include <string_view>

#include "run/log_pane_model.h"

namespace dialmend {

// The log pane: a read-only view of an append-only text in the system's fixed-width font. It
// keeps the text as logged (UTF-8) in a temporary file, not in memory, and reads back and lays
// out only the lines on screen, so a long run costs it a write and a scan of each appended block.
// The mouse selects, Ctrl+C copies and Ctrl+A selects all.
class LogView : public QAbstractScrollArea {
  Q_OBJECT

 public:
  explicit LogView(QWidget* parent = nullptr);

  // Adds `text` at the very end; the view shows it without CR (lines end at LF) and adds no line
  // end. The view then shows the end, as each append leaves it there.
  void Append(std::string_view text);
  // Empties the view and its selection.
  void Clear();
  // Brings the last line into view, at the bottom and the left.
  void ScrollToEnd();

  // The whole text as shown (LF line ends).
  [[nodiscard]] QString Text() const;
  // The whole text as appended (CR kept), read back from the file.
  [[nodiscard]] std::string Logged() const { return m_model.Logged(); }
  // The selected text, empty when nothing is selected.
  [[nodiscard]] QString SelectedText() const;
  // Lines, counting the last even when it has no LF yet; 0 when empty.
  [[nodiscard]] int LineCount() const;
  // The first and last lines the viewport shows, whole or in part.
  [[nodiscard]] int FirstVisibleLine() const;
  [[nodiscard]] int LastVisibleLine() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void changeEvent(QEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  using Spot = LogPaneModel::Spot;

  [[nodiscard]] QString LineText(int index) const;
  [[nodiscard]] int LineHeight() const;
  [[nodiscard]] Spot SpotAt(QPoint point) const;
  // Rows the viewport shows whole.
  [[nodiscard]] int WholeRows() const;
  void UpdateScrollRanges();
  void CopySelection() const;
  void TellProblem();

  LogPaneModel m_model;
};

}  // namespace dialmend
