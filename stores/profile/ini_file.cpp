#include "stores/profile/ini_file.h"

#include "platform/utf8.h"

namespace dialmend {
namespace {

// A CR at a line's end is what a Windows line end leaves.
constexpr std::string_view kBlanks = " \t\r";

// KConfig's "[a][b]" as "a/b"; a plain "[a]" as "a".
std::string GroupOf(std::string_view line, IniDialect dialect) {
  std::string group;
  while (line.size() >= 2 && line.front() == '[') {
    const std::size_t close = line.find(']');
    if (close == std::string_view::npos) break;
    if (!group.empty()) group += '/';
    group += line.substr(1, close - 1);
    line.remove_prefix(close + 1);
    if (dialect == IniDialect::Plain) break;
  }
  return group;
}

std::string Unescaped(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 == value.size()) {
      out += value[i];
      continue;
    }
    switch (value[++i]) {
      case 's':
        out += ' ';
        break;
      case 't':
        out += '\t';
        break;
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      default:
        out += value[i];
    }
  }
  return out;
}

}  // namespace

std::vector<IniEntry> ParseIni(std::string_view text, IniDialect dialect) {
  std::vector<IniEntry> entries;
  std::string group;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = Trimmed(text.substr(start, end - start), kBlanks);
    start = end + 1;
    if (line.empty() || line.front() == '#' || line.front() == ';') continue;
    if (line.front() == '[') {
      group = GroupOf(line, dialect);
      continue;
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    std::string key(Trimmed(line.substr(0, equals), kBlanks));
    std::string_view value = Trimmed(line.substr(equals + 1), kBlanks);
    IniEntry entry;
    if (dialect == IniDialect::Kde) {
      if (const std::size_t flags = key.find('['); flags != std::string::npos) {
        const std::string_view marks = std::string_view(key).substr(flags);
        // A key for another language; "[$e]" and "[$i]" are marks, not a language.
        if (marks.find('$') == std::string_view::npos) continue;
        entry.expand = marks.find("$e") != std::string_view::npos;
        key.resize(flags);
      }
      for (char& c : key) {
        if (c == '\\') c = '/';
      }
      entry.value = Unescaped(value);
    } else {
      entry.value = std::string(value);
    }
    entry.key = group.empty() ? std::move(key) : group + "/" + key;
    entries.push_back(std::move(entry));
  }
  return entries;
}

}  // namespace dialmend
