#include "stores/vcard/lines.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

#include "stores/vcard/encoding.h"

namespace dialmend {

std::size_t ColonScan::Find(std::string_view line) {
  if (!quotes.in_quote && pos < line.size()) {
    // Without a double quote before it, the first colon is the one.
    const std::string_view rest = line.substr(pos);
    const std::size_t colon = rest.find(':');
    if (rest.substr(0, colon).find('"') == std::string_view::npos) {
      if (colon == std::string_view::npos) {
        pos = line.size();
        quotes.previous = line.back();
        return std::string_view::npos;
      }
      pos += colon;
      return pos;
    }
  }
  for (; pos < line.size(); ++pos) {
    if (quotes.Outside(line[pos]) && line[pos] == ':') return pos;
  }
  return std::string_view::npos;
}

bool SplitProperty(std::string_view line, PropertyView& out) {
  std::size_t i = 0;
  std::size_t name_begin = 0;
  for (;;) {
    while (i < line.size() && IsNameChar(line[i])) ++i;
    if (i == name_begin) return false;
    if (i < line.size() && line[i] == '.') {
      out.group = line.substr(0, i);
      name_begin = ++i;
      continue;
    }
    break;
  }
  out.name = line.substr(name_begin, i - name_begin);
  if (i >= line.size() || (line[i] != ';' && line[i] != ':')) return false;
  ColonScan scan;
  scan.pos = i;
  const std::size_t colon = scan.Find(line);
  if (colon == std::string_view::npos) return false;
  if (name_begin == 0) out.group = {};
  out.params = line.substr(i, colon - i);
  out.value = line.substr(colon + 1);
  out.colon = colon;
  return true;
}

std::string_view LineEndWith(std::size_t carriage_returns) {
  static constexpr std::string_view kCrCrLf = "\r\r\n";
  return kCrCrLf.substr(2 - std::min<std::size_t>(carriage_returns, 2));
}

void LogicalLineReader::TrimCarriageReturns(std::size_t pos, PhysicalLine& line) const {
  // The doubled CR is part of the line end, so a value never ends in a CR of it.
  while (line.carriage_returns < 2 && line.content_end > pos &&
         m_in[line.content_end - 1] == '\r') {
    --line.content_end;
    ++line.carriage_returns;
  }
}

PhysicalLine LogicalLineReader::ReadPhysical(std::size_t pos) const {
  PhysicalLine line;
  line.begin = pos;
  const void* found = std::memchr(m_in.data() + pos, '\n', m_in.size() - pos);
  if (found == nullptr) {
    line.content_end = line.end = m_in.size();
    // A last line without a line end may still carry the carriage returns of one.
    TrimCarriageReturns(pos, line);
    return line;
  }
  const auto newline = static_cast<std::size_t>(static_cast<const char*>(found) - m_in.data());
  line.end = newline + 1;
  line.content_end = newline;
  TrimCarriageReturns(pos, line);
  return line;
}

namespace {

// The encoding decides how the next lines continue a line: a quoted-printable value goes on
// after a line ending in "=" whatever the next line starts with. It is known once the colon is,
// and looked for only when a line could continue that way; the scan resumes where it stopped,
// so a line folded many times is still read once.
class EncodingSoFar {
 public:
  const Encoding& Of(std::string_view text) {
    if (!m_colon_found) {
      const std::size_t colon = m_scan.Find(text);
      if (colon != std::string_view::npos) {
        m_colon_found = true;
        PropertyView property;
        if (SplitProperty(text.substr(0, colon + 1), property)) {
          m_encoding = EncodingOf(property.params);
        }
      }
    }
    return m_encoding;
  }

 private:
  ColonScan m_scan;
  Encoding m_encoding;
  bool m_colon_found = false;
};

// How line `next` of `in` continues the logical line `text` whose last line is `current`.
struct Continuation {
  std::size_t piece = std::string_view::npos;  // where its value starts; npos: it does not
  bool soft_break = false;                     // `current` ends in a quoted-printable "="
};

Continuation ContinuationOf(std::string_view in, const PhysicalLine& current,
                            const PhysicalLine& next, std::string_view text,
                            EncodingSoFar& encoding) {
  const bool next_empty = next.content_end == next.begin;
  if (current.content_end > current.begin && in[current.content_end - 1] == '=' &&
      encoding.Of(text).quoted_printable) {
    // The whole next line is value, leading blanks included.
    return {next.begin, true};
  }
  if (!next_empty && (in[next.begin] == ' ' || in[next.begin] == '\t')) return {next.begin + 1};
  if (!next_empty &&
      std::all_of(in.begin() + static_cast<std::ptrdiff_t>(next.begin),
                  in.begin() + static_cast<std::ptrdiff_t>(next.content_end),
                  [](char c) { return IsNameChar(c) || c == '+' || c == '/' || c == '='; }) &&
      encoding.Of(text).base64) {
    // Some 2.1 writers continue base64 data on lines without the leading space.
    return {next.begin};
  }
  return {};
}

}  // namespace

void LogicalLineReader::Read(std::size_t pos, LogicalLine& line) {
  // The line that ended the previous logical line is usually the first of this one.
  const PhysicalLine first =
      m_lookahead_valid && m_lookahead.begin == pos ? m_lookahead : ReadPhysical(pos);
  m_lookahead_valid = false;
  line.begin = pos;
  line.line_number = m_line_count + 1;
  line.first_carriage_returns = first.carriage_returns;
  line.folded = false;
  std::string_view text = m_in.substr(first.begin, first.content_end - first.begin);
  ++m_line_count;

  EncodingSoFar encoding;
  PhysicalLine current = first;
  while (current.end < m_in.size()) {
    const PhysicalLine next = ReadPhysical(current.end);
    const Continuation continuation = ContinuationOf(m_in, current, next, text, encoding);
    if (continuation.piece == std::string_view::npos) {
      m_lookahead = next;
      m_lookahead_valid = true;
      break;
    }
    if (!line.folded) {
      line.folded = true;
      m_unfolded.assign(text);
      m_segments.clear();
      m_segments.push_back({0, first.begin});
    }
    if (continuation.soft_break) m_unfolded.pop_back();
    m_segments.push_back({m_unfolded.size(), continuation.piece});
    m_unfolded.append(m_in.substr(continuation.piece, next.content_end - continuation.piece));
    text = m_unfolded;
    ++m_line_count;
    current = next;
  }
  line.content_end = current.content_end;
  line.end = current.end;
  line.text = text;
}

std::size_t LogicalLineReader::RawOffset(const LogicalLine& line,
                                         std::size_t logical_offset) const {
  if (!line.folded) return line.begin + logical_offset;
  auto after = std::upper_bound(
      m_segments.begin(), m_segments.end(), logical_offset,
      [](std::size_t offset, const Segment& segment) { return offset < segment.logical; });
  const Segment& segment = *(after - 1);
  return segment.raw + (logical_offset - segment.logical);
}

void FoldingWriter::Put(std::string_view unit) {
  if (m_quoted_printable) {
    // Room stays for the "=" of a soft line break.
    if (m_column > 0 && m_column + unit.size() + 1 > kFoldLimit) {
      m_out += '=';
      m_out += m_line_end;
      m_column = 0;
    }
  } else if (m_column > 1 && m_column + unit.size() > kFoldLimit && !EndsInCarriageReturn()) {
    m_out += m_line_end;
    m_out += ' ';
    m_column = 1;
  }
  m_out += unit;
  m_column += unit.size();
}

}  // namespace dialmend
