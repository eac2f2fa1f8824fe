#pragma once

#include <string_view>

namespace dialmend {

// A small profile: an update changes Riverside Dental and Acme and leaves Unchanged as it is.
inline constexpr std::string_view kStore = R"(
location test
user Ann
folder Work
  contact Riverside Dental
    Home: 0171 930 8890
    Mobile: 0370 123456
    Business: (020) 7930 8890
  contact Unchanged
    Home: (020) 7123 4567
  folder Clients
    contact Acme
      Business Fax: 01232 123456
)";

}  // namespace dialmend
