#include "ui/system_info.h"

#include <algorithm>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#endif

namespace dialmend {

void DecodeKeyValue(std::uint32_t type, std::string_view data, std::string& key_val) {
  if (type == kRegistryText) {
    if (!data.empty() && data.back() == '\0') data.remove_suffix(1);
    key_val.assign(data);
  } else if (type == kRegistryNumber) {
    // The number's own bytes, little-endian; its high zero bytes are not a terminating NUL.
    std::uint32_t bits = 0;
    for (std::size_t i = std::min<std::size_t>(data.size(), 4); i-- > 0;) {
      bits = bits << 8 | static_cast<unsigned char>(data[i]);
    }
    std::int32_t value;
    std::memcpy(&value, &bits, sizeof value);
    key_val = std::to_string(value);
  }
}

#ifdef _WIN32

bool GetKeyValue(void* key_root, const std::string& key_name, const std::string& sub_key_ref,
                 std::string& key_val) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(static_cast<HKEY>(key_root), key_name.c_str(), 0, 0x2003F, &key) != ERROR_SUCCESS) {
    key_val.clear();
    return false;
  }
  char buffer[1024] = {};
  DWORD size = sizeof buffer;
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

bool StartSysInfo() {
  const auto local_machine = reinterpret_cast<void*>(HKEY_LOCAL_MACHINE);
  std::string path;
  if (!GetKeyValue(local_machine, "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO", "PATH", path)) {
    std::string folder;
    if (!GetKeyValue(local_machine, "SOFTWARE\\Microsoft\\Shared Tools Location", "MSINFO", folder)) {
      return false;
    }
    path = folder + "\\MSINFO32.EXE";
    if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) return false;
  }
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

#else

bool StartSysInfo() {
  struct Candidate {
    const char* program;
    const char* argument;
  };
  static constexpr Candidate kPrograms[] = {
      {"kinfocenter", nullptr},
      {"gnome-control-center", "info-overview"},
      {"xfce4-about", nullptr},
      {"hardinfo", nullptr},
      {"lshw-gtk", nullptr},
  };
  for (const Candidate& c : kPrograms) {
    const QString path = QStandardPaths::findExecutable(QString::fromLatin1(c.program));
    if (path.isEmpty()) continue;
    QStringList arguments;
    if (c.argument != nullptr) arguments << QString::fromLatin1(c.argument);
    if (QProcess::startDetached(path, arguments)) return true;
  }
  return false;
}

#endif

}  // namespace dialmend
