#include "cli/convert_command.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "check/format_check.h"
#include "cli/command_line.h"
#include "cli/line_stream.h"
#include "engine/fix_number.h"
#include "engine/version.h"

namespace dialmend {

Status ParseConvertArgs(std::span<const std::string_view> args, ConvertArgs& out) {
  CommandLine line("(numbers are read from standard input)");
  line.AddNumberOptions(out.options);
  line.AddFlag("--changes", out.changes_only);
  line.AddFlag("--self-check", out.self_check);
  line.AddFlag("-h,--help", out.help);
  line.AddFlag("--version", out.version);
  if (Status parsed = line.Parse(args); !parsed.Ok()) return parsed;
  // Refused rather than ignored: a user who asks for a style would otherwise read the check's
  // fixed settings as the result of that style.
  if (out.self_check) {
    for (const std::string& name : line.GivenInOrder()) {
      if (name != "--self-check" && name != "--help" && name != "--version") {
        return Status::Failure("--self-check sets its own options and cannot be combined with " +
                               name);
      }
    }
  }
  return Status{};
}

std::string ConvertUsage() {
  return "Usage: dialmend-convert [--style N] [--prefix N] [--zero N] [--find TEXT [--replace "
         "TEXT]]\n"
         "                        [--old-codes-only] [--changes]\n"
         "       dialmend-convert --self-check\n"
         "\n"
         "Reads telephone numbers from standard input, one per line (UTF-8, LF or CRLF), and\n"
         "writes each converted number on its own line, in order: old UK area codes of the\n"
         "April 2000 changes are brought up to date and every recognised number is re-formatted.\n"
         "A line longer than 64 KiB is no number and is copied as it is.\n"
         "\n"
         "  --style N     number style: 0 \"(020) 1234 5678\" (default), 1 \"020-1234 5678\",\n"
         "                2 \"020 1234 5678\", 3 \"02012345678\"\n"
         "  --prefix N    +44 prefix: 0 leave as found (default), 1 remove it,\n"
         "                2 add it to numbers without a prefix\n"
         "  --zero N      area code's leading zero after +44: 0 leave as found (default),\n"
         "                1 remove it, 2 include it\n"
         "  --find TEXT   custom replacement: in a number that begins with TEXT, replace every\n"
         "                occurrence of TEXT before converting\n"
         "  --replace TEXT  the replacement for --find (default: empty)\n"
         "  --old-codes-only  change only numbers with an old area code; every other number,\n"
         "                    foreign ones included, is printed exactly as it was read\n"
         "  --changes     print only the numbers that change, as old<TAB>new\n"
         "  --self-check  read nothing; run the built-in format check from the default options\n"
         "                and print its two groups of sample --> result lines, with an empty\n"
         "                line between the groups (takes no other option)\n"
         "  --help        show this help and exit\n"
         "  --version     show the version and exit\n"
         "\n"
         "Example: echo '0171 930 8890' | dialmend-convert      prints (020) 7930 8890\n"
         "Exit status: 0 done, 1 input or output failed, 2 bad usage.\n";
}

Status ConvertStream(std::FILE* in, std::FILE* out, const NumberOptions& options,
                     bool changes_only) {
  LineReader reader(in);
  BufferedWriter writer(out);
  LineReader::Line line;
  while (reader.Next(line)) {
    // A line far longer than any number is no number: it passes through piece by piece.
    if (!line.whole) {
      if (changes_only) continue;
      writer.Write(line.text);
      if (line.ends) writer.Put('\n');
      continue;
    }
    const std::string fixed = FixNumber(line.text, options);
    if (changes_only) {
      if (fixed == line.text) continue;
      writer.Write(line.text);
      writer.Put('\t');
    }
    writer.Write(fixed);
    writer.Put('\n');
  }
  const int write_error = writer.Flush();
  if (reader.Error() != 0) {
    return Status::Failure(std::string("cannot read the input: ") + std::strerror(reader.Error()));
  }
  if (write_error != 0)
    return Status::Failure(std::string("cannot write the output: ") + std::strerror(write_error));
  return Status{};
}

int RunConvert(std::span<const std::string_view> args, std::FILE* in, std::FILE* out,
               std::FILE* err) {
  ConvertArgs parsed;
  if (const Status parsing = ParseConvertArgs(args, parsed); !parsing.Ok()) {
    std::fprintf(err, "dialmend-convert: %s (try --help)\n", parsing.Message().c_str());
    return 2;
  }
  if (parsed.help) {
    std::fputs(ConvertUsage().c_str(), out);
    return std::fflush(out) == 0 ? 0 : 1;
  }
  if (parsed.version) {
    std::fprintf(out, "dialmend-convert %s\n", kVersion);
    return std::fflush(out) == 0 ? 0 : 1;
  }
  if (parsed.self_check) {
    NumberOptions start_up;
    const FormatCheckResult check = RunFormatCheck(start_up);
    const std::string text = check.first + "\n" + check.second;
    const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
    if (!written || std::fflush(out) != 0) {
      std::fprintf(err, "dialmend-convert: cannot write the output: %s\n", std::strerror(errno));
      return 1;
    }
    return 0;
  }
  if (const Status converted = ConvertStream(in, out, parsed.options, parsed.changes_only);
      !converted.Ok()) {
    std::fprintf(err, "dialmend-convert: %s\n", converted.Message().c_str());
    return 1;
  }
  return 0;
}

}  // namespace dialmend
