#pragma once

#include <string>

namespace dialmend {

// How a recognised number is laid out. The first four are the program's styles 0 to 3.
enum class NumberStyle {
  Brackets = 0,  // "(020) 1234 5678"
  Hyphen = 1,    // "020-1234 5678"
  Spaces = 2,    // "020 1234 5678"
  Compact = 3,   // "02012345678"
  Unchanged,     // converts nothing: every number comes back as given
};

// What happens to a +44 prefix; the program's prefix options 0 to 2.
enum class PrefixAction {
  AsFound = 0,  // leave +44 where it is and add none
  Remove = 1,   // remove +44
  Add = 2,      // add +44 where there is no prefix
};

// What happens to the area code's leading zero after +44; the program's zero options 0 to 2.
enum class LeadingZero {
  AsFound = 0,  // leave it as written; drop only a zero the reading put there
  Remove = 1,   // remove it
  Include = 2,  // include it; like AsFound, it never adds a second zero
  Untouched,    // skip the step, so even a zero the reading put there stays
};

// The option state the converter reads on every call; the defaults are the start-up values.
struct NumberOptions {
  NumberStyle style = NumberStyle::Brackets;
  PrefixAction prefix = PrefixAction::AsFound;
  LeadingZero leading_zero = LeadingZero::AsFound;
  bool replace = false;  // custom search-and-replace switch
  std::string find;
  std::string replacement;
  // Leaves every number as written unless an old code (one whose new code differs) is replaced
  // in it or the custom replacement changes it, so a run rewrites only cards with old numbers.
  bool old_codes_only = false;
};

// The options from the program's numbers, as a command line or a dialog gives them. A number
// out of range gives the value that changes nothing for its step: a style converts nothing, a
// prefix leaves +44 as found, a zero option skips its step.
[[nodiscard]] constexpr NumberStyle StyleFromNumber(int number) {
  return number >= 0 && number <= 3 ? static_cast<NumberStyle>(number) : NumberStyle::Unchanged;
}
[[nodiscard]] constexpr PrefixAction PrefixFromNumber(int number) {
  return number >= 0 && number <= 2 ? static_cast<PrefixAction>(number) : PrefixAction::AsFound;
}
[[nodiscard]] constexpr LeadingZero ZeroFromNumber(int number) {
  return number >= 0 && number <= 2 ? static_cast<LeadingZero>(number) : LeadingZero::Untouched;
}

}  // namespace dialmend
