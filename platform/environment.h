#pragma once

#include <chrono>
#include <ctime>
#include <optional>
#include <string>

namespace dialmend {

// The process environment's variable `name` in UTF-8 (on Windows read wide, so a profile folder
// outside the ANSI code page keeps its name); std::nullopt when it is not set.
[[nodiscard]] std::optional<std::string> EnvironmentVariable(const char* name);

// `when` in the local time zone, broken down.
[[nodiscard]] std::tm LocalTime(std::chrono::system_clock::time_point when);

// The time that `local`, a date and time in the local time zone, names; the zone's rules say
// whether summer time applies. std::nullopt when it names none the system can give.
[[nodiscard]] std::optional<std::chrono::system_clock::time_point> TimeOfLocal(std::tm local);

// The time an HTTP date in UTC ("Sun, 06 Nov 1994 08:49:37 GMT") names, to the second;
// std::nullopt for other text.
[[nodiscard]] std::optional<std::chrono::sys_seconds> HttpDate(const std::string& text);

}  // namespace dialmend
