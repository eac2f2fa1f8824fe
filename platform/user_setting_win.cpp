#include "platform/user_setting.h"

#include <windows.h>

#include <optional>

#include "platform/utf16.h"

namespace dialmend {
namespace {

constexpr wchar_t kKey[] = L"Software\\Dialmend";

}  // namespace

std::string ReadUserSetting(const std::wstring& name) {
  DWORD bytes = 0;
  if (RegGetValueW(HKEY_CURRENT_USER, kKey, name.c_str(), RRF_RT_REG_SZ, nullptr, nullptr,
                   &bytes) != ERROR_SUCCESS ||
      bytes < sizeof(wchar_t)) {
    return {};
  }
  std::wstring value(bytes / sizeof(wchar_t), L'\0');
  if (RegGetValueW(HKEY_CURRENT_USER, kKey, name.c_str(), RRF_RT_REG_SZ, nullptr, value.data(),
                   &bytes) != ERROR_SUCCESS) {
    return {};
  }
  value.resize(wcsnlen(value.c_str(), value.size()));
  return Utf16ToUtf8(value).value_or(std::string());
}

bool WriteUserSetting(const std::wstring& name, const std::string& value) {
  const std::optional<std::wstring> wide = Utf8ToUtf16(value);
  if (!wide) return false;
  const auto bytes = static_cast<DWORD>((wide->size() + 1) * sizeof(wchar_t));
  return RegSetKeyValueW(HKEY_CURRENT_USER, kKey, name.c_str(), REG_SZ, wide->c_str(), bytes) ==
         ERROR_SUCCESS;
}

}  // namespace dialmend
