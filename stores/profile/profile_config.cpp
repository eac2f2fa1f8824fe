#include "stores/profile/profile_config.h"

#include <cstdint>
#include <map>
#include <set>
#include <utility>

#include "platform/result.h"
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

// A configobj value: quoted with ' or " (a comment may follow), or bare up to a `#`. A list
// (commas after a quoted value) is refused.
Result<std::string> KhardValue(std::string_view raw) {
  raw = Trim(raw);
  if (raw.empty()) return std::string();
  const char quote = raw.front();
  if (quote != '"' && quote != '\'') {
    return std::string(Trim(raw.substr(0, raw.find('#'))));
  }
  const std::size_t close = raw.find(quote, 1);
  if (close == std::string_view::npos) {
    return Result<std::string>::Failure(std::string("the value's opening ") + quote +
                                        " is never closed");
  }
  const std::string_view rest = Trim(raw.substr(close + 1));
  if (!rest.empty() && rest.front() != '#') {
    return Result<std::string>::Failure("there is more after the value's closing quote: \"" +
                                        std::string(rest) + "\"");
  }
  return std::string(raw.substr(1, close - 1));
}

std::optional<std::uint32_t> Hex4(std::string_view s) {
  if (s.size() < 4) return std::nullopt;
  std::uint32_t value = 0;
  for (char c : s.substr(0, 4)) {
    const int digit = HexDigitValue(c);
    if (digit < 0) return std::nullopt;
    value = (value << 4) | static_cast<std::uint32_t>(digit);
  }
  return value;
}

// The JSON escape after the backslash at raw[i - 1], appended to `out`; `i` moves past it.
Status AppendJsonEscape(std::string_view raw, std::size_t& i, std::string& out) {
  if (i >= raw.size()) return {};
  const char e = raw[i++];
  switch (e) {
    case '"':
    case '\\':
    case '/':
      out.push_back(e);
      return {};
    case 'b':
      out.push_back('\b');
      return {};
    case 'f':
      out.push_back('\f');
      return {};
    case 'n':
      out.push_back('\n');
      return {};
    case 'r':
      out.push_back('\r');
      return {};
    case 't':
      out.push_back('\t');
      return {};
    case 'u':
      break;
    default:
      return Status::Failure(std::string("\\") + e + " is not an escape JSON knows");
  }
  auto code = Hex4(raw.substr(i));
  if (!code) return Status::Failure("\\u is not followed by four hex digits");
  i += 4;
  if (*code >= 0xD800 && *code < 0xDC00 && raw.substr(i).starts_with("\\u")) {
    const auto low = Hex4(raw.substr(i + 2));
    if (low && *low >= 0xDC00 && *low < 0xE000) {
      *code = FromSurrogates(*code, *low);
      i += 6;
    }
  }
  AppendUtf8(out, *code);
  return {};
}

// A vdirsyncer value that is a JSON string, unescaped.
Result<std::string> JsonString(std::string_view raw) {
  raw = Trim(raw);
  if (raw.empty() || raw.front() != '"') {
    return Result<std::string>::Failure(
        "it is not a quoted string (vdirsyncer's values are JSON: write \"...\")");
  }
  std::string out;
  std::size_t i = 1;
  for (;;) {
    if (i >= raw.size()) {
      return Result<std::string>::Failure("the string's opening \" is never closed");
    }
    const char c = raw[i++];
    if (c == '"') break;
    if (c != '\\') {
      out.push_back(c);
    } else if (Status escape = AppendJsonEscape(raw, i, out); !escape.Ok()) {
      return Result<std::string>::Failure(escape.Message());
    }
  }
  if (!Trim(raw.substr(i)).empty()) {
    return Result<std::string>::Failure("there is more after the string's closing quote");
  }
  return out;
}

// A khard section line: how deep it nests (its count of brackets) and its name.
struct KhardSection {
  std::size_t depth = 0;
  std::string name;
};

// `open` sections are open above the line.
Result<KhardSection> ReadKhardSection(std::string_view line, std::size_t open) {
  const auto failed = [](std::string reason) {
    return Result<KhardSection>::Failure(std::move(reason));
  };
  const std::size_t depth = line.find_first_not_of('[');
  if (depth == std::string_view::npos) return failed("a section line without a name");
  const std::size_t name_end = line.find(']', depth);
  if (name_end == std::string_view::npos) {
    return failed("the section line \"" + std::string(line) + "\" is never closed");
  }
  const std::size_t closers = line.find_first_not_of(']', name_end);
  const std::size_t close_count =
      (closers == std::string_view::npos ? line.size() : closers) - name_end;
  const std::string_view after =
      Trim(closers == std::string_view::npos ? std::string_view() : line.substr(closers));
  if (close_count != depth || (!after.empty() && after.front() != '#')) {
    return failed("the brackets of the section line \"" + std::string(line) + "\" do not match");
  }
  if (depth > open + 1) {
    return failed("the section \"" + std::string(line) +
                  "\" is nested deeper than the section it is in");
  }
  std::string name(Trim(line.substr(depth, name_end - depth)));
  if (name.size() >= 2 && (name.front() == '"' || name.front() == '\'') &&
      name.back() == name.front()) {
    name = name.substr(1, name.size() - 2);
  }
  if (name.empty()) return failed("a section line without a name");
  return KhardSection{depth, std::move(name)};
}

// One `[section]` of a configparser file with its values by their lower-cased names.
struct IniValue {
  std::string text;
  std::size_t line = 0;
};
struct IniSection {
  std::string name;
  std::size_t line = 0;
  std::map<std::string, IniValue> values;
};
struct IniSections {
  std::vector<IniSection> sections;
  std::optional<ConfigProblem> problem;
};

IniSections ReadIniSections(std::string_view text) {
  const std::vector<std::string_view> lines = Lines(text);
  IniSections out;
  const auto failed = [&out](std::size_t line, std::string reason) {
    out.problem = ConfigProblem{line, std::move(reason)};
    return std::move(out);
  };
  std::set<std::string> section_names;
  IniValue* open_value = nullptr;
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
        return failed(number, "the section line \"" + std::string(line) + "\" is never closed");
      }
      std::string name(Trim(line.substr(1, close - 1)));
      if (!section_names.insert(name).second) {
        return failed(number, "the section [" + name + "] is given twice");
      }
      out.sections.push_back({std::move(name), number, {}});
      continue;
    }
    const std::size_t delimiter = line.find_first_of("=:");
    if (delimiter == std::string_view::npos) {
      return failed(number,
                    "\"" + std::string(line) + "\" is neither a [section] nor a name = value");
    }
    if (out.sections.empty()) return failed(number, "a value before the first [section]");
    std::string key = AsciiLower(Trim(line.substr(0, delimiter)));
    if (key.empty()) return failed(number, "a value without a name");
    auto [it, fresh] = out.sections.back().values.emplace(
        key, IniValue{std::string(Trim(line.substr(delimiter + 1))), number});
    if (!fresh) {
      return failed(number, "\"" + key + "\" is given twice in [" + out.sections.back().name + "]");
    }
    open_value = &it->second;
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
      Result<KhardSection> section = ReadKhardSection(line, sections.size());
      if (!section.Ok()) return Failed(number, section.Message());
      const std::string& name = section.Value().name;
      sections.resize(section.Value().depth - 1);
      sections.push_back(name);
      if (sections.size() == 2 && sections.front() == "addressbooks") {
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
    Result<std::string> value = KhardValue(line.substr(equals + 1));
    if (!value.Ok()) return Failed(number, value.Message());
    if (sections.size() == 2 && sections.front() == "addressbooks" && key == "path") {
      const std::size_t index = seen.at(sections.back());
      if (!with_path.insert(index).second) {
        return Failed(number, "the address book [[" + sections.back() + "]] has two paths");
      }
      if (value.Value().empty()) {
        return Failed(number, "the address book [[" + sections.back() + "]] has an empty path");
      }
      result.books[index].path = std::move(value.Value());
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
  IniSections ini = ReadIniSections(text);
  if (ini.problem) return {{}, std::move(ini.problem)};
  ConfiguredBooks result;
  for (const IniSection& section : ini.sections) {
    if (!section.name.starts_with("storage ") && !section.name.starts_with("storage\t")) continue;
    const std::string name(Trim(std::string_view(section.name).substr(8)));
    // The JSON string `key` holds; nothing when it is not there.
    std::optional<ConfigProblem> problem;
    const auto value = [&](const char* key) -> std::optional<std::string> {
      const auto found = section.values.find(key);
      if (found == section.values.end()) return std::nullopt;
      Result<std::string> text = JsonString(found->second.text);
      if (text.Ok()) return std::move(text.Value());
      problem = ConfigProblem{found->second.line,
                              std::string("the value of ") + key + ": " + text.Message()};
      return std::nullopt;
    };
    // Only a storage on disk holding cards is ours; any other leaves its values unread.
    const std::optional<std::string> type = value("type");
    if (problem) return {{}, std::move(problem)};
    if (type != "filesystem") continue;
    const std::optional<std::string> ext = value("fileext");
    if (problem) return {{}, std::move(problem)};
    if (ext != ".vcf") continue;
    std::optional<std::string> path = value("path");
    if (problem) return {{}, std::move(problem)};
    if (!path) return Failed(section.line, "the storage \"" + name + "\" has no path");
    const std::size_t path_line = section.values.at("path").line;
    if (path->empty()) {
      return Failed(path_line, "the storage \"" + name + "\" has an empty path");
    }
    result.books.push_back({name, std::move(*path), path_line});
  }
  return result;
}

std::string ExpandHome(const std::string& path, const std::string& home) {
  if (path == "~") return home;
  if (path.starts_with("~/")) return home + path.substr(1);
  return path;
}

}  // namespace dialmend
