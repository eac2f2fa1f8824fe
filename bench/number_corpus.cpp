#include "bench/number_corpus.h"

#include <array>
#include <cstdint>
#include <string_view>

#include "engine/code_table.h"

namespace dialmend {
namespace {

// A tiny generator of our own: std's distributions differ between library versions.
class Digits {
 public:
  std::uint32_t Next(std::uint32_t bound) {
    m_state = m_state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<std::uint32_t>(m_state >> 33) % bound;
  }
  std::string Run(std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s.push_back(static_cast<char>('0' + Next(10)));
    return s;
  }

 private:
  std::uint64_t m_state = 20000422;
};

constexpr std::array<std::string_view, 10> kLabels = {
    "", "", "", "(Home) ", "Fax: ", "(Text)", "Home", "{Work} ", "(Old) (Home)", "Tél. "};

constexpr std::array<std::string_view, 12> kOther = {"Text", "[Text]", "*123#",     "#31#",
                                                     "n/a",  "",       "  ",        "ext 21",
                                                     "+",    "+44",    "unknown ☎", "(*21#)"};

std::string Spaced(std::string_view digits, std::size_t at, char separator) {
  std::string s(digits.substr(0, at));
  s.push_back(separator);
  s.append(digits.substr(at));
  return s;
}

}  // namespace

std::vector<std::string> NumberCorpus(std::size_t size) {
  Digits rng;
  std::vector<std::string> corpus;
  corpus.reserve(size);
  const auto rows = CodeChanges();
  while (corpus.size() < size) {
    const std::uint32_t kind = rng.Next(20);
    const std::string label(kLabels[rng.Next(kLabels.size())]);
    if (kind < 10) {
      // An old or current UK number from the table, typed one of several ways.
      const CodeChange& row = rows[rng.Next(static_cast<std::uint32_t>(rows.size()))];
      const std::string local = rng.Run(11 - row.old_code.size() - rng.Next(2));
      const std::string code(row.old_code);
      switch (rng.Next(8)) {
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
          corpus.push_back(label + code + "-" + local + " ext " + rng.Run(2));
          break;
        case 6:
          corpus.push_back("  " + code + "   " + Spaced(local, 2, ' ') + " ");
          break;
        default:
          corpus.push_back(label + code + local);
          break;
      }
    } else if (kind < 14) {
      // UK numbers the table does not know.
      const std::string code = "01" + rng.Run(3);
      corpus.push_back(label + code + " " + rng.Run(6));
      corpus.push_back(label + "07" + rng.Run(3) + " " + Spaced(rng.Run(6), 3, ' '));
    } else if (kind < 18) {
      // Other countries, including bracketed access codes.
      switch (rng.Next(4)) {
        case 0:
          corpus.push_back("+1 " + rng.Run(3) + " " + rng.Run(3) + " " + rng.Run(4));
          break;
        case 1:
          corpus.push_back("(00 1 " + rng.Run(3) + ") " + rng.Run(3) + " " + rng.Run(4));
          break;
        case 2:
          corpus.push_back("+33 1 " + Spaced(rng.Run(8), 4, ' '));
          break;
        default:
          corpus.push_back("(0049) 30 " + rng.Run(7));
          break;
      }
    } else {
      corpus.emplace_back(kOther[rng.Next(kOther.size())]);
    }
  }
  corpus.resize(size);
  return corpus;
}

}  // namespace dialmend
