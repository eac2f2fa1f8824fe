#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

// How far a run has come and how long the rest should take, as the terminal's status line and
// the window's title show it.

namespace dialmend {

// The time the contacts not yet done should take at the pace of those done in `elapsed`; none
// until some are done, or when the total is unknown or already passed.
[[nodiscard]] std::optional<std::chrono::steady_clock::duration> TimeLeft(
    std::chrono::steady_clock::duration elapsed, std::int64_t done,
    std::optional<std::int64_t> total);

// "1,234 of 10,000 contacts, about 2 min left": the count, the total when known, and the time
// left once TimeLeft knows it.
[[nodiscard]] std::string ProgressCaption(std::chrono::steady_clock::duration elapsed,
                                          std::int64_t done, std::optional<std::int64_t> total);

}  // namespace dialmend
