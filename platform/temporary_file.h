#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/result.h"

// A file for text kept out of memory: no other program sees it by name, and the system removes
// it when it is closed, even when the process dies, so nothing is ever left behind.

namespace dialmend {

class TemporaryFile {
 public:
  TemporaryFile() = default;
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() { Close(); }

  // Makes the file: in $TMPDIR when set, else /var/tmp before /tmp (/tmp is often memory); on
  // Windows in the user's temporary folder. Fails with a message naming the first folder tried
  // and why ('in "/var/tmp": permission denied').
  [[nodiscard]] Status Open();
  [[nodiscard]] bool IsOpen() const;
  void Close();

  // Writes `bytes` at `offset`; fails with the reason.
  [[nodiscard]] Status Write(std::uint64_t offset, std::string_view bytes);
  // Reads `length` bytes at `offset`; fails with the reason, also when the file is shorter.
  [[nodiscard]] Result<std::string> Read(std::uint64_t offset, std::size_t length) const;
  // Empties the file; fails with the reason.
  [[nodiscard]] Status Truncate();

 private:
#ifdef _WIN32
  void* m_handle = nullptr;
#else
  int m_fd = -1;
#endif
};

}  // namespace dialmend
