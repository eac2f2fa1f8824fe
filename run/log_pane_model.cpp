#include "run/log_pane_model.h"

#include <algorithm>

namespace dialmend {

void LogPaneModel::Clear() {
  m_store.Clear();
  m_anchor = m_cursor = Spot{};
}

std::string LogPaneModel::Shown() const {
  std::string text = m_store.Text();
  std::erase(text, '\r');
  return text;
}

void LogPaneModel::Press(Spot spot, bool extend) {
  m_cursor = spot;
  if (!extend) m_anchor = spot;
}

void LogPaneModel::SelectAll() {
  m_anchor = Spot{};
  if (LineCount() > 0) {
    m_cursor = Spot{LineCount() - 1, static_cast<int>(Line(LineCount() - 1).size())};
  }
}

std::string LogPaneModel::Selected() const {
  const auto [from, to] = std::minmax(m_anchor, m_cursor);
  if (from == to || LineCount() == 0) return {};
  return m_store.Shown(from.line, from.byte, to.line, to.byte);
}

std::optional<LogPaneModel::LinePart> LogPaneModel::SelectedPart(int line) const {
  const auto [from, to] = std::minmax(m_anchor, m_cursor);
  if (from == to || line < from.line || line > to.line) return std::nullopt;
  LinePart part;
  part.begin = line == from.line ? from.byte : 0;
  part.past_end = line != to.line;
  part.end = part.past_end ? static_cast<int>(Line(line).size()) : to.byte;
  return part;
}

int LastShownLine(int first, int rows, int line_count) {
  return std::min(line_count, first + rows) - 1;
}

int LastFirstLine(int rows, int line_count) {
  return std::max(0, line_count - rows);
}

}  // namespace dialmend
