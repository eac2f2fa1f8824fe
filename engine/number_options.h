#pragma once

#include <string>

namespace dialmend {

// The option state the converter reads on every call; the defaults are the start-up values.
struct NumberOptions {
  int style = 0;         // 0 "(020) 1234 5678", 1 "020-1234 5678", 2 "020 1234 5678", 3 "02012345678"
  int prefix = 0;        // 0 leave +44 as found, 1 remove +44, 2 add +44 where there is no prefix
  int leading_zero = 0;  // 0 leave the area code's zero as found, 1 remove it, 2 include it
  bool replace = false;  // custom search-and-replace switch
  std::string find;
  std::string replacement;
};

}  // namespace dialmend
