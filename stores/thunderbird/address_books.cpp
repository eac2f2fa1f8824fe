#include "stores/thunderbird/address_books.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <optional>

#include "platform/utf8.h"

namespace dialmend {
namespace {

constexpr std::string_view kBranch = "ldap_2.servers.";

void SkipSpaces(std::string_view text, std::size_t& at) {
  while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
}

// The value of the \u escape at `at` (just after the 'u'), or std::nullopt.
std::optional<char32_t> Hex4(std::string_view text, std::size_t at) {
  if (at + 4 > text.size()) return std::nullopt;
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data() + at, text.data() + at + 4, value, 16);
  if (error != std::errc() || end != text.data() + at + 4) return std::nullopt;
  return static_cast<char32_t>(value);
}

// The string literal that starts at `at` (its opening quote), in JSON's escapes as prefs.js
// writes it; `at` moves past it. std::nullopt when it is not one.
std::optional<std::string> StringLiteral(std::string_view text, std::size_t& at) {
  if (at >= text.size() || text[at] != '"') return std::nullopt;
  std::string value;
  for (++at; at < text.size(); ++at) {
    const char c = text[at];
    if (c == '"') {
      ++at;
      return value;
    }
    if (c != '\\') {
      value += c;
      continue;
    }
    if (++at >= text.size()) return std::nullopt;
    switch (text[at]) {
      case 'n':
        value += '\n';
        break;
      case 't':
        value += '\t';
        break;
      case 'r':
        value += '\r';
        break;
      case 'u': {
        std::optional<char32_t> unit = Hex4(text, at + 1);
        if (!unit) return std::nullopt;
        at += 4;
        if (*unit >= 0xD800 && *unit < 0xDC00 && text.substr(at + 1, 2) == "\\u") {
          if (const std::optional<char32_t> low = Hex4(text, at + 3);
              low && *low >= 0xDC00 && *low < 0xE000) {
            *unit = FromSurrogates(*unit, *low);
            at += 6;
          }
        }
        if (*unit >= 0xD800 && *unit < 0xE000) *unit = 0xFFFD;
        AppendUtf8(value, *unit);
        break;
      }
      default:
        value += text[at];
    }
  }
  return std::nullopt;
}

// A line `user_pref("name", value);`: the name, and the value as text (a string's contents, a
// number's or a boolean's own text).
struct Pref {
  std::string name;
  std::string value;
};

std::optional<Pref> ParsePref(std::string_view line) {
  std::size_t at = 0;
  SkipSpaces(line, at);
  constexpr std::string_view kStart = "user_pref(";
  if (line.substr(at, kStart.size()) != kStart) return std::nullopt;
  at += kStart.size();
  SkipSpaces(line, at);
  std::optional<std::string> name = StringLiteral(line, at);
  if (!name) return std::nullopt;
  SkipSpaces(line, at);
  if (at >= line.size() || line[at] != ',') return std::nullopt;
  ++at;
  SkipSpaces(line, at);
  if (at < line.size() && line[at] == '"') {
    std::optional<std::string> value = StringLiteral(line, at);
    if (!value) return std::nullopt;
    return Pref{std::move(*name), std::move(*value)};
  }
  const std::size_t end = line.find(')', at);
  if (end == std::string_view::npos) return std::nullopt;
  std::string_view value = line.substr(at, end - at);
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
  return Pref{std::move(*name), std::string(value)};
}

// Sets the field of `book` that `field` names, if it is one the store reads.
void SetField(ThunderbirdBook& book, std::string_view field, std::string value) {
  if (field == "description") {
    book.name = std::move(value);
  } else if (field == "dirType") {
    int type = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), type);
    if (error == std::errc() && end == value.data() + value.size()) book.dir_type = type;
  } else if (field == "filename") {
    book.file = std::move(value);
  } else if (field == "carddav.url" || field == "uri") {
    book.url = std::move(value);
  }
}

bool NameBefore(const ThunderbirdBook& a, const ThunderbirdBook& b) {
  const std::string left = AsciiLower(a.name);
  const std::string right = AsciiLower(b.name);
  return left != right ? left < right : a.name < b.name;
}

}  // namespace

std::vector<ThunderbirdBook> ParseAddressBooks(std::string_view prefs) {
  std::map<std::string, ThunderbirdBook, std::less<>> books;
  books["pab"] = {"pab", "Personal Address Book", kLocalBookType, "abook.sqlite", {}};
  books["history"] = {"history", "Collected Addresses", kLocalBookType, "history.sqlite", {}};
  constexpr std::string_view kFields[] = {".description", ".dirType", ".filename", ".carddav.url",
                                          ".uri"};
  for (std::size_t start = 0; start < prefs.size();) {
    std::size_t end = prefs.find('\n', start);
    if (end == std::string_view::npos) end = prefs.size();
    std::optional<Pref> pref = ParsePref(prefs.substr(start, end - start));
    start = end + 1;
    if (!pref || !pref->name.starts_with(kBranch)) continue;
    const std::string_view rest = std::string_view(pref->name).substr(kBranch.size());
    for (std::string_view field : kFields) {
      if (rest.size() <= field.size() || !rest.ends_with(field)) continue;
      const std::string key(rest.substr(0, rest.size() - field.size()));
      ThunderbirdBook& book = books[key];
      book.key = key;
      SetField(book, field.substr(1), std::move(pref->value));
      break;
    }
  }
  std::vector<ThunderbirdBook> listed;
  for (auto& [key, book] : books) {
    if (book.file.empty() && book.url.empty()) continue;
    if (book.name.empty()) book.name = key;
    if (key != "pab" && key != "history") listed.push_back(std::move(book));
  }
  std::sort(listed.begin(), listed.end(), NameBefore);
  listed.insert(listed.begin(), std::move(books["pab"]));
  listed.push_back(std::move(books["history"]));
  return listed;
}

}  // namespace dialmend
