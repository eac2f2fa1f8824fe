#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/atomic_file.h"
#include "platform/reason.h"

// The parts of atomic_file.cpp and atomic_file_win.cpp that do not depend on the system: the
// messages, the read loop and the check that a file is still as it was read. Each platform
// file supplies only its system calls.

namespace dialmend {

inline constexpr std::string_view kCannotRead = "Cannot read";
inline constexpr std::string_view kCannotSave = "Cannot save";

// The temporary file WriteFileAtomically writes beside a file is named "." + at most
// kTempNameKeep of the file's name + kTempMarker + kTempRandomLength letters or digits +
// kTempSuffix. IsAtomicTempName recognises exactly these names: change them together.
// 200 leaves room in a name of 255 bytes (POSIX) or UTF-16 units (Windows) for the rest.
inline constexpr std::size_t kTempNameKeep = 200;
inline constexpr std::string_view kTempMarker = ".dialmend-";
inline constexpr std::size_t kTempRandomLength = 6;
inline constexpr std::string_view kTempSuffix = ".tmp";

// The path as the UTF-8 text of a message. Each platform file defines it.
[[nodiscard]] std::string PathText(const std::filesystem::path& path);

// A failed status: `doing` "path": `reason`.
[[nodiscard]] Status FileFailure(std::string_view doing, const std::filesystem::path& path,
                                 std::string reason);

// "16 bytes", "4 KiB", "4 MiB".
[[nodiscard]] std::string SizeText(std::size_t bytes);

// A file opened for reading, as each platform reads it.
class OpenFile {
 public:
  virtual ~OpenFile() = default;
  // Reads at most `size` bytes into `buffer`: how many (0 at the end), or std::nullopt with
  // `reason` set.
  virtual std::optional<std::size_t> Read(char* buffer, std::size_t size, std::string& reason) = 0;
  // The file's stamp now, or std::nullopt with `reason` set.
  virtual std::optional<FileStamp> Stamp(std::string& reason) = 0;
};

// The rest of ReadFileSnapshot once `file` is open, known to be a regular file and stamped
// `before`: reads it whole within `max_bytes` and refuses it if it changed meanwhile.
[[nodiscard]] FileSnapshot ReadOpenFile(OpenFile& file, const std::filesystem::path& path,
                                        std::size_t max_bytes, const FileStamp& before);

// What a checked save compares the file with besides its stamp: its change time, when given,
// and its content: the bytes read, or their ContentHash, or nothing when neither is given.
struct ContentCheck {
  std::optional<std::string_view> bytes;
  std::optional<std::uint64_t> hash;
  std::optional<std::int64_t> change_ns;
};

// The check the Windows WriteFileAtomically makes before and after writing, once the stamp of
// `target` now is known: a failure with `changed_reason` when it is not `expected` or its
// content no longer passes `check`.
[[nodiscard]] Status CheckStillAsRead(const std::filesystem::path& path,
                                      const std::filesystem::path& target, const FileStamp& now,
                                      const FileStamp& expected, const ContentCheck& check,
                                      std::string_view changed_reason);

// WriteFileAtomically, on each platform; `expected` null: no check, and the file may be new.
Status WriteAtomically(const std::filesystem::path& path, std::string_view bytes,
                       const FileStamp* expected, const ContentCheck& check, const HeldFile* read);

// A test seam: lets a test play another program at the worst moments of a checked save, and a
// file system that cannot swap two names. Only tests set it.
struct SaveSeams {
  // Called after the last check and before the replace, then just after the replace.
  std::function<void()> before_replace;
  std::function<void()> after_replace;
  // Acts as if the file system refused to swap names, as some do.
  bool no_exchange = false;
};
[[nodiscard]] SaveSeams& SaveSeamsForTesting();

}  // namespace dialmend
