#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/result.h"

// Reading a contact file and replacing it whole without ever leaving it half written. Nothing here
// throws: each call returns its outcome, and the caller logs the message and goes on. A failed
// Status's Message() names the file and the reason (Cannot save "Ann.vcf": permission denied.);
// its Reason() is the reason alone.

namespace dialmend {

// What identifies one version of a file on disk. Sync tools compare the same facts, so an equal
// stamp means nobody has written the file since it was read.
struct FileStamp {
  std::uint64_t size = 0;
  std::int64_t mtime_ns = 0;
  std::uint64_t inode = 0;
  std::uint64_t device = 0;

  friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

// A file kept open from its reading to its saving, so that the save compares with the very file
// that was read, and its number cannot pass to another file meanwhile. Closed when destroyed.
class HeldFile {
 public:
  HeldFile() = default;
  explicit HeldFile(int descriptor) : m_descriptor(descriptor) {}
  HeldFile(HeldFile&& other) noexcept : m_descriptor(std::exchange(other.m_descriptor, -1)) {}
  HeldFile& operator=(HeldFile&& other) noexcept {
    std::swap(m_descriptor, other.m_descriptor);
    return *this;
  }
  ~HeldFile();

  // The open descriptor, or -1 when nothing is held (always on Windows).
  [[nodiscard]] int Descriptor() const { return m_descriptor; }

  // Hands the descriptor to the caller, who closes it.
  int Release() { return std::exchange(m_descriptor, -1); }

 private:
  int m_descriptor = -1;
};

// A file's whole content and the stamp it had when read, or why it could not be read.
struct FileSnapshot {
  std::string bytes;
  FileStamp stamp;
  Status status;
  // The file as read, still open where the system allows it, for WriteFileAtomically.
  HeldFile file;
  // When the file had last changed, and was last written, in a clock tick before its reading
  // began: its change time then (which no program can set back). Any later write then moves its
  // stamp, and any later change its change time; else only its content can tell a write made
  // in that same tick. Never set on Windows.
  std::optional<std::int64_t> settled_change_ns;
};

// Reads a regular file whole. Refuses files larger than `max_bytes`, and files that change while
// being read.
[[nodiscard]] FileSnapshot ReadFileSnapshot(const std::filesystem::path& path,
                                            std::size_t max_bytes);

// The same for the file `opened` holds (as OpenBeneath finds one), named `path` in messages;
// where nothing is held (always on Windows) the file is opened by `path`.
[[nodiscard]] FileSnapshot ReadFileSnapshot(const std::filesystem::path& path,
                                            std::size_t max_bytes, HeldFile opened);

// Replaces the file's content with `bytes`, unless its stamp is no longer `expected` or, when
// `expected_content` is given, its content is no longer that (another program wrote it since it
// was read): an edit by another program is kept, never overwritten. `read`, when given, is the
// file as it was read (FileSnapshot::file) and is what the save compares with. Writes a hidden
// temporary file beside it, flushes it to disk, gives it the file's owner, group, mode and
// extended attributes (its ACL among them) and swaps it with the file, so readers see either the
// old or the new content. Leaves, with the reason, a file the running user may not write, one
// owned by another user, one whose group or attributes cannot be kept, and one with another
// hard link. On failure the file is as it was and no temporary file is left behind. A symbolic
// link is followed, and the file it names is replaced.
Status WriteFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                           const FileStamp& expected,
                           std::optional<std::string_view> expected_content = std::nullopt,
                           const HeldFile* read = nullptr);

// The same for a file that may not exist yet (a log file): whatever is there is replaced; a
// new file gets the permissions the user's umask allows.
Status WriteFileAtomically(const std::filesystem::path& path, std::string_view bytes);

// A hash of a file's content, for comparing it with what was read without keeping those bytes.
[[nodiscard]] std::uint64_t ContentHash(std::string_view bytes);

// ContentHash over bytes given piece by piece: Add() the pieces in order, then Value().
class ContentHasher {
 public:
  void Add(std::string_view bytes);
  [[nodiscard]] std::uint64_t Value() const { return m_value; }

 private:
  std::uint64_t m_value = 14695981039346656037ull;
};

// What a batched save compares a card with before it replaces it: the stamp it was read with
// and the change time of a settled read (FileSnapshot::settled_change_ns) or, without one, the
// ContentHash of the bytes read.
struct AsRead {
  FileStamp stamp;
  std::optional<std::int64_t> change_ns;
  std::optional<std::uint64_t> content_hash;
};

// Replaces of many cards made durable together: one flush of the file system for the whole
// batch and one of each folder, instead of two flushes per card. Each replace keeps every
// promise of WriteFileAtomically; a power cut at any moment leaves each card old or new.
class SaveBatch {
 public:
  SaveBatch();
  ~SaveBatch();
  SaveBatch(SaveBatch&&) noexcept;
  SaveBatch& operator=(SaveBatch&&) noexcept;

  // Holds the replace of `path` by `bytes`, checked against `as_read` and `read` (the file as
  // read, FileSnapshot::file) as WriteFileAtomically checks; nothing is written before Commit().
  void Add(std::filesystem::path path, std::string bytes, AsRead as_read, HeldFile read);

  // How many replaces are held.
  [[nodiscard]] std::size_t Size() const { return m_entries.size(); }

  // Writes every held replace and gives one Status per Add(), in order, as WriteFileAtomically
  // would. The batch is empty afterwards.
  [[nodiscard]] std::vector<Status> Commit();

 private:
  struct Entry {
    std::filesystem::path path;
    std::string bytes;
    AsRead as_read;
    HeldFile read;
  };
  std::vector<Entry> m_entries;
};

// A regular file kept open to be read piece by piece, for a file too large to read whole: what
// ReadFileSnapshot gives but the bytes.
class OpenedFile {
 public:
  OpenedFile();
  ~OpenedFile();
  OpenedFile(const OpenedFile&) = delete;
  OpenedFile& operator=(const OpenedFile&) = delete;

  // Opens the file at `path` and stamps it; fails, with why, when it cannot be read or is not a
  // regular file.
  [[nodiscard]] Status Open(const std::filesystem::path& path);

  // The same for the file `opened` holds, named `path`; opened by `path` when nothing is held.
  [[nodiscard]] Status Open(const std::filesystem::path& path, HeldFile opened);

  // Reads at most `size` bytes from `offset` into `buffer`: how many, 0 at the end, or
  // std::nullopt with `reason` set.
  [[nodiscard]] std::optional<std::size_t> ReadAt(std::uint64_t offset, char* buffer,
                                                  std::size_t size, std::string& reason);

  // The stamp at Open(), and the change time when it had settled (see FileSnapshot).
  [[nodiscard]] const FileStamp& Stamp() const { return m_stamp; }
  [[nodiscard]] std::optional<std::int64_t> SettledChange() const { return m_settled_change_ns; }

  // The file as read, for StreamedReplace to compare with.
  [[nodiscard]] const HeldFile& Held() const { return m_held; }

 private:
  struct Reader;
  std::unique_ptr<Reader> m_reader;
  FileStamp m_stamp;
  std::optional<std::int64_t> m_settled_change_ns;
  HeldFile m_held;
};

// A replace whose new content is written as it is made, for a file too large to hold in memory,
// with every promise and check of WriteFileAtomically (against `as_read`, as SaveBatch checks,
// and `read`, the file as read, which must outlive it). Begin() makes the temporary file,
// Append() fills it, Commit() makes it durable and swaps it in. Dropped without a Commit() that
// succeeded, it leaves the file as it was and no temporary file behind.
class StreamedReplace {
 public:
  StreamedReplace(std::filesystem::path path, AsRead as_read, const HeldFile* read);
  ~StreamedReplace();
  StreamedReplace(const StreamedReplace&) = delete;
  StreamedReplace& operator=(const StreamedReplace&) = delete;

  // Finds the file as read and makes the temporary file beside it; fails, with why, when the
  // file changed since it was read or cannot be replaced.
  [[nodiscard]] Status Begin();

  // Appends to the new content; false once a write failed, whose reason Commit() gives.
  [[nodiscard]] bool Append(std::string_view bytes);

  // Replaces the file with the content appended, or says why not. `content_hash`, when given,
  // is the ContentHash of the file as read, known only once it was read to its end.
  [[nodiscard]] Status Commit(std::optional<std::uint64_t> content_hash = std::nullopt);

 private:
  struct Replace;
  std::unique_ptr<Replace> m_replace;
};

// Whether `name` is a temporary file name WriteFileAtomically makes, so that one left by a
// process killed midway can be told from every other file and removed.
[[nodiscard]] bool IsAtomicTempName(std::string_view name);

// What RemoveLeftovers did: how many files it removed, and the name and reason of each it could
// not.
struct LeftoverRemoval {
  std::size_t removed = 0;
  std::vector<std::pair<std::string, std::string>> failures;
};

// Removes the temporary files a killed run of ours left in `folder`: only regular files with a
// name IsAtomicTempName knows, and with `for_name` given only those made for the file of that
// name, so a folder of other files (an export's Downloads) loses nothing else. Never follows a
// link; a folder that cannot be listed removes nothing.
[[nodiscard]] LeftoverRemoval RemoveLeftovers(const std::filesystem::path& folder,
                                              std::string_view for_name = {});

}  // namespace dialmend
