#pragma once

#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/number_options.h"
#include "platform/result.h"

namespace CLI {
class App;
}

namespace dialmend {

// The options of one console program, read with CLI11. The usage errors keep the programs' own
// wording; the --help text is the program's, not CLI11's.
class CommandLine {
 public:
  // Reads a value and stores it; fails with the usage error for a value it refuses.
  using TakeValue = std::function<Status(std::string_view value)>;

  // `stray_hint` follows the message for an argument that is not an option.
  explicit CommandLine(std::string stray_hint);
  ~CommandLine();

  // `--name` (or "-h,--help") sets `value` when given.
  void AddFlag(const std::string& names, bool& value);

  // `--name VALUE` or `--name=VALUE`; given twice, the later wins. `missing` is the message
  // when it ends the command line without its value.
  void AddValue(const std::string& name, std::string missing, TakeValue take);

  // `--name PATH`: stores a value that is not empty; `missing` is the message for an empty one
  // and for none.
  void AddPath(const std::string& name, std::string missing,
               std::function<void(std::string_view path)> store);

  // The number options both programs share: --style, --prefix, --zero, --find, --replace,
  // --old-codes-only. --replace without --find is refused.
  void AddNumberOptions(NumberOptions& options);

  // Reads `args` (without the program name) and stores the values. Fails with the first usage
  // error.
  [[nodiscard]] Status Parse(std::span<const std::string_view> args);

  // Words every argument it does not take (an unknown option, a word that is no option's value)
  // as `refused(argument)` instead of the console programs' "unknown option" and "unexpected
  // argument" texts.
  void WordRefusals(std::function<std::string(std::string_view argument)> refused);

  // The options given, by name, in command-line order; valid after Parse.
  [[nodiscard]] std::vector<std::string> GivenInOrder() const;

 private:
  struct Value;

  std::unique_ptr<CLI::App> m_app;
  [[nodiscard]] std::string Refused(std::string_view argument, std::string_view name) const;

  std::string m_stray_hint;
  std::function<std::string(std::string_view argument)> m_refused;
  std::vector<Value> m_values;
  bool m_number_options = false;
};

}  // namespace dialmend
