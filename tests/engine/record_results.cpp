// Writes the converter's current results as C++ rows for tests/engine/recorded_results.inc:
//   record_results examples/numbers.txt > tests/engine/recorded_results.inc
// Run it only to record a deliberate change of behaviour.

#include <array>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "engine/code_table.h"
#include "engine/fix_number.h"
#include "tests/engine/recorded_results.h"
#include "tests/fakes/repeatable_random.h"

namespace dialmend {
namespace {

constexpr std::size_t kGenerated = 5009;

// Pieces that steer the converter into each of its branches when strung together at random.
constexpr std::array<std::string_view, 40> kPieces = {
    " ",        "  ",           "-",        ".",        "~",    "_",      "(",
    ")",        "(0)",          "+",        "+44",      "+44 ", "+1 ",    "44",
    "0",        "00",           "(00",      "(00)",     "(00 ", "(0044)", "*",
    "#",        "Tel",          "Home ",    "Fax: ",    "ext",  "x",      "\t",
    "\xc3\xa9", "\xe2\x98\x8e", "\xc2\xa0", "\xd9\xa0", "[",    "]",      "{W}",
    "0171",     "\xff",         "(Home)",   "0",        "9"};

std::string Generated(RepeatableRandom& random) {
  const auto rows = CodeChanges();
  std::string s;
  if (random.Next(2) == 0) {
    // Shaped like a number someone typed: label, prefix, old or new code, local groups.
    constexpr std::array<std::string_view, 8> kLeads = {
        "", "", "(Home) ", "+44 ", "+44 (0)", "(00 44) ", "0044 ", "Work +44 "};
    s += kLeads[random.Next(kLeads.size())];
    std::string code(rows[random.Next(static_cast<std::uint32_t>(rows.size()))].old_code);
    if (random.Next(3) == 0) code = "0" + random.Digits(1 + random.Next(5));
    if (random.Next(4) == 0) code.erase(0, 1);
    if (random.Next(3) == 0) code = "(" + code + ")";
    s += code;
    constexpr std::array<std::string_view, 6> kSeparators = {" ", "-", ".", "  ", "", "~"};
    for (std::uint32_t groups = random.Next(4); groups > 0; --groups) {
      s += kSeparators[random.Next(kSeparators.size())];
      s += random.Digits(1 + random.Next(6));
    }
    if (random.Next(5) == 0) s += kPieces[random.Next(kPieces.size())];
    return s;
  }
  for (std::uint32_t n = 1 + random.Next(10); n > 0; --n) {
    if (random.Next(3) == 0) {
      s += random.Digits(1 + random.Next(7));
    } else {
      s += kPieces[random.Next(kPieces.size())];
    }
  }
  return s;
}

// A C++ string literal; octal escapes, since a hex escape would swallow a following digit.
std::string Literal(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte >= 0x7f || c == '"' || c == '\\' || c == '?') {
      char escape[5];
      std::snprintf(escape, sizeof escape, "\\%03o", byte);
      out += escape;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

}  // namespace
}  // namespace dialmend

int main(int argc, char** argv) {
  using namespace dialmend;
  if (argc != 2) {
    std::fprintf(stderr, "usage: record_results NUMBERS_FILE > recorded_results.inc\n");
    return 2;
  }
  std::vector<std::string> inputs;
  std::ifstream numbers(argv[1]);
  if (!numbers) {
    std::fprintf(stderr, "Cannot read \"%s\": it does not open.\n", argv[1]);
    return 1;
  }
  for (std::string line; std::getline(numbers, line);) inputs.push_back(line);
  RepeatableRandom random(19990601);
  std::set<std::string> seen(inputs.begin(), inputs.end());
  while (inputs.size() < kGenerated) {
    std::string input = Generated(random);
    if (seen.insert(input).second) inputs.push_back(std::move(input));
  }
  const std::vector<NumberOptions> options = RecordedOptions();
  for (const std::string& input : inputs) {
    std::printf("{%s, %s, 0x%016" PRIx64 "},\n", Literal(input).c_str(),
                Literal(FixNumber(input, NumberOptions{})).c_str(),
                DigestOfResults(input, options));
  }
  return 0;
}
