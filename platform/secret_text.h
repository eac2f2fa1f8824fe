#pragma once

#ifndef _WIN32

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/result.h"

// A password in memory: kept out of core dumps, wiped when let go, and the process made
// non-dumpable (no core file, no debugger of the same user) while any is held. Nothing here
// throws.

namespace dialmend {

class SecretText {
 public:
  // Holds nothing, and does not count as holding a secret.
  SecretText() = default;
  // A copy of `text` in memory of its own; the caller wipes where `text` came from.
  explicit SecretText(std::string_view text);
  ~SecretText();
  SecretText(SecretText&& other) noexcept;
  SecretText& operator=(SecretText&& other) noexcept;
  SecretText(const SecretText&) = delete;
  SecretText& operator=(const SecretText&) = delete;

  // The text, followed by a NUL for C interfaces.
  [[nodiscard]] const char* CStr() const { return m_data != nullptr ? m_data : ""; }
  [[nodiscard]] std::string_view View() const { return {CStr(), m_size}; }
  [[nodiscard]] std::size_t Size() const { return m_size; }
  [[nodiscard]] bool Empty() const { return m_size == 0; }

  // Room for `size` bytes, the text cut to them: for text read straight into Data().
  [[nodiscard]] static SecretText WithRoom(std::size_t size);
  [[nodiscard]] char* Data() { return m_data; }
  // Cuts the text to its first `size` bytes, wiping the rest.
  void Shorten(std::size_t size);

 private:
  void Release();

  char* m_data = nullptr;
  std::size_t m_size = 0;
  std::size_t m_mapped = 0;
};

// Zeroes the whole buffer of `text`, spare capacity included, and empties it: for a password that
// passed through ordinary memory.
void Wipe(std::string& text);

// The whole regular file at `path`, at most `most` bytes of it, read straight into a secret;
// an empty one when there is no such file. Fails with the reason when it cannot be read.
[[nodiscard]] Result<SecretText> ReadSecretFile(const std::string& path, std::size_t most);

// Makes free() and realloc() of a library that may copy a password wipe each block they let go;
// give these to the library's allocation hooks.
void* WipingRealloc(void* block, std::size_t size);
void WipingFree(void* block);

}  // namespace dialmend

#endif
