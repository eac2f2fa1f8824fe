#include "bench/number_corpus.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/code_table.h"
#include "tests/fakes/repeatable_random.h"

namespace dialmend {
namespace {

constexpr std::array<std::string_view, 10> kLabels = {
    "", "", "", "(Home) ", "Fax: ", "(Text)", "Home", "{Work} ", "(Old) (Home)", "Tél. "};

constexpr std::array<std::string_view, 13> kOther = {
    "Text",   "[Text]", "*123#", "#31#",      "n/a",    "",          "  ",
    "ext 21", "+",      "+44",   "unknown ☎", "(*21#)", "see e-mail"};

std::string Spaced(std::string_view digits, std::size_t at, char separator) {
  std::string s(digits.substr(0, at));
  s.push_back(separator);
  s.append(digits.substr(at));
  return s;
}

// An old or current UK number from the table, typed one of several ways.
void AddTableNumber(std::vector<std::string>& corpus, RepeatableRandom& rng,
                    const std::string& label, std::span<const CodeChange> rows) {
  const CodeChange& row = rows[rng.Next(static_cast<std::uint32_t>(rows.size()))];
  const std::string local = rng.Digits(11 - row.old_code.size() - rng.Next(2));
  const std::string code(row.old_code);
  switch (rng.Next(9)) {
    case 0:
      corpus.push_back(label + code + " " + Spaced(local, 3, ' '));
      break;
    case 1:
      corpus.push_back(label + "(" + code + ") " + Spaced(local, 3, '-'));
      break;
    case 2:
      corpus.push_back(label + code + "." + Spaced(local, 3, '.'));
      break;
    case 3:
      corpus.push_back(label + "+44 " + code.substr(1) + " " + local);
      break;
    case 4:
      corpus.push_back(label + "+44 (0)" + code.substr(1) + " " + local);
      break;
    case 5:
      corpus.push_back(label + code + "-" + local + " ext " + rng.Digits(2));
      break;
    case 6:
      corpus.push_back("  " + code + "   " + Spaced(local, 2, ' ') + " ");
      break;
    case 7:
      corpus.push_back(label + "0044 " + code.substr(1) + " " + Spaced(local, 3, ' '));
      break;
    default:
      corpus.push_back(label + code + local);
      break;
  }
}

// Other countries, including bracketed access codes.
void AddForeignNumber(std::vector<std::string>& corpus, RepeatableRandom& rng) {
  switch (rng.Next(5)) {
    case 0:
      corpus.push_back("+1 " + rng.Digits(3) + " " + rng.Digits(3) + " " + rng.Digits(4));
      break;
    case 1:
      corpus.push_back("(00 1 " + rng.Digits(3) + ") " + rng.Digits(3) + " " + rng.Digits(4));
      break;
    case 2:
      corpus.push_back("+33 1 " + Spaced(rng.Digits(8), 4, ' '));
      break;
    case 3:
      corpus.push_back("00 49 30 " + rng.Digits(7));
      break;
    default:
      corpus.push_back("(0049) 30 " + rng.Digits(7));
      break;
  }
}

}  // namespace

std::vector<std::string> NumberCorpus(std::size_t size) {
  RepeatableRandom rng(20000422);
  std::vector<std::string> corpus;
  corpus.reserve(size);
  const auto rows = CodeChanges();
  while (corpus.size() < size) {
    const std::uint32_t kind = rng.Next(20);
    const std::string label(kLabels[rng.Next(kLabels.size())]);
    if (kind < 10) {
      AddTableNumber(corpus, rng, label, rows);
    } else if (kind < 14) {
      // UK numbers the table does not know.
      const std::string code = "01" + rng.Digits(3);
      corpus.push_back(label + code + " " + rng.Digits(6));
      corpus.push_back(label + "07" + rng.Digits(3) + " " + Spaced(rng.Digits(6), 3, ' '));
    } else if (kind < 18) {
      AddForeignNumber(corpus, rng);
    } else {
      corpus.emplace_back(kOther[rng.Next(kOther.size())]);
    }
  }
  corpus.resize(size);
  return corpus;
}

}  // namespace dialmend
