#include "platform/environment.h"

#include <cstdlib>
#include <string_view>

#ifdef _WIN32
#include <iomanip>
#include <sstream>

#include "platform/utf16.h"
#endif

namespace dialmend {

std::optional<std::string> EnvironmentVariable(const char* name) {
#ifdef _WIN32
  const std::wstring wide_name(name, name + std::char_traits<char>::length(name));
  const wchar_t* value = ::_wgetenv(wide_name.c_str());
  if (value == nullptr) return std::nullopt;
  return Utf16ToUtf8Lossy(value);
#else
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
#endif
}

std::tm LocalTime(std::chrono::system_clock::time_point when) {
  const std::time_t time = std::chrono::system_clock::to_time_t(when);
  std::tm local{};
#ifdef _WIN32
  ::localtime_s(&local, &time);
#else
  ::localtime_r(&time, &local);
#endif
  return local;
}

std::optional<std::chrono::system_clock::time_point> TimeOfLocal(std::tm local) {
  local.tm_isdst = -1;
  const std::time_t time = std::mktime(&local);
  if (time == static_cast<std::time_t>(-1)) return std::nullopt;
  return std::chrono::system_clock::from_time_t(time);
}

std::optional<std::chrono::sys_seconds> HttpDate(const std::string& text) {
  constexpr const char* kForm = "%a, %d %b %Y %H:%M:%S GMT";
  std::tm when{};
#ifdef _WIN32
  std::istringstream in(text);
  in >> std::get_time(&when, kForm);
  if (in.fail()) return std::nullopt;
  const std::time_t time = ::_mkgmtime(&when);
#else
  if (::strptime(text.c_str(), kForm, &when) == nullptr) return std::nullopt;
  const std::time_t time = ::timegm(&when);
#endif
  return std::chrono::sys_seconds(std::chrono::seconds(time));
}

}  // namespace dialmend
