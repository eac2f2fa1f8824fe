#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/temporary_file.h"

namespace dialmend {

// The log pane's text, kept out of memory: appended text goes to a temporary file of its own
// (nothing is left behind, even after a crash), with the start of every block of lines for an
// index and the few blocks last read in a cache. It keeps the text as appended; lines
// come back as shown: split at LF, without CR. When no temporary file can be made or written, it
// keeps the text in memory instead and says so once through Problem().
class LogStore {
 public:
  // Lines per indexed block: the index costs one offset for this many lines.
  static constexpr int kLinesPerBlock = 128;

  LogStore() = default;
  LogStore(const LogStore&) = delete;
  LogStore& operator=(const LogStore&) = delete;

  // Adds `text` at the very end, unchanged.
  void Append(std::string_view text);
  // Empties the store; it keeps its temporary file for the next text.
  void Clear();

  // Lines, counting the last even when it has no LF yet; 0 when empty.
  [[nodiscard]] int LineCount() const { return m_line_count; }
  // The most characters (not bytes) in one shown line.
  [[nodiscard]] std::size_t Widest() const { return std::max(m_widest, m_last_line_chars); }
  // Line `index` (below LineCount()) as shown: no LF, no CR.
  [[nodiscard]] std::string Line(int index) const;
  // The shown text from byte `from_byte` of line `from_line` to byte `to_byte` of line
  // `to_line` (not after it), the lines joined by LF; it reads the file on demand.
  [[nodiscard]] std::string Shown(int from_line, int from_byte, int to_line, int to_byte) const;
  // Everything appended since the last Clear(), as appended.
  [[nodiscard]] std::string Text() const;

  // The first failure to keep the text in a file or read it back, in words; empty when none.
  // Reading it empties it, so each failure is told once.
  [[nodiscard]] std::string TakeProblem();

 private:
  struct CachedBlock {
    int block = -1;
    std::vector<std::string> lines;
  };

  [[nodiscard]] std::string Read(std::size_t offset, std::size_t length) const;
  [[nodiscard]] const std::vector<std::string>& Block(int block) const;
  void MoveIntoMemory(std::string reason);

  TemporaryFile m_file;
  bool m_tried_file = false;
  // The text itself when there is no file to keep it in.
  std::string m_memory;
  std::size_t m_size = 0;
  int m_line_count = 0;
  // Where lines 0, kLinesPerBlock, 2 * kLinesPerBlock ... start.
  std::vector<std::size_t> m_block_starts;
  std::size_t m_widest = 0;
  std::size_t m_last_line_chars = 0;
  // Enough blocks for a tall pane's lines, kept between paints.
  mutable std::array<CachedBlock, 4> m_cache;
  mutable std::size_t m_next_slot = 0;
  mutable std::string m_problem;
};

}  // namespace dialmend
