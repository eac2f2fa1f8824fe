#include "stores/vcard_file/card_spans.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace dialmend {
namespace {

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char c = a[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != b[i]) return false;
  }
  return true;
}

// Whether `line` (without its line end) is "`name`:VCARD", as the card reader takes it: any
// case, a group prefix ("home.begin:vcard"), blanks around the value.
bool IsMarker(std::string_view line, std::string_view name) {
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) return false;
  std::string_view property = line.substr(0, colon);
  if (const std::size_t dot = property.rfind('.'); dot != std::string_view::npos) {
    property.remove_prefix(dot + 1);
  }
  if (!EqualsIgnoreCase(property, name)) return false;
  std::string_view value = line.substr(colon + 1);
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
  return EqualsIgnoreCase(value, "VCARD");
}

}  // namespace

std::vector<CardSpan> FindCards(std::string_view bytes) {
  std::vector<CardSpan> cards;
  std::size_t given = 0;
  CardScanner scanner(
      [&](char* buffer, std::size_t size, std::string&) -> std::optional<std::size_t> {
        const std::size_t count = std::min(size, bytes.size() - given);
        std::memcpy(buffer, bytes.data() + given, count);
        given += count;
        return count;
      },
      bytes.size() + 1);
  while (const std::optional<ScannedCard> card = scanner.Next()) cards.push_back(card->span);
  return cards;
}

CardScanner::CardScanner(BlockSource source, std::size_t block_size)
    : m_source(std::move(source)), m_block_size(block_size) {}

bool CardScanner::Fill() {
  // Only the open card, or else the line at hand, is still needed.
  const std::size_t keep = m_depth > 0 ? m_begin : m_pos;
  m_bytes.erase(0, keep);
  m_offset += keep;
  m_pos -= keep;
  // An open card starts the bytes kept; without one, its place means nothing.
  m_begin = 0;
  const std::size_t held = m_bytes.size();
  m_bytes.resize(held + m_block_size);
  const std::optional<std::size_t> got = m_source(m_bytes.data() + held, m_block_size, m_failure);
  m_bytes.resize(held + got.value_or(0));
  if (!got || *got == 0) m_ended = true;
  return got && *got > 0;
}

std::optional<ScannedCard> CardScanner::Next() {
  if (!m_started) {
    m_started = true;
    while (m_bytes.size() < 3 && Fill()) {
    }
    if (std::string_view(m_bytes).starts_with("\xEF\xBB\xBF")) m_pos = 3;
  }
  for (;;) {
    const std::string_view held(m_bytes);
    // A long line read over many blocks is searched once: from where the last search ended.
    const std::size_t from = std::max(m_pos, m_searched);
    const void* found =
        from < held.size() ? std::memchr(held.data() + from, '\n', held.size() - from) : nullptr;
    if (found == nullptr && !m_ended) {
      m_searched = held.size() - (m_depth > 0 ? m_begin : m_pos);
      Fill();
      continue;
    }
    if (found == nullptr && m_pos >= held.size()) {
      // A card cut short by a failed read is no card.
      if (m_depth == 0 || !m_failure.empty()) return std::nullopt;
      // A card without its END line runs to the end of the file.
      m_depth = 0;
      return ScannedCard{{m_offset + m_begin, m_offset + held.size()},
                         held.substr(m_begin, held.size() - m_begin)};
    }
    const std::size_t newline =
        found == nullptr ? held.size()
                         : static_cast<std::size_t>(static_cast<const char*>(found) - held.data());
    const std::size_t next = found == nullptr ? held.size() : newline + 1;
    std::string_view line = held.substr(m_pos, newline - m_pos);
    // Some exporters end lines with CR CR LF.
    while (line.ends_with('\r')) line.remove_suffix(1);
    const std::size_t at = m_pos;
    m_pos = next;
    m_searched = next;
    if (IsMarker(line, "BEGIN")) {
      if (m_depth == 0) m_begin = at;
      ++m_depth;
    } else if (m_depth > 0 && IsMarker(line, "END")) {
      if (--m_depth == 0) {
        return ScannedCard{{m_offset + m_begin, m_offset + next},
                           held.substr(m_begin, next - m_begin)};
      }
    }
  }
}

}  // namespace dialmend
