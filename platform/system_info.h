#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace dialmend {

// Starts the desktop's system information program, detached and not waited for. Returns
// false when none could be started, and the caller tells the user so.
//
// On Linux the first of these found on PATH: kinfocenter (KDE), gnome-control-center's
// "info-overview" panel (GNOME), xfce4-about (Xfce), hardinfo, lshw-gtk. On Windows the tool
// the registry names (MSINFO32).
[[nodiscard]] bool StartSysInfo();

// The message shown when StartSysInfo fails. On Linux it names the programs looked for, so
// the user knows what to install; Windows has one tool, found through the registry.
inline constexpr std::string_view kSysInfoUnavailable =
#ifdef _WIN32
    "System Information Is Unavailable At This Time";
#else
    "System Information Is Unavailable At This Time\n(none of kinfocenter, "
    "gnome-control-center, xfce4-about, hardinfo or lshw-gtk is installed)";
#endif

// Registry value types the lookup reads.
inline constexpr std::uint32_t kRegistryText = 1;    // REG_SZ
inline constexpr std::uint32_t kRegistryNumber = 4;  // REG_DWORD

// Turns the bytes a registry query returned into the text of `key_val`: a text value is taken
// whole less one terminating NUL, a number becomes its signed decimal text, and any other type
// leaves `key_val` as it was.
void DecodeKeyValue(std::uint32_t type, std::string_view data, std::string& key_val);

#ifdef _WIN32
// Reads one registry value under `key_root` (an HKEY) into `key_val`; false, with `key_val`
// empty, when the key cannot be opened or the value is missing or longer than 1024 bytes.
// A value of a type other than text or number reads as true and leaves `key_val` as it was.
[[nodiscard]] bool GetKeyValue(void* key_root, const std::string& key_name,
                               const std::string& sub_key_ref, std::string& key_val);

// Starts the program at `path`, its window shown normally, and does not wait for it. False
// when Windows cannot start it.
[[nodiscard]] bool StartProgram(const std::string& path);

// StartSysInfo with the start of the tool handed to `start_program`, which StartSysInfo()
// sets to StartProgram. The registry's "PATH" value is passed on unchecked; a path built from
// the fallback folder is passed on only when a file is there.
[[nodiscard]] bool StartSysInfo(const std::function<bool(const std::string& path)>& start_program);
#endif

}  // namespace dialmend
