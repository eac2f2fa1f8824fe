#pragma once

#ifndef _WIN32

#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/atomic_file.h"
#include "platform/atomic_file_common.h"
#include "platform/file_descriptor.h"

namespace dialmend {

class ReadLease;

// The replace of a card read earlier (see WriteFileAtomically), in the order it happens: find
// the file as it was read, write the new content beside it, swap the two names, then make sure
// nobody wrote the old file meanwhile. A replace of a batch leaves the flushes to the batch.
// Nothing here throws: each step returns the failed Status, or nothing when it went well.
class CheckedReplace {
 public:
  CheckedReplace(const std::filesystem::path& path, const std::filesystem::path& target,
                 const FileStamp& expected, const ContentCheck& check, bool batched)
      : m_path(path), m_target(target), m_expected(expected), m_check(check), m_batched(batched) {}

  // The whole replace, unbatched: Prepare(), then Swap().
  Status Run(std::string_view bytes, const HeldFile* read);

  // The file as read, found, and the new content beside it; not yet flushed when batched.
  std::optional<Status> Prepare(std::string_view bytes, const HeldFile* read);

  // The new content's file, open, and the device it is on.
  [[nodiscard]] int TempDescriptor() const { return m_temp.Get(); }
  [[nodiscard]] std::uint64_t Device() const { return static_cast<std::uint64_t>(m_made.st_dev); }

  // Flushes the new content alone, where the whole file system could not be.
  std::optional<Status> SyncTemp() const;

  // Swaps the new content in; batched, the folder is flushed by the batch.
  Status Swap();

  // The file as read found, and the empty temporary file beside it, for a streamed replace.
  std::optional<Status> PrepareStream(const HeldFile* read);

  // What the content of the file as read is compared with, once it is known.
  void SetContentHash(std::uint64_t hash) { m_check.hash = hash; }

  // Appends to the temporary file: 0, or the errno of the failed write.
  [[nodiscard]] int AppendTemp(std::string_view bytes) const;

  // The temporary file, once written, given the old file's attributes and mode and flushed
  // unless batched.
  std::optional<Status> FinishTemp();

  // The failed save of the card, for `reason`, or for the errno `error`.
  Status Fail(std::string_view reason) const;
  Status FailErrno(int error) const;

 private:
  // The file as it was read: held open since, or opened now when the caller kept nothing.
  std::optional<Status> FindAsRead(const HeldFile* read);

  // The new content in a temporary file beside the old, with its owner, group, attributes and
  // mode, flushed to disk.
  std::optional<Status> WriteTemp(std::string_view bytes);

  // The temporary file, made with the old file's owner and group, empty.
  std::optional<Status> StartTemp();

  // Content is compared last, once the old file is out of other programs' reach by its name.
  std::optional<Status> StillAsRead() const;

  // Where the file system cannot swap names: the last look at the old file comes before the
  // rename, which drops it.
  Status RenameOver(const ReadLease& lease);

  // The temporary name now holds the old file, which is removed only once known unchanged.
  Status SettleExchange(const ReadLease& lease);

  // Another program wrote the old file, or put its own in its place: its version goes back.
  Status PutBack(Status changed);

  // Whether `info` has the change time the card was read with, when that is checked.
  bool SameChangeTime(const struct stat& info) const;

  // Flushes the folder after a swap, unless the batch does.
  void FolderChanged() const;

  const std::filesystem::path& m_path;
  const std::filesystem::path& m_target;
  const FileStamp& m_expected;
  ContentCheck m_check;
  bool m_batched;
  // Destroyed in reverse: the temporary file is removed, then closed, then the opened original.
  Descriptor m_opened{-1};
  int m_original_fd = -1;
  struct stat m_original {};
  Descriptor m_temp{-1};
  std::string m_temp_path;
  std::optional<TempFileGuard> m_guard;
  struct stat m_made {};
};

}  // namespace dialmend

#endif
