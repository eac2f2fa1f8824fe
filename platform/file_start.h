#pragma once

#include <cstddef>
#include <string>

#include "platform/result.h"

namespace dialmend {

// The first bytes of a small file, and whether the file holds more after them.
struct FileStart {
  std::string bytes;
  bool more = false;
};

// Up to `most` bytes from the start of the file at `path`. Opened without waiting and read only
// when it is a regular file: a FIFO or a device there would block or never end. No file there
// gives no bytes. A failure gives why, as words to sit after a colon ("it is a FIFO, not a
// file", "it cannot be read: permission denied").
[[nodiscard]] Result<FileStart> ReadFileStart(const std::string& path, std::size_t most);

}  // namespace dialmend
