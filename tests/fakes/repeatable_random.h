#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A tiny random source of our own: std's distributions differ between library versions, and
// generated test and benchmark inputs must be the same with every one.

namespace dialmend {

class RepeatableRandom {
 public:
  // The same `seed` gives the same sequence everywhere.
  explicit RepeatableRandom(std::uint64_t seed) : m_state(seed) {}

  // A number below `bound` (which must not be 0).
  std::uint32_t Next(std::uint32_t bound) {
    m_state = m_state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<std::uint32_t>(m_state >> 33) % bound;
  }

  // `n` decimal digits.
  std::string Digits(std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s.push_back(static_cast<char>('0' + Next(10)));
    return s;
  }

 private:
  std::uint64_t m_state;
};

}  // namespace dialmend
