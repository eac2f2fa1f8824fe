#include "stores/profile/profile_config.h"

#include <cstdint>
#include <map>
#include <set>
#include <utility>

#include "platform/utf8.h"

namespace dialmend {
namespace {

constexpr std::string_view kSpace = " \t";

std::string_view Trim(std::string_view s) {
  return Trimmed(s, kSpace);
}

// The file's lines without their line ends, and without a byte-order mark before the first.
std::vector<std::string_view> Lines(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (line.ends_with('\r')) line.remove_suffix(1);
    lines.push_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

ConfiguredBooks Failed(std::size_t line, std::string reason) {
  return {{}, ConfigProblem{line, std::move(reason)}};
}

// A configobj value: quoted with ' or " (a comment may follow), or bare up to a `#`.
// `why_not` says why it cannot be read; a list (commas after a quoted value) is refused too.
std::string KhardValue(std::string_view raw, std::string& why_not) {
  raw = Trim(raw);
  if (raw.empty()) return {};
  const char quote = raw.front();
  if (quote != '"' && quote != '\'') {
    return std::string(Trim(raw.substr(0, raw.find('#'))));
  }
  const std::size_t close = raw.find(quote, 1);
  if (close == std::string_view::npos) {
    why_not = std::string("the value's opening ") + quote + " is never closed";
    return {};
  }
  const std::string_view rest = Trim(raw.substr(close + 1));
  if (!rest.empty() && rest.front() != '#') {
    why_not = "there is more after the value's closing quote: \"" + std::string(rest) + "\"";
    return {};
  }
  return std::string(raw.substr(1, close - 1));
}

std::optional<std::uint32_t> Hex4(std::string_view s) {
  if (s.size() < 4) return std::nullopt;
  std::uint32_t value = 0;
  for (char c : s.substr(0, 4)) {
    value <<= 4;
    if (c >= '0' && c <= '9') {
      value |= static_cast<std::uint32_t>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      value |= static_cast<std::uint32_t>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      value |= static_cast<std::uint32_t>(c - 'A' + 10);
    } else {
      return std::nullopt;
    }
  }
  return value;
}

// A vdirsyncer value that is a JSON string, unescaped; std::nullopt with `why_not` otherwise.
std::optional<std::string> JsonString(std::string_view raw, std::string& why_not) {
  raw = Trim(raw);
  if (raw.empty() || raw.front() != '"') {
    why_not = "it is not a quoted string (vdirsyncer's values are JSON: write \"...\")";
    return std::nullopt;
  }
  std::string out;
  std::size_t i = 1;
  for (;;) {
    if (i >= raw.size()) {
      why_not = "the string's opening \" is never closed";
      return std::nullopt;
    }
    const char c = raw[i++];
    if (c == '"') break;
    if (c != '\\') {
      out.push_back(c);
      continue;
    }
    if (i >= raw.size()) continue;
    const char e = raw[i++];
    switch (e) {
      case '"':
      case '\\':
      case '/':
        out.push_back(e);
        break;
      case 'b':
        out.push_back('\b');
        break;
      case 'f':
        out.push_back('\f');
        break;
      case 'n':
        out.push_back('\n');
        break;
      case 'r':
        out.push_back('\r');
        break;
      case 't':
        out.push_back('\t');
        break;
      case 'u': {
        auto code = Hex4(raw.substr(i));
        if (!code) {
          why_not = "\\u is not followed by four hex digits";
          return std::nullopt;
        }
        i += 4;
        if (*code >= 0xD800 && *code < 0xDC00 && raw.substr(i).starts_with("\\u")) {
          const auto low = Hex4(raw.substr(i + 2));
          if (low && *low >= 0xDC00 && *low < 0xE000) {
            *code = FromSurrogates(*code, *low);
            i += 6;
          }
        }
        AppendUtf8(out, *code);
        break;
      }
      default:
        why_not = std::string("\\") + e + " is not an escape JSON knows";
        return std::nullopt;
    }
  }
  if (!Trim(raw.substr(i)).empty()) {
    why_not = "there is more after the string's closing quote";
    return std::nullopt;
  }
  return out;
}

}  // namespace

ConfiguredBooks ParseKhardConfig(std::string_view text) {
  const std::vector<std::string_view> lines = Lines(text);
  ConfiguredBooks result;
  // The open sections, outermost first.
  std::vector<std::string> sections;
  // Each address book's index in `result.books`, to refuse a second one of the same name.
  std::map<std::string, std::size_t> seen;
  std::set<std::size_t> with_path;
  for (std::size_t n = 0; n < lines.size(); ++n) {
    const std::size_t number = n + 1;
    const std::string_view line = Trim(lines[n]);
    if (line.empty() || line.front() == '#') continue;
    if (line.front() == '[') {
      const std::size_t depth = line.find_first_not_of('[');
      if (depth == std::string_view::npos) return Failed(number, "a section line without a name");
      const std::size_t name_end = line.find(']', depth);
      if (name_end == std::string_view::npos) {
        return Failed(number, "the section line \"" + std::string(line) + "\" is never closed");
      }
      const std::size_t closers = line.find_first_not_of(']', name_end);
      const std::size_t close_count =
          (closers == std::string_view::npos ? line.size() : closers) - name_end;
      const std::string_view after =
          Trim(closers == std::string_view::npos ? std::string_view() : line.substr(closers));
      if (close_count != depth || (!after.empty() && after.front() != '#')) {
        return Failed(
            number, "the brackets of the section line \"" + std::string(line) + "\" do not match");
      }
      if (depth > sections.size() + 1) {
        return Failed(number, "the section \"" + std::string(line) +
                                  "\" is nested deeper than the section it is in");
      }
      std::string name(Trim(line.substr(depth, name_end - depth)));
      if (name.size() >= 2 && (name.front() == '"' || name.front() == '\'') &&
          name.back() == name.front()) {
        name = name.substr(1, name.size() - 2);
      }
      if (name.empty()) return Failed(number, "a section line without a name");
      sections.resize(depth - 1);
      sections.push_back(name);
      if (depth == 2 && sections.front() == "addressbooks") {
        if (seen.contains(name)) {
          return Failed(number, "the address book [[" + name + "]] is given twice");
        }
        seen.emplace(name, result.books.size());
        result.books.push_back({name, {}, number});
      }
      continue;
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
      return Failed(number,
                    "\"" + std::string(line) + "\" is neither a [section] nor a name = value");
    }
    std::string key(Trim(line.substr(0, equals)));
    if (key.empty()) return Failed(number, "a value without a name");
    std::string why_not;
    std::string value = KhardValue(line.substr(equals + 1), why_not);
    if (!why_not.empty()) return Failed(number, why_not);
    if (sections.size() == 2 && sections.front() == "addressbooks" && key == "path") {
      const std::size_t index = seen.at(sections.back());
      if (!with_path.insert(index).second) {
        return Failed(number, "the address book [[" + sections.back() + "]] has two paths");
      }
      if (value.empty()) {
        return Failed(number, "the address book [[" + sections.back() + "]] has an empty path");
      }
      result.books[index].path = std::move(value);
      result.books[index].line = number;
    }
  }
  for (std::size_t i = 0; i < result.books.size(); ++i) {
    if (!with_path.contains(i)) {
      return Failed(result.books[i].line,
                    "the address book [[" + result.books[i].name + "]] has no path");
    }
  }
  return result;
}

ConfiguredBooks ParseVdirsyncerConfig(std::string_view text) {
  const std::vector<std::string_view> lines = Lines(text);
  struct Value {
    std::string text;
    std::size_t line = 0;
  };
  struct Section {
    std::string name;
    std::size_t line = 0;
    std::map<std::string, Value> values;
  };
  std::vector<Section> sections;
  std::set<std::string> section_names;
  Value* open_value = nullptr;
  for (std::size_t n = 0; n < lines.size(); ++n) {
    const std::size_t number = n + 1;
    const std::string_view raw = lines[n];
    const std::string_view line = Trim(raw);
    if (line.empty()) {
      open_value = nullptr;
      continue;
    }
    if (line.front() == '#' || line.front() == ';') continue;
    // An indented line goes on with the value above it, as configparser reads it.
    if (open_value != nullptr && (raw.front() == ' ' || raw.front() == '\t')) {
      open_value->text += "\n";
      open_value->text += line;
      continue;
    }
    open_value = nullptr;
    if (line.front() == '[') {
      const std::size_t close = line.rfind(']');
      if (close == std::string_view::npos || close < 2) {
        return Failed(number, "the section line \"" + std::string(line) + "\" is never closed");
      }
      std::string name(Trim(line.substr(1, close - 1)));
      if (!section_names.insert(name).second) {
        return Failed(number, "the section [" + name + "] is given twice");
      }
      sections.push_back({std::move(name), number, {}});
      continue;
    }
    const std::size_t delimiter = line.find_first_of("=:");
    if (delimiter == std::string_view::npos) {
      return Failed(number,
                    "\"" + std::string(line) + "\" is neither a [section] nor a name = value");
    }
    if (sections.empty()) return Failed(number, "a value before the first [section]");
    std::string key(Trim(line.substr(0, delimiter)));
    for (char& c : key) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    if (key.empty()) return Failed(number, "a value without a name");
    auto [it, fresh] = sections.back().values.emplace(
        key, Value{std::string(Trim(line.substr(delimiter + 1))), number});
    if (!fresh) {
      return Failed(number, "\"" + key + "\" is given twice in [" + sections.back().name + "]");
    }
    open_value = &it->second;
  }

  ConfiguredBooks result;
  for (const Section& section : sections) {
    if (!section.name.starts_with("storage ") && !section.name.starts_with("storage\t")) continue;
    const std::string name(Trim(std::string_view(section.name).substr(8)));
    // Only a storage on disk holding cards is ours; any other leaves its values unread.
    std::string why_not;
    const auto type = section.values.find("type");
    if (type == section.values.end()) continue;
    const auto type_text = JsonString(type->second.text, why_not);
    if (!type_text) return Failed(type->second.line, "the value of type: " + why_not);
    if (*type_text != "filesystem") continue;
    const auto ext = section.values.find("fileext");
    if (ext == section.values.end()) continue;
    const auto ext_text = JsonString(ext->second.text, why_not);
    if (!ext_text) return Failed(ext->second.line, "the value of fileext: " + why_not);
    if (*ext_text != ".vcf") continue;
    const auto path = section.values.find("path");
    if (path == section.values.end()) {
      return Failed(section.line, "the storage \"" + name + "\" has no path");
    }
    auto path_text = JsonString(path->second.text, why_not);
    if (!path_text) return Failed(path->second.line, "the value of path: " + why_not);
    if (path_text->empty()) {
      return Failed(path->second.line, "the storage \"" + name + "\" has an empty path");
    }
    result.books.push_back({name, std::move(*path_text), path->second.line});
  }
  return result;
}

std::string ExpandHome(const std::string& path, const std::string& home) {
  if (path == "~") return home;
  if (path.starts_with("~/")) return home + path.substr(1);
  return path;
}

}  // namespace dialmend
