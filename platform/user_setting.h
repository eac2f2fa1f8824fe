#pragma once

#include <string>

// One text the program keeps for the user between sittings, on Windows under
// HKEY_CURRENT_USER\Software\Dialmend (elsewhere the window's toolkit keeps its own settings).

namespace dialmend {

#ifdef _WIN32
// The value `name`, as UTF-8; empty when there is none or it cannot be read.
[[nodiscard]] std::string ReadUserSetting(const std::wstring& name);
// Sets `name` to `value`; false when the registry refused it.
bool WriteUserSetting(const std::wstring& name, const std::string& value);
#endif

}  // namespace dialmend
