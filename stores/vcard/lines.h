#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "stores/vcard/text.h"

// The line structure of a vCard: physical lines, folds and quoted-printable soft line breaks
// undone into logical lines, the name, parameters and value of a property, and folding a value
// written back. Internal to the vcard library.

namespace dialmend {

// Longest physical line a rewritten value produces, line end not counted.
inline constexpr std::size_t kFoldLimit = 75;

inline constexpr std::array<bool, 256> kNameChars = [] {
  std::array<bool, 256> table{};
  for (int c = 'A'; c <= 'Z'; ++c) table[c] = table[c - 'A' + 'a'] = true;
  for (int c = '0'; c <= '9'; ++c) table[c] = true;
  table['-'] = table['_'] = true;
  return table;
}();

// True for the characters of a property or group name.
inline bool IsNameChar(char c) {
  return kNameChars[static_cast<unsigned char>(c)];
}

// The line end written with `carriage_returns` CRs before its LF: "\n", "\r\n", or the "\r\r\n"
// some phone and Windows export paths write.
std::string_view LineEndWith(std::size_t carriage_returns);

// One line of the file as it lies there.
struct PhysicalLine {
  std::size_t begin = 0;
  std::size_t content_end = 0;  // where the line end starts
  std::size_t end = 0;          // just after the line end
  // Carriage returns before the LF, or before the file's end: at most 2.
  std::size_t carriage_returns = 0;
};

// A property with its folds and soft line breaks undone.
struct LogicalLine {
  std::size_t begin = 0;
  std::size_t content_end = 0;  // where the last physical line's line end starts
  std::size_t end = 0;
  std::size_t line_number = 0;  // of its first physical line
  std::size_t first_carriage_returns = 0;
  bool folded = false;
  std::string_view text;
};

// Reads a file's logical lines in order, each in time linear in its length.
class LogicalLineReader {
 public:
  explicit LogicalLineReader(std::string_view in) : m_in(in) {}

  // Reads the logical line that starts at `pos`; its text stays valid until the next call.
  void Read(std::size_t pos, LogicalLine& line);

  // Where the character at `logical_offset` of the line's text lies in the file.
  std::size_t RawOffset(const LogicalLine& line, std::size_t logical_offset) const;

 private:
  // Maps an offset in an unfolded line back to the file: the piece starting at `logical` in the
  // unfolded text starts at `raw` in the file.
  struct Segment {
    std::size_t logical = 0;
    std::size_t raw = 0;
  };

  PhysicalLine ReadPhysical(std::size_t pos) const;
  void TrimCarriageReturns(std::size_t pos, PhysicalLine& line) const;

  std::string_view m_in;
  std::size_t m_line_count = 0;
  PhysicalLine m_lookahead;
  bool m_lookahead_valid = false;
  std::string m_unfolded;
  std::vector<Segment> m_segments;
};

// The parts of one logical line read as a property; views into that line.
struct PropertyView {
  std::string_view group;
  std::string_view name;
  std::string_view params;  // from the first ";" up to the colon; empty without parameters
  std::string_view value;
  std::size_t colon = 0;  // offset of the colon in the line
};

// Follows double quotes through parameters one character at a time. A double quote opens only at
// the start of a parameter value, so stray quotes elsewhere cannot hide a ";" or ":".
struct QuoteTracker {
  bool in_quote = false;
  char previous = '\0';

  // Takes the next character: true when it stands outside quotes and is no quote itself, so it
  // may end a parameter.
  bool Outside(char c) {
    const bool outside = !in_quote && !(c == '"' && (previous == '=' || previous == ','));
    if (c == '"' && (in_quote || !outside)) in_quote = !in_quote;
    previous = c;
    return outside;
  }
};

// Finds the colon that ends name and parameters, scanning from `pos` and remembering where it
// stopped, so a line read piece by piece is scanned once.
struct ColonScan {
  std::size_t pos = 0;
  QuoteTracker quotes;

  // The colon's offset in `line`, or npos when the line so far holds none.
  std::size_t Find(std::string_view line);
};

// Reads `line` as [group "."] name [";" params] ":" value; false when it is not one.
bool SplitProperty(std::string_view line, PropertyView& out);

// Calls visit(name, values) for each parameter. A bare 2.1 parameter ("HOME", "QUOTED-PRINTABLE")
// comes with an empty name and itself as the values.
template <typename Visit>
void ForEachParam(std::string_view params, Visit&& visit) {
  const bool has_quotes = params.find('"') != std::string_view::npos;
  std::size_t i = 0;
  while (i < params.size()) {
    if (params[i] == ';') {
      ++i;
      continue;
    }
    std::size_t end = has_quotes ? i : std::min(params.find(';', i), params.size());
    QuoteTracker quotes;
    for (; has_quotes && end < params.size(); ++end) {
      if (quotes.Outside(params[end]) && params[end] == ';') break;
    }
    const std::string_view param = params.substr(i, end - i);
    const std::size_t equals = param.find('=');
    if (equals == std::string_view::npos) {
      visit(std::string_view{}, TrimBlanks(param));
    } else {
      visit(TrimBlanks(param.substr(0, equals)), param.substr(equals + 1));
    }
    i = end;
  }
}

// Calls visit(value) for each comma-separated value; quotes are dropped, so TYPE="home,fax" gives
// two values as TYPE=home,fax does.
template <typename Visit>
void ForEachParamValue(std::string_view values, Visit&& visit) {
  std::size_t i = 0;
  while (i <= values.size()) {
    std::size_t comma = values.find(',', i);
    if (comma == std::string_view::npos) comma = values.size();
    std::string_view value = TrimBlanks(values.substr(i, comma - i));
    while (!value.empty() && value.front() == '"') value.remove_prefix(1);
    while (!value.empty() && value.back() == '"') value.remove_suffix(1);
    if (!value.empty()) visit(value);
    i = comma + 1;
  }
}

// Appends a value unit by unit, folding before a unit that would pass the line limit, so no UTF-8
// character, text escape or =XX triplet is ever split.
class FoldingWriter {
 public:
  FoldingWriter(std::string& out, std::size_t column, std::string_view line_end,
                bool quoted_printable)
      : m_out(out), m_column(column), m_line_end(line_end), m_quoted_printable(quoted_printable) {}

  // Appends one unit that no fold may split.
  void Put(std::string_view unit);

 private:
  // A carriage return kept from the old value would join a fold's line end and be lost, so its line
  // runs one unit long instead.
  bool EndsInCarriageReturn() const { return !m_out.empty() && m_out.back() == '\r'; }

  std::string& m_out;
  std::size_t m_column;
  std::string_view m_line_end;
  bool m_quoted_printable;
};

}  // namespace dialmend
