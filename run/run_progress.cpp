#include "run/run_progress.h"

namespace dialmend {
namespace {

// "9,999,999": counts this long are read at a glance in a title bar.
std::string Grouped(std::int64_t count) {
  const std::string digits = std::to_string(count);
  std::string grouped;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
    grouped += digits[i];
  }
  return grouped;
}

// Whole minutes, as a title that changes once a second would be too busy to read.
std::string AboutText(std::chrono::steady_clock::duration left) {
  const auto minutes = std::chrono::round<std::chrono::minutes>(left).count();
  if (minutes < 1) return "less than a minute left";
  if (minutes < 60) return "about " + std::to_string(minutes) + " min left";
  return "about " + std::to_string(minutes / 60) + " h " + std::to_string(minutes % 60) +
         " min left";
}

}  // namespace

std::optional<std::chrono::steady_clock::duration> TimeLeft(
    std::chrono::steady_clock::duration elapsed, std::int64_t done,
    std::optional<std::int64_t> total) {
  if (!total || done <= 0 || done > *total) return std::nullopt;
  // The rest are taken to go at the same pace.
  return elapsed * (*total - done) / done;
}

std::string ProgressCaption(std::chrono::steady_clock::duration elapsed, std::int64_t done,
                            std::optional<std::int64_t> total) {
  std::string text = Grouped(done);
  if (total && done <= *total) text += " of " + Grouped(*total);
  text += done == 1 && !total ? " contact" : " contacts";
  if (const auto left = TimeLeft(elapsed, done, total)) text += ", " + AboutText(*left);
  return text;
}

}  // namespace dialmend
