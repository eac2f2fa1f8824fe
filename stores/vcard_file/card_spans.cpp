#include "stores/vcard_file/card_spans.h"

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
  std::size_t pos = bytes.starts_with("\xEF\xBB\xBF") ? 3 : 0;
  std::size_t depth = 0;
  std::size_t begin = 0;
  while (pos < bytes.size()) {
    const std::size_t newline = bytes.find('\n', pos);
    const std::size_t text_end = newline == std::string_view::npos ? bytes.size() : newline;
    const std::size_t next = newline == std::string_view::npos ? bytes.size() : newline + 1;
    std::string_view line = bytes.substr(pos, text_end - pos);
    // Some exporters end lines with CR CR LF.
    while (line.ends_with('\r')) line.remove_suffix(1);
    if (IsMarker(line, "BEGIN")) {
      if (depth == 0) begin = pos;
      ++depth;
    } else if (depth > 0 && IsMarker(line, "END")) {
      if (--depth == 0) cards.push_back({begin, next});
    }
    pos = next;
  }
  if (depth > 0) cards.push_back({begin, bytes.size()});
  return cards;
}

}  // namespace dialmend
