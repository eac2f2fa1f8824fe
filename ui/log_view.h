#pragma once

#include <QAbstractScrollArea>
#include <QString>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace dialmend {

// The log pane: a read-only view of an append-only text in the system's fixed-width font. It
// keeps the text once, as logged (UTF-8), with where each line starts, and lays out only the
// lines on screen, so a long run costs it a copy and a scan of each appended block. The mouse
// selects, Ctrl+C copies and Ctrl+A selects all.
class LogView : public QAbstractScrollArea {
  Q_OBJECT

 public:
  explicit LogView(QWidget* parent = nullptr);

  // Adds `text` at the very end, unchanged but for CR, which the view drops (lines end at LF);
  // it adds no line end. The view then shows the end, as each append leaves it there.
  void Append(std::string_view text);
  // Empties the view and its selection.
  void Clear();
  // Brings the last line into view, at the bottom and the left.
  void ScrollToEnd();

  // The whole text as shown (LF line ends).
  [[nodiscard]] QString Text() const;
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
  // A place in the text: a line and a byte offset within it, at a character's start.
  struct Spot {
    int line = 0;
    int byte = 0;
    auto operator<=>(const Spot&) const = default;
  };

  [[nodiscard]] std::string_view Line(int index) const;
  [[nodiscard]] QString LineText(int index) const;
  [[nodiscard]] int LineHeight() const;
  [[nodiscard]] Spot SpotAt(QPoint point) const;
  void UpdateScrollRanges();
  void SelectAll();
  void CopySelection() const;

  std::string m_text;
  // Where each line starts in m_text; the first is 0 once there is any text.
  std::vector<std::size_t> m_line_starts;
  // The most characters in one line, for the horizontal scroll range.
  std::size_t m_widest = 0;
  std::size_t m_last_line_chars = 0;
  Spot m_anchor;
  Spot m_cursor;
};

}  // namespace dialmend
