#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The pieces of the undo record's format that its reader (undo_record.cpp) and its writer
// (undo_record_writer.cpp) share.

namespace dialmend {

inline constexpr std::string_view kRecordMagic = "dialmend-undo-record";

// Appends `text` to `out` with \\, \t, \n and \r escaped, so it stays one field of one line.
void EscapeField(std::string_view text, std::string& out);

// The fields of one line, unescaped; std::nullopt for an escape that is not one of ours.
[[nodiscard]] std::optional<std::vector<std::string>> SplitRecordLine(std::string_view line);

// Checks lines of the record: a 64-bit FNV-1a hash, written as 16 lower-case hex digits. It
// finds the damage a disk, a copy or an editor does; it is no seal against a forger, who can
// write any value a user could type anyway.
class RecordSum {
 public:
  void Add(std::string_view bytes);
  [[nodiscard]] std::uint64_t Value() const { return m_value; }
  [[nodiscard]] std::string Hex() const;

 private:
  std::uint64_t m_value = 14695981039346656037ull;
};

// `line` (without its LF) followed by a tab and the sum of `line`: a line that checks itself.
[[nodiscard]] std::string SelfCheckedLine(std::string_view line);

// The "sum" line, with its LF, that checks `lines` (each with its LF).
[[nodiscard]] std::string SumLine(std::string_view lines);

}  // namespace dialmend
