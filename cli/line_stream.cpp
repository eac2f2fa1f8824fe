#include "cli/line_stream.h"

#include <cerrno>
#include <cstring>

namespace dialmend {
namespace {

constexpr std::size_t kBlockSize = 1 << 16;

std::string_view WithoutCr(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

}  // namespace

LineReader::LineReader(std::FILE* in, std::size_t longest)
    : m_in(in), m_longest(longest), m_block(kBlockSize) {}

bool LineReader::Next(Line& line) {
  m_carry.clear();
  for (;;) {
    if (m_long) return NextPiece(line);
    if (m_pos < m_end) {
      const char* start = m_block.data() + m_pos;
      const auto* newline = static_cast<const char*>(std::memchr(start, '\n', m_end - m_pos));
      const std::size_t length =
          newline != nullptr ? static_cast<std::size_t>(newline - start) : m_end - m_pos;
      if (m_carry.size() + length > m_longest) return StartLongLine(line);
      if (newline != nullptr) {
        m_pos += length + 1;
        if (m_carry.empty()) {
          line = {WithoutCr(std::string_view(start, length))};
        } else {
          m_carry.append(start, length);
          line = {WithoutCr(m_carry)};
        }
        return true;
      }
      m_carry.append(start, length);
      m_pos = m_end;
    }
    if (m_at_end) {
      if (m_carry.empty()) return false;
      line = {WithoutCr(m_carry)};
      return true;
    }
    m_pos = 0;
    m_end = std::fread(m_block.data(), 1, m_block.size(), m_in);
    if (m_end < m_block.size()) {
      if (std::ferror(m_in)) m_error = errno != 0 ? errno : EIO;
      m_at_end = true;
    }
  }
}

// What was carried of the line so far is its first piece; the rest of it comes from the block.
bool LineReader::StartLongLine(Line& line) {
  m_long = true;
  if (m_carry.empty()) return NextPiece(line);
  std::string_view piece = m_carry;
  if (piece.back() == '\r') {
    piece.remove_suffix(1);
    m_held_cr = true;
  }
  line = {piece, false, false};
  return true;
}

bool LineReader::NextPiece(Line& line) {
  static constexpr std::string_view kCr = "\r";
  while (m_pos == m_end && !m_at_end) {
    m_pos = 0;
    m_end = std::fread(m_block.data(), 1, m_block.size(), m_in);
    if (m_end < m_block.size()) {
      if (std::ferror(m_in)) m_error = errno != 0 ? errno : EIO;
      m_at_end = true;
    }
  }
  const char* start = m_block.data() + m_pos;
  const auto* newline = static_cast<const char*>(std::memchr(start, '\n', m_end - m_pos));
  const std::size_t length =
      newline != nullptr ? static_cast<std::size_t>(newline - start) : m_end - m_pos;
  // A CR held back from the last piece belongs to the line unless the line ends right here.
  if (m_held_cr) {
    m_held_cr = false;
    if (length > 0) {
      line = {kCr, false, false};
      return true;
    }
  }
  std::string_view piece(start, length);
  if (newline != nullptr || m_at_end) {
    m_pos += newline != nullptr ? length + 1 : length;
    m_long = false;
    line = {WithoutCr(piece), false, true};
    return true;
  }
  m_pos = m_end;
  if (piece.back() == '\r') {
    piece.remove_suffix(1);
    m_held_cr = true;
  }
  line = {piece, false, false};
  return true;
}

BufferedWriter::BufferedWriter(std::FILE* out) : m_out(out) {
  m_buffer.reserve(kBlockSize);
}

BufferedWriter::~BufferedWriter() {
  (void)Flush();
}

void BufferedWriter::Write(std::string_view text) {
  if (m_buffer.size() + text.size() > m_buffer.capacity()) {
    Drain();
    if (text.size() >= m_buffer.capacity()) {
      if (m_error == 0 && std::fwrite(text.data(), 1, text.size(), m_out) != text.size()) {
        m_error = errno != 0 ? errno : EIO;
      }
      return;
    }
  }
  m_buffer.append(text);
}

void BufferedWriter::Drain() {
  if (m_error == 0 && !m_buffer.empty() &&
      std::fwrite(m_buffer.data(), 1, m_buffer.size(), m_out) != m_buffer.size()) {
    m_error = errno != 0 ? errno : EIO;
  }
  m_buffer.clear();
}

int BufferedWriter::Flush() {
  Drain();
  if (m_error == 0 && std::fflush(m_out) != 0) m_error = errno != 0 ? errno : EIO;
  return m_error;
}

}  // namespace dialmend
