#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Files written through a C-library descriptor (the activity log, the undo record): the few
// calls that differ between the C libraries, under one set of names. Each returns what the C
// call does (-1 with errno set on failure).

namespace dialmend {

enum class PlainOpen {
  // Created, never through a link, for the owner's eyes only (it holds contacts' numbers).
  New,
  // As New, every write going to the end.
  NewAppending,
  // Opened as it is there for writing, through links (a user's /dev/stdout).
  There,
  // Opened for writing as it is there, but not through a link and without waiting on a FIFO
  // planted at a name of our own.
  OwnThere,
  // An existing file opened to be read and written.
  ReadWrite,
};

[[nodiscard]] int OpenPlainFile(const std::string& path, PlainOpen how);

// Writes some of `size` bytes; how many, or -1.
[[nodiscard]] long WriteSome(int fd, const char* data, std::size_t size);
[[nodiscard]] int SyncToDisk(int fd);
[[nodiscard]] int TruncateFile(int fd, std::uint64_t size);
[[nodiscard]] int SeekToEnd(int fd);
int ClosePlainFile(int fd);

// 1 when `fd` is a regular file, 0 when it is something else, -1 when that cannot be told.
[[nodiscard]] int IsRegularFile(int fd);

// Closes `fd` and removes `path`, but only while `path` still names that file where the system
// can tell: another file put there since is not ours to remove.
void CloseAndRemove(int fd, const std::string& path);

}  // namespace dialmend
