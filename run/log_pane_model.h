#pragma once

#include <compare>
#include <optional>
#include <string>
#include <string_view>

#include "run/log_store.h"

// What the log pane holds whichever toolkit draws it: the text, kept out of memory, and the
// user's selection in it. A toolkit's pane draws only the lines on screen and turns clicks into
// places in the text.

namespace dialmend {

class LogPaneModel {
 public:
  // A place in the text: a line and a byte offset within it, at a character's start.
  struct Spot {
    int line = 0;
    int byte = 0;
    auto operator<=>(const Spot&) const = default;
  };

  // The bytes of one line that are selected: from `begin` to `end`; `past_end` when the
  // selection goes on to the next line, so the line's end is selected too.
  struct LinePart {
    int begin = 0;
    int end = 0;
    bool past_end = false;
  };

  // Adds `text` at the very end; lines end at LF, a CR is not shown.
  void Append(std::string_view text) { m_store.Append(text); }
  // Empties the text and the selection.
  void Clear();

  [[nodiscard]] int LineCount() const { return m_store.LineCount(); }
  // Line `index` as shown: no LF, no CR.
  [[nodiscard]] std::string Line(int index) const { return m_store.Line(index); }
  // The most characters in one line.
  [[nodiscard]] std::size_t Widest() const { return m_store.Widest(); }
  // The whole text as appended (CR kept).
  [[nodiscard]] std::string Logged() const { return m_store.Text(); }
  // The whole text as shown (LF line ends).
  [[nodiscard]] std::string Shown() const;

  // A press at `spot`: the selection starts there, or with `extend` runs on to it.
  void Press(Spot spot, bool extend);
  // A drag to `spot`: the selection runs on to it.
  void DragTo(Spot spot) { m_cursor = spot; }
  void SelectAll();
  [[nodiscard]] bool HasSelection() const { return m_anchor != m_cursor; }
  // The selected text as shown (LF line ends); empty when nothing is selected.
  [[nodiscard]] std::string Selected() const;
  // What of line `line` is selected; std::nullopt for nothing.
  [[nodiscard]] std::optional<LinePart> SelectedPart(int line) const;

  // The first failure to keep the text in its file, in words, told once; empty when none.
  [[nodiscard]] std::string TakeProblem() { return m_store.TakeProblem(); }

 private:
  LogStore m_store;
  Spot m_anchor;
  Spot m_cursor;
};

// The lines of a pane `rows` rows high whose first shown line is `first`: the last one shown,
// whole or in part, and the greatest first line (the end in view).
[[nodiscard]] int LastShownLine(int first, int rows, int line_count);
[[nodiscard]] int LastFirstLine(int rows, int line_count);

}  // namespace dialmend
