#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace dialmend {

// Reads text lines in large blocks. A line ends at LF; a CR just before it, or at the very
// end of the input, is dropped. A line of up to `longest` bytes is returned whole; a longer
// one, which no telephone number could be, comes in pieces, so that memory stays bounded
// whatever the input.
class LineReader {
 public:
  static constexpr std::size_t kLongestWhole = 1 << 16;

  // A line, or a piece of a line longer than the longest whole line.
  struct Line {
    std::string_view text;
    bool whole = true;  // false for a piece of a long line
    bool ends = true;   // this piece ends its line
  };

  explicit LineReader(std::FILE* in, std::size_t longest = kLongestWhole);

  // The next line or piece, valid until the next call; false at the end of the input or on a
  // read error (see Error()).
  [[nodiscard]] bool Next(Line& line);

  // The errno of a failed read, or 0.
  [[nodiscard]] int Error() const { return m_error; }

 private:
  bool NextPiece(Line& line);
  bool StartLongLine(Line& line);

  std::FILE* m_in;
  std::size_t m_longest;
  std::vector<char> m_block;
  std::size_t m_pos = 0;
  std::size_t m_end = 0;
  std::string m_carry;     // a line that runs over the end of a block, up to `longest` bytes
  bool m_long = false;     // inside a line longer than `longest`
  bool m_held_cr = false;  // a long line's piece ended in CR, which an LF may follow
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
