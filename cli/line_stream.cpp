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

LineReader::LineReader(std::FILE* in) : m_in(in), m_block(kBlockSize) {}

bool LineReader::Next(std::string_view& line) {
  m_carry.clear();
  bool carrying = false;
  for (;;) {
    if (m_pos < m_end) {
      const char* start = m_block.data() + m_pos;
      const auto* newline = static_cast<const char*>(std::memchr(start, '\n', m_end - m_pos));
      if (newline != nullptr) {
        const auto length = static_cast<std::size_t>(newline - start);
        m_pos += length + 1;
        if (carrying) {
          m_carry.append(start, length);
          line = WithoutCr(m_carry);
        } else {
          line = WithoutCr(std::string_view(start, length));
        }
        return true;
      }
      m_carry.append(start, m_end - m_pos);
      carrying = true;
      m_pos = m_end;
    }
    if (m_at_end) {
      if (!carrying) return false;
      line = WithoutCr(m_carry);
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
