#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "run/contact_run.h"

namespace dialmend {

// What one status line shows.
struct ProgressFacts {
  std::string folder;                 // as the log names it; may be empty
  std::int64_t contacts = 0;          // checked so far
  std::optional<std::int64_t> total;  // counted before the walk, when the store could
  std::int64_t numbers = 0;           // changed so far, or to change
  std::chrono::steady_clock::duration elapsed{};
};

// The status line's text, at most `columns` - 1 characters so a terminal never wraps it: the
// folder (cut from the left when the line is too long), "contacts n of N", the numbers, the
// time elapsed and, once some contacts are done and N is known, the time left.
[[nodiscard]] std::string ProgressText(const ProgressFacts& facts, std::size_t columns);

// One status line on a terminal, drawn over and over in place with carriage returns and
// spaces only, so it needs no terminal control codes.
class ProgressLine {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  // Draws on `out`, a terminal `columns` wide; `clock` is a seam for tests.
  ProgressLine(std::FILE* out, std::size_t columns, Clock clock = {});

  // The run starts now: elapsed time counts from here.
  void Start();
  void SetTotal(std::int64_t total) { m_facts.total = total; }
  void SetFolder(std::string_view folder) { m_facts.folder = folder; }

  // Draws the line with `counters`, unless it was drawn less than a tenth of a second ago.
  void Update(const RunCounters& counters);

  // Blanks the line, if shown, and leaves the cursor at its start, so what is written next
  // starts on a clean line.
  void Erase();

 private:
  void Write(std::string_view text);

  std::FILE* m_out;
  std::size_t m_columns;
  Clock m_clock;
  ProgressFacts m_facts;
  std::chrono::steady_clock::time_point m_start{};
  std::optional<std::chrono::steady_clock::time_point> m_drawn_at;
  std::size_t m_shown = 0;  // characters on the line now
};

// The width of the terminal `stream` writes to, or 80 when it is not one or cannot say.
[[nodiscard]] std::size_t TerminalColumns(std::FILE* stream);

}  // namespace dialmend
