#include "run/log_store.h"

#include <utility>

namespace dialmend {
namespace {

// Appends the part of `line` (as kept, CR included) from shown byte `begin` to shown byte `end`,
// shown bytes being those that are not CR.
void AppendShown(std::string_view line, std::size_t begin, std::size_t end, std::string& out) {
  std::size_t shown = 0;
  for (const char c : line) {
    if (c == '\r') continue;
    if (shown >= end) return;
    if (shown >= begin) out.push_back(c);
    ++shown;
  }
}

}  // namespace

void LogStore::Append(std::string_view text) {
  if (text.empty()) return;
  if (!m_tried_file) {
    m_tried_file = true;
    if (const Status opened = m_file.Open(); !opened.Ok() && m_problem.empty()) {
      m_problem = "Cannot keep the log pane's text in a temporary file " + opened.Message() +
                  "; the pane keeps it in memory.";
    }
  }
  if (m_file.IsOpen()) {
    if (const Status wrote = m_file.Write(m_size, text); !wrote.Ok())
      MoveIntoMemory(wrote.Message());
  }
  if (!m_file.IsOpen()) m_memory.append(text);

  const int first_changed = m_line_count == 0 ? 0 : (m_line_count - 1) / kLinesPerBlock;
  if (m_line_count == 0) {
    m_line_count = 1;
    m_block_starts.push_back(0);
  }
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\n') {
      m_widest = std::max(m_widest, m_last_line_chars);
      m_last_line_chars = 0;
      if (m_line_count % kLinesPerBlock == 0) m_block_starts.push_back(m_size + i + 1);
      ++m_line_count;
    } else if (c != '\r' && (static_cast<unsigned char>(c) & 0xC0) != 0x80) {
      ++m_last_line_chars;  // UTF-8 continuation bytes add no character
    }
  }
  m_size += text.size();
  for (CachedBlock& cached : m_cache) {
    if (cached.block >= first_changed) cached = CachedBlock{};
  }
}

void LogStore::Clear() {
  if (m_file.IsOpen()) {
    if (const Status emptied = m_file.Truncate(); !emptied.Ok() && m_problem.empty()) {
      m_problem = "Cannot empty the log pane's temporary file: " + emptied.Message() + ".";
    }
  }
  std::string().swap(m_memory);
  std::vector<std::size_t>().swap(m_block_starts);
  m_size = 0;
  m_line_count = 0;
  m_widest = 0;
  m_last_line_chars = 0;
  m_cache = {};
}

std::string LogStore::Line(int index) const {
  return Block(index / kLinesPerBlock)[index % kLinesPerBlock];
}

std::string LogStore::Shown(int from_line, int from_byte, int to_line, int to_byte) const {
  std::string out;
  const auto from = static_cast<std::size_t>(from_byte);
  const auto to = static_cast<std::size_t>(to_byte);
  std::string raw;
  for (int block = from_line / kLinesPerBlock; block <= to_line / kLinesPerBlock; ++block) {
    const std::size_t begin = m_block_starts[block];
    const std::size_t end =
        block + 1 < static_cast<int>(m_block_starts.size()) ? m_block_starts[block + 1] : m_size;
    raw = Read(begin, end - begin);
    std::string_view rest = raw;
    const int last = std::min(to_line, (block + 1) * kLinesPerBlock - 1);
    for (int line = block * kLinesPerBlock; line <= last; ++line) {
      const std::size_t lf = rest.find('\n');
      const std::string_view bytes = rest.substr(0, lf);
      rest.remove_prefix(lf == std::string_view::npos ? rest.size() : lf + 1);
      if (line < from_line) continue;
      if (line > from_line) out.push_back('\n');
      AppendShown(bytes, line == from_line ? from : 0,
                  line == to_line ? to : std::string_view::npos, out);
    }
  }
  return out;
}

std::string LogStore::Text() const {
  return Read(0, m_size);
}

std::string LogStore::TakeProblem() {
  return std::exchange(m_problem, std::string());
}

std::string LogStore::Read(std::size_t offset, std::size_t length) const {
  if (!m_file.IsOpen()) return m_memory.substr(offset, length);
  Result<std::string> bytes = m_file.Read(offset, length);
  if (bytes.Ok()) return std::move(bytes.Value());
  if (m_problem.empty()) {
    m_problem =
        "Cannot read the log pane's text back from its temporary file: " + bytes.Message() + ".";
  }
  return {};
}

const std::vector<std::string>& LogStore::Block(int block) const {
  for (const CachedBlock& cached : m_cache) {
    if (cached.block == block) return cached.lines;
  }
  CachedBlock& slot = m_cache[m_next_slot];
  m_next_slot = (m_next_slot + 1) % m_cache.size();
  slot.block = block;
  slot.lines.clear();
  const int count = std::min(kLinesPerBlock, m_line_count - block * kLinesPerBlock);
  const std::size_t begin = m_block_starts[block];
  const std::size_t end =
      block + 1 < static_cast<int>(m_block_starts.size()) ? m_block_starts[block + 1] : m_size;
  const std::string raw = Read(begin, end - begin);
  std::string_view rest = raw;
  for (int i = 0; i < count; ++i) {
    const std::size_t lf = rest.find('\n');
    std::string& line = slot.lines.emplace_back();
    AppendShown(rest.substr(0, lf), 0, std::string_view::npos, line);
    rest.remove_prefix(lf == std::string_view::npos ? rest.size() : lf + 1);
  }
  return slot.lines;
}

void LogStore::MoveIntoMemory(std::string reason) {
  m_memory = Read(0, m_size);
  m_file.Close();
  if (m_problem.empty()) {
    m_problem = "Cannot keep the log pane's text in its temporary file: " + reason +
                "; the pane keeps it in memory.";
  }
}

}  // namespace dialmend
