#include "cli/command_line.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <map>

#include "platform/utf8.h"

namespace dialmend {

struct CommandLine::Value {
  std::string name;
  std::string missing;
  TakeValue take;
  CLI::Option* option = nullptr;
};

CommandLine::CommandLine(std::string stray_hint)
    : m_app(std::make_unique<CLI::App>()), m_stray_hint(std::move(stray_hint)) {
  m_app->set_help_flag();
  m_app->allow_extras();
}

CommandLine::~CommandLine() = default;

void CommandLine::AddFlag(const std::string& names, bool& value) {
  m_app->add_flag(names, value);
}

void CommandLine::AddValue(const std::string& name, std::string missing, TakeValue take) {
  CLI::Option* option =
      m_app->add_option(name)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  m_values.push_back({name, std::move(missing), std::move(take), option});
}

void CommandLine::AddPath(const std::string& name, std::string missing,
                          std::function<void(std::string_view path)> store) {
  TakeValue take = [missing, store = std::move(store)](std::string_view path) -> Status {
    if (path.empty()) return Status::Failure(missing);
    store(path);
    return Status{};
  };
  AddValue(name, std::move(missing), std::move(take));
}

namespace {

std::optional<int> SmallNumber(std::string_view text, int highest) {
  if (text.size() != 1 || text[0] < '0' || text[0] - '0' > highest) return std::nullopt;
  return text[0] - '0';
}

CommandLine::TakeValue TakeNumber(std::string name, int highest, std::function<void(int)> store) {
  return [name = std::move(name), highest,
          store = std::move(store)](std::string_view value) -> Status {
    const auto number = SmallNumber(value, highest);
    if (!number) {
      return Status::Failure(name + ": \"" + std::string(value) + "\" is not a number from 0 to " +
                             std::to_string(highest));
    }
    store(*number);
    return Status{};
  };
}

CommandLine::TakeValue TakeText(std::string name, std::function<void(std::string_view)> store) {
  return [name = std::move(name), store = std::move(store)](std::string_view value) -> Status {
    if (!IsValidUtf8(value)) return Status::Failure(name + ": the text is not valid UTF-8");
    store(value);
    return Status{};
  };
}

}  // namespace

void CommandLine::AddNumberOptions(NumberOptions& options) {
  m_number_options = true;
  AddValue("--style", "--style needs a value from 0 to 3",
           TakeNumber("--style", 3, [&options](int n) { options.style = StyleFromNumber(n); }));
  AddValue("--prefix", "--prefix needs a value from 0 to 2",
           TakeNumber("--prefix", 2, [&options](int n) { options.prefix = PrefixFromNumber(n); }));
  AddValue("--zero", "--zero needs a value from 0 to 2", TakeNumber("--zero", 2, [&options](int n) {
             options.leading_zero = ZeroFromNumber(n);
           }));
  AddValue("--find", "--find needs a text", TakeText("--find", [&options](std::string_view text) {
             options.replace = true;
             options.find = text;
           }));
  AddValue(
      "--replace", "--replace needs a text",
      TakeText("--replace", [&options](std::string_view text) { options.replacement = text; }));
  AddFlag("--old-codes-only", options.old_codes_only);
}

void CommandLine::WordRefusals(std::function<std::string(std::string_view argument)> refused) {
  m_refused = std::move(refused);
}

std::string CommandLine::Refused(std::string_view argument, std::string_view name) const {
  if (m_refused) return m_refused(argument);
  if (name.starts_with("-")) return "unknown option " + std::string(name);
  return "unexpected argument \"" + std::string(argument) + "\" " + m_stray_hint;
}

Status CommandLine::Parse(std::span<const std::string_view> args) {
  const auto find_value = [this](std::string_view name) {
    return std::find_if(m_values.begin(), m_values.end(),
                        [name](const Value& v) { return v.name == name; });
  };
  // CLI11 reads "--name=" as a name without its value, so each "--name=VALUE" reaches it as two
  // words. Only options that take a value take "=": "--update=1" is refused as before.
  std::vector<std::string> words;
  for (std::string_view arg : args) {
    const auto eq = arg.find('=');
    if (!arg.starts_with("--") || eq == std::string_view::npos) {
      words.emplace_back(arg);
      continue;
    }
    const std::string_view name = arg.substr(0, eq);
    if (find_value(name) == m_values.end()) return Status::Failure(Refused(arg, name));
    words.emplace_back(name);
    words.emplace_back(arg.substr(eq + 1));
  }
  std::reverse(words.begin(), words.end());  // CLI11 reads the last word first
  try {
    m_app->parse(words);
  } catch (const CLI::ArgumentMismatch&) {
    // The one mismatch left is an option that ends the line without its value.
    const auto value = find_value(args.back());
    return Status::Failure(value != m_values.end() ? value->missing
                                                   : Refused(args.back(), args.back()));
  } catch (const CLI::ParseError& error) {
    return Status::Failure(error.what());
  }

  std::map<const CLI::Option*, std::size_t> taken;
  for (const CLI::Option* option : m_app->parse_order()) {
    const auto value = std::find_if(m_values.begin(), m_values.end(),
                                    [option](const Value& v) { return v.option == option; });
    if (value == m_values.end()) continue;
    const std::string& text = option->results().at(taken[option]++);
    if (Status taken_value = value->take(text); !taken_value.Ok()) return taken_value;
  }
  if (const std::vector<std::string> extra = m_app->remaining(); !extra.empty()) {
    return Status::Failure(Refused(extra.front(), extra.front()));
  }
  if (m_number_options && m_app->count("--replace") > 0 && m_app->count("--find") == 0) {
    return Status::Failure("--replace needs --find");
  }
  return Status{};
}

std::vector<std::string> CommandLine::GivenInOrder() const {
  std::vector<std::string> names;
  for (const CLI::Option* option : m_app->parse_order()) names.push_back(option->get_name());
  return names;
}

}  // namespace dialmend
