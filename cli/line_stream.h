#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace dialmend {

// Reads text lines in large blocks. A line ends at LF; a CR just before it, or at the very
// end of the input, is dropped. Lines of any length are returned whole.
class LineReader {
 public:
  explicit LineReader(std::FILE* in);

  // The next line, valid until the next call; false at the end of the input or on a read
  // error (see Error()).
  [[nodiscard]] bool Next(std::string_view& line);

  // The errno of a failed read, or 0.
  [[nodiscard]] int Error() const { return m_error; }

 private:
  std::FILE* m_in;
  std::vector<char> m_block;
  std::size_t m_pos = 0;
  std::size_t m_end = 0;
  std::string m_carry;  // a line that runs over the end of a block
  bool m_at_end = false;
  int m_error = 0;
};

// Collects output in a large buffer and hands it to the stream in big writes.
class BufferedWriter {
 public:
  explicit BufferedWriter(std::FILE* out);
  BufferedWriter(const BufferedWriter&) = delete;
  BufferedWriter& operator=(const BufferedWriter&) = delete;
  ~BufferedWriter();

  void Write(std::string_view text);
  void Put(char c) {
    if (m_buffer.size() == m_buffer.capacity()) Drain();
    m_buffer.push_back(c);
  }

  // Writes out everything held; returns the errno of the first failed write, or 0.
  [[nodiscard]] int Flush();

 private:
  void Drain();

  std::FILE* m_out;
  std::string m_buffer;
  int m_error = 0;
};

}  // namespace dialmend
