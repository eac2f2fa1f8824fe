#include "cli/progress_line.h"

#include <cstddef>

#include "platform/terminal.h"
#include "run/run_progress.h"

namespace dialmend {
namespace {

constexpr std::size_t kDefaultColumns = 80;
constexpr auto kRedrawEvery = std::chrono::milliseconds(100);

// Characters on screen: one per UTF-8 code point.
std::size_t Width(std::string_view text) {
  std::size_t width = 0;
  for (const char c : text) width += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
  return width;
}

// The last `width` characters of `text`, whole code points only.
std::string_view LastCharacters(std::string_view text, std::size_t width) {
  std::size_t at = text.size();
  while (at > 0 && width > 0) {
    --at;
    if ((static_cast<unsigned char>(text[at]) & 0xC0) != 0x80) --width;
  }
  return text.substr(at);
}

// The first `width` characters of `text`, whole code points only.
std::string_view FirstCharacters(std::string_view text, std::size_t width) {
  std::size_t at = 0;
  for (; at < text.size(); ++at) {
    if ((static_cast<unsigned char>(text[at]) & 0xC0) != 0x80 && width-- == 0) break;
  }
  return text.substr(0, at);
}

// "0:07", "12:34", "1:02:03".
std::string Duration(std::chrono::steady_clock::duration duration) {
  const auto total = std::chrono::duration_cast<std::chrono::seconds>(duration).count();
  const auto two = [](long long n) { return (n < 10 ? "0" : "") + std::to_string(n); };
  const long long hours = total / 3600;
  const long long minutes = total / 60 % 60;
  const long long seconds = total % 60;
  if (hours > 0) return std::to_string(hours) + ":" + two(minutes) + ":" + two(seconds);
  return std::to_string(minutes) + ":" + two(seconds);
}

}  // namespace

std::string ProgressText(const ProgressFacts& facts, std::size_t columns) {
  std::string rest = "contacts " + std::to_string(facts.contacts);
  const bool counted = facts.total && facts.contacts <= *facts.total;
  if (counted) rest += " of " + std::to_string(*facts.total);
  rest +=
      "  numbers " + std::to_string(facts.numbers) + "  " + Duration(facts.elapsed) + " elapsed";
  if (const auto left = TimeLeft(facts.elapsed, facts.contacts, facts.total)) {
    rest += ", " + Duration(*left) + " left";
  }

  const std::size_t room = columns > 1 ? columns - 1 : 0;
  const std::size_t rest_width = Width(rest);
  if (rest_width >= room) return std::string(FirstCharacters(rest, room));
  std::string line;
  const std::size_t folder_room = room - rest_width;
  const std::size_t folder_width = Width(facts.folder);
  if (folder_width + 2 <= folder_room) {
    line = facts.folder.empty() ? "" : facts.folder + "  ";
  } else if (folder_room >= 6) {
    // The end of the path names the folder; its start is the same for many folders.
    line = "..." + std::string(LastCharacters(facts.folder, folder_room - 5)) + "  ";
  }
  return line + rest;
}

ProgressLine::ProgressLine(std::FILE* out, std::size_t columns, Clock clock)
    : m_out(out), m_columns(columns), m_clock(std::move(clock)) {
  if (!m_clock) m_clock = [] { return std::chrono::steady_clock::now(); };
  m_start = m_clock();
}

void ProgressLine::Start() {
  m_start = m_clock();
  m_drawn_at.reset();
}

void ProgressLine::Update(const RunCounters& counters) {
  const auto now = m_clock();
  if (m_drawn_at && now - *m_drawn_at < kRedrawEvery) return;
  m_drawn_at = now;
  m_facts.contacts = counters.checked;
  m_facts.numbers = counters.numbers;
  m_facts.elapsed = now - m_start;
  const std::string text = ProgressText(m_facts, m_columns);
  const std::size_t width = Width(text);
  std::string line = "\r" + text;
  // What a longer line before left on screen is blanked.
  if (width < m_shown) line.append(m_shown - width, ' ');
  Write(line);
  m_shown = width;
}

void ProgressLine::Erase() {
  if (m_shown == 0) return;
  Write("\r" + std::string(m_shown, ' ') + "\r");
  m_shown = 0;
}

void ProgressLine::Write(std::string_view text) {
  // The status line is a convenience: a terminal that cannot show it changes nothing else.
  if (std::fwrite(text.data(), 1, text.size(), m_out) == text.size()) std::fflush(m_out);
}

std::size_t TerminalColumns(std::FILE* stream) {
  return TerminalWidth(stream).value_or(kDefaultColumns);
}

}  // namespace dialmend
