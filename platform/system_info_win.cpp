#include "platform/system_info.h"

#include <windows.h>

namespace dialmend {

namespace {

// Query value, set value, create subkey, enumerate subkeys, notify, create link, read control.
constexpr REGSAM kKeyAccess = 0x2003F;
constexpr DWORD kValueLimit = 1024;

bool IsFile(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

bool GetKeyValue(void* key_root, const std::string& key_name, const std::string& sub_key_ref,
                 std::string& key_val) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(static_cast<HKEY>(key_root), key_name.c_str(), 0, kKeyAccess, &key) !=
      ERROR_SUCCESS) {
    key_val.clear();
    return false;
  }
  char buffer[kValueLimit] = {};
  DWORD size = kValueLimit;
  DWORD type = 0;
  const LONG result = RegQueryValueExA(key, sub_key_ref.c_str(), nullptr, &type,
                                       reinterpret_cast<BYTE*>(buffer), &size);
  if (result != ERROR_SUCCESS) {
    key_val.clear();
    RegCloseKey(key);
    return false;
  }
  DecodeKeyValue(type, std::string_view(buffer, size), key_val);
  RegCloseKey(key);
  return true;
}

bool StartProgram(const std::string& path) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION process{};
  std::string command = "\"" + path + "\"";
  if (!CreateProcessA(path.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

bool StartSysInfo(const std::function<bool(const std::string& path)>& start_program) {
  const auto local_machine = reinterpret_cast<void*>(HKEY_LOCAL_MACHINE);
  std::string path;
  if (!GetKeyValue(local_machine, "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO", "PATH", path)) {
    std::string folder;
    if (!GetKeyValue(local_machine, "SOFTWARE\\Microsoft\\Shared Tools Location", "MSINFO",
                     folder)) {
      return false;
    }
    // A folder that already ends with a backslash gets a second one: the path is used as built.
    path = folder + "\\MSINFO32.EXE";
    if (!IsFile(path)) return false;
  }
  return start_program(path);
}

bool StartSysInfo() {
  return StartSysInfo(StartProgram);
}

}  // namespace dialmend
