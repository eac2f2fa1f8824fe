// The invented contact and group cards the store generator writes, drawn from one seeded
// sequence so the same count always gives the same bytes.

#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "bench/profile_words.h"

namespace dialmend {

// SplitMix64 of our own: std's distributions differ between library versions.
class Random {
 public:
  explicit Random(std::uint64_t seed) : m_state(seed) {}

  std::uint64_t Bits();
  std::uint32_t Below(std::uint32_t bound);
  bool Percent(std::uint32_t percent);

  template <typename T, std::size_t N>
  const T& Pick(const std::array<T, N>& items) {
    return items[Below(static_cast<std::uint32_t>(N))];
  }

  std::string Digits(std::size_t count);
  std::string Hex(std::size_t count, bool upper);
  // A version-4 UUID, as address-book programs make them.
  std::string Uuid(bool upper);

 private:
  std::uint64_t m_state;
};

struct Written {
  std::string uid;  // as the card states it
  std::string file_name;
  bool uuid = false;  // the UID is a UUID, so a group can name it
};

// Writes one contact card's text into `text` and returns its UID and file name.
Written MakeCard(const Folder& folder, Random& random, std::string& text);

// A group card naming some of the folder's contacts; members are URIs, so only UUIDs qualify.
std::string MakeGroup(const Folder& folder, std::span<const Written> members, Random& random,
                      std::string& file_name);

}  // namespace dialmend
