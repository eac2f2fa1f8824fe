#include "platform/atomic_file.h"

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/atomic_file_common.h"
#include "platform/system_calls.h"

namespace dialmend {

std::string PathText(const std::filesystem::path& path) {
  return path.string();
}

namespace {

static_assert(kTempRandomLength == 6, "mkostemps fills in exactly six X's");

// The system's words for an errno value, in lower case to sit after a colon.
std::string ReasonOf(int error) {
  return AsReason(std::generic_category().message(error));
}

FileStamp StampOf(const struct stat& info) {
  FileStamp stamp;
  stamp.size = static_cast<std::uint64_t>(info.st_size);
  stamp.mtime_ns = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 +
                   static_cast<std::int64_t>(info.st_mtim.tv_nsec);
  stamp.inode = static_cast<std::uint64_t>(info.st_ino);
  stamp.device = static_cast<std::uint64_t>(info.st_dev);
  return stamp;
}

std::int64_t ChangeTimeOf(const struct stat& info) {
  return static_cast<std::int64_t>(info.st_ctim.tv_sec) * 1'000'000'000 +
         static_cast<std::int64_t>(info.st_ctim.tv_nsec);
}

// Closes the descriptor on every path out of a function.
class Descriptor {
 public:
  explicit Descriptor(int fd) : m_fd(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (m_fd >= 0) Sys().close(m_fd);
  }

  int Get() const { return m_fd; }

  // Hands the descriptor to the caller, who closes it.
  int Release() { return std::exchange(m_fd, -1); }

  void Reset(int fd) {
    if (m_fd >= 0) Sys().close(m_fd);
    m_fd = fd;
  }

  // Closes now, so the caller sees the error a late write-back may report.
  int Close() {
    const int result = Sys().close(m_fd);
    m_fd = -1;
    return result;
  }

 private:
  int m_fd;
};

// Removes the temporary file unless it was renamed into place.
class TempFileGuard {
 public:
  explicit TempFileGuard(std::string path) : m_path(std::move(path)) {}
  TempFileGuard(const TempFileGuard&) = delete;
  TempFileGuard& operator=(const TempFileGuard&) = delete;
  ~TempFileGuard() {
    if (!m_kept) Sys().unlink(m_path.c_str());
  }

  void Keep() { m_kept = true; }

 private:
  std::string m_path;
  bool m_kept = false;
};

// Returns 0, or the errno of the failed write.
int WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = Sys().write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return 0;
}

// Reads and stamps an open descriptor for ReadOpenFile.
class DescriptorReader : public OpenFile {
 public:
  explicit DescriptorReader(int fd) : m_fd(fd) {}

  std::optional<std::size_t> Read(char* buffer, std::size_t size, std::string& reason) override {
    for (;;) {
      const ssize_t got = ::read(m_fd, buffer, size);
      if (got >= 0) return static_cast<std::size_t>(got);
      if (errno == EINTR) continue;
      reason = ReasonOf(errno);
      return std::nullopt;
    }
  }

  std::optional<FileStamp> Stamp(std::string& reason) override {
    if (::fstat(m_fd, &m_last) != 0) {
      reason = ReasonOf(errno);
      return std::nullopt;
    }
    return StampOf(m_last);
  }

  // The change time the last Stamp() saw.
  [[nodiscard]] std::int64_t LastChange() const { return ChangeTimeOf(m_last); }

 private:
  int m_fd;
  struct stat m_last {};
};

constexpr std::string_view kChangedAfterRead = "another program changed it after it was read";
constexpr std::string_view kChangedWhileSaving =
    "another program changed it while it was being saved";

constexpr std::string_view kOpenForWriting = "another program has it open for writing";

// A read lease on the card as read, held across the swap of names. Taking one fails while any
// program has the file open for writing; once held, a program that opens the old file for
// writing waits until it is let go, and the lease shows that it is wanted. So a writer that
// reached the old file just before the swap is seen, and its version put back, before it can
// write into a file that no longer has the card's name.
class ReadLease {
 public:
  enum class Outcome { Held, OpenForWriting, Unsupported };

  explicit ReadLease(int fd) : m_fd(fd) {
    // A broken lease is signalled with SIGIO, whose default ends the process; the lease itself
    // tells all that is needed.
    static std::once_flag ignore_signal;
    std::call_once(ignore_signal, [] {
      struct sigaction current {};
      if (::sigaction(SIGIO, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
        ::signal(SIGIO, SIG_IGN);
      }
    });
    if (Sys().set_lease(m_fd, F_RDLCK) == 0) {
      m_outcome = Outcome::Held;
    } else if (errno == EAGAIN) {
      m_outcome = Outcome::OpenForWriting;
    }
    // Other refusals (a file system without leases, a file of another owner) leave the checks
    // of stamp and content alone to guard the swap.
  }
  ReadLease(const ReadLease&) = delete;
  ReadLease& operator=(const ReadLease&) = delete;
  ~ReadLease() {
    if (m_outcome == Outcome::Held) Sys().set_lease(m_fd, F_UNLCK);
  }

  [[nodiscard]] Outcome Taken() const { return m_outcome; }
  // Whether another program has asked to open the file for writing since the lease was taken.
  [[nodiscard]] bool Wanted() const {
    return m_outcome == Outcome::Held && Sys().get_lease(m_fd) != F_RDLCK;
  }

 private:
  int m_fd;
  Outcome m_outcome = Outcome::Unsupported;
};

// Whether the file behind `fd` holds exactly `expected`, read from its start without moving the
// descriptor's offset; std::nullopt with `reason` set when it cannot be read.
std::optional<bool> HoldsExactly(int fd, std::string_view expected, std::string& reason) {
  char buffer[16 * 1024];
  std::size_t offset = 0;
  for (;;) {
    const ssize_t got = ::pread(fd, buffer, sizeof buffer, static_cast<off_t>(offset));
    if (got < 0) {
      if (errno == EINTR) continue;
      reason = ReasonOf(errno);
      return std::nullopt;
    }
    const auto count = static_cast<std::size_t>(got);
    if (count == 0) return offset == expected.size();
    if (count > expected.size() - offset ||
        std::memcmp(buffer, expected.data() + offset, count) != 0) {
      return false;
    }
    offset += count;
  }
}

// Whether the file behind `fd` hashes to `expected`, as HoldsExactly.
std::optional<bool> HashesTo(int fd, std::uint64_t expected, std::string& reason) {
  char buffer[16 * 1024];
  ContentHasher hasher;
  for (off_t offset = 0;;) {
    const ssize_t got = ::pread(fd, buffer, sizeof buffer, offset);
    if (got < 0) {
      if (errno == EINTR) continue;
      reason = ReasonOf(errno);
      return std::nullopt;
    }
    if (got == 0) return hasher.Value() == expected;
    hasher.Add(std::string_view(buffer, static_cast<std::size_t>(got)));
    offset += got;
  }
}

// The names of the extended attributes of `fd`, each ended by a zero byte; empty where the file
// system keeps none. std::nullopt with `reason` set on failure.
std::optional<std::string> AttributeNames(int fd, std::string& reason) {
  std::string names;
  for (;;) {
    const ssize_t size = Sys().flistxattr(fd, nullptr, 0);
    if (size < 0 && errno == ENOTSUP) return names;
    if (size < 0) break;
    names.resize(static_cast<std::size_t>(size));
    if (size == 0) return names;
    const ssize_t got = Sys().flistxattr(fd, names.data(), names.size());
    if (got >= 0) {
      names.resize(static_cast<std::size_t>(got));
      return names;
    }
    // ERANGE: an attribute was added since the size was asked.
    if (errno != ERANGE) break;
  }
  reason = ReasonOf(errno);
  return std::nullopt;
}

// The value of attribute `name` of `fd`; std::nullopt with `error` set when it has none or it
// cannot be read.
std::optional<std::string> AttributeValue(int fd, const char* name, int& error) {
  std::string value;
  for (;;) {
    const ssize_t size = Sys().fgetxattr(fd, name, nullptr, 0);
    if (size < 0) break;
    value.resize(static_cast<std::size_t>(size));
    const ssize_t got = Sys().fgetxattr(fd, name, value.data(), value.size());
    if (got >= 0) {
      value.resize(static_cast<std::size_t>(got));
      return value;
    }
    if (errno != ERANGE) break;
  }
  error = errno;
  return std::nullopt;
}

bool Listed(std::string_view names, std::string_view name) {
  for (std::size_t at = 0; at < names.size();) {
    const std::size_t end = names.find('\0', at);
    if (names.substr(at, end - at) == name) return true;
    if (end == std::string_view::npos) break;
    at = end + 1;
  }
  return false;
}

// Gives `to` exactly the extended attributes of `from`, the ACL (system.posix_acl_access) among
// them. Returns why not, or an empty text.
std::string CopyAttributes(int from, int to) {
  std::string reason;
  const std::optional<std::string> wanted = AttributeNames(from, reason);
  if (!wanted) return reason;
  const std::optional<std::string> present = AttributeNames(to, reason);
  if (!present) return reason;
  // The new file may have inherited attributes of its own, such as the folder's default ACL.
  for (const char* name = present->c_str(); name < present->c_str() + present->size();
       name += std::strlen(name) + 1) {
    if (!Listed(*wanted, name) && Sys().fremovexattr(to, name) != 0 && errno != ENODATA) {
      return std::string(name) + ": " + ReasonOf(errno);
    }
  }
  for (const char* name = wanted->c_str(); name < wanted->c_str() + wanted->size();
       name += std::strlen(name) + 1) {
    int error = 0;
    const std::optional<std::string> value = AttributeValue(from, name, error);
    if (!value) return std::string(name) + ": " + ReasonOf(error);
    // A label the new file already carries needs no privilege to keep.
    int unused = 0;
    if (Listed(*present, name) && AttributeValue(to, name, unused) == value) continue;
    if (Sys().fsetxattr(to, name, value->data(), value->size(), 0) != 0) {
      return std::string(name) + ": " + ReasonOf(errno);
    }
  }
  return reason;
}

// Whether the file named `path` is the one open as `info`.
bool IsFileAt(const char* path, const struct stat& info) {
  struct stat named {};
  return ::lstat(path, &named) == 0 && named.st_ino == info.st_ino && named.st_dev == info.st_dev;
}

// The hidden temporary file beside `target`, created and open for writing.
Descriptor MakeTempFile(const std::filesystem::path& target, std::string& temp_path) {
  std::filesystem::path folder = target.parent_path();
  if (folder.empty()) folder = ".";
  // The dot hides the file, and the suffix keeps sync tools from taking it for a card.
  const std::string name = target.filename().string();
  std::string temp_name = "." + name.substr(0, kTempNameKeep);
  temp_name += kTempMarker;
  temp_name.append(kTempRandomLength, 'X');
  temp_name += kTempSuffix;
  temp_path = (folder / temp_name).string();
  return Descriptor(
      Sys().mkostemps(temp_path.data(), static_cast<int>(kTempSuffix.size()), O_CLOEXEC));
}

// The folder `target` is in.
std::filesystem::path FolderOf(const std::filesystem::path& target) {
  std::filesystem::path folder = target.parent_path();
  return folder.empty() ? std::filesystem::path(".") : folder;
}

// Flushes `folder`: without this a rename in it may not survive a power cut.
void SyncFolderAt(const std::filesystem::path& folder) {
  Descriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  // The new content is in place whatever this gives: some file systems cannot flush a folder.
  if (directory.Get() >= 0) (void)Sys().fsync(directory.Get());
}

// Flushes the folder of `target`.
void SyncFolder(const std::filesystem::path& target) {
  SyncFolderAt(FolderOf(target));
}

// The replace of a file that may not exist yet and is not compared with anything (a log file).
Status ReplaceUnchecked(const std::filesystem::path& path, const std::filesystem::path& target,
                        std::string_view bytes) {
  struct stat original {};
  const bool exists = ::stat(target.c_str(), &original) == 0;
  if (!exists && errno != ENOENT) return FileFailure(kCannotSave, path, ReasonOf(errno));
  if (!exists) {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    original.st_mode = 0666 & ~mask;
    original.st_uid = ::geteuid();
    original.st_gid = ::getegid();
  }
  std::string temp_path;
  Descriptor temp = MakeTempFile(target, temp_path);
  if (temp.Get() < 0) return FileFailure(kCannotSave, path, ReasonOf(errno));
  TempFileGuard guard(temp_path);

  if (const int error = WriteAll(temp.Get(), bytes); error != 0) {
    return FileFailure(kCannotSave, path, ReasonOf(error));
  }
  if (Sys().fchmod(temp.Get(), original.st_mode & 07777) != 0) {
    return FileFailure(kCannotSave, path, ReasonOf(errno));
  }
  if (original.st_uid != ::geteuid() || original.st_gid != ::getegid()) {
    // Only root may give a file away; anyone else makes the file theirs, as any editor does.
    if (Sys().fchown(temp.Get(), original.st_uid, original.st_gid) != 0 && errno != EPERM) {
      return FileFailure(kCannotSave, path, ReasonOf(errno));
    }
  }
  if (Sys().fsync(temp.Get()) != 0) return FileFailure(kCannotSave, path, ReasonOf(errno));
  if (temp.Close() != 0) return FileFailure(kCannotSave, path, ReasonOf(errno));
  if (Sys().rename(temp_path.c_str(), target.c_str()) != 0) {
    return FileFailure(kCannotSave, path, ReasonOf(errno));
  }
  guard.Keep();
  SyncFolder(target);
  return Status{};
}

// The replace of a card read earlier (see WriteFileAtomically), in the order it happens: find
// the file as it was read, write the new content beside it, swap the two names, then make sure
// nobody wrote the old file meanwhile. A replace of a batch leaves the flushes to the batch.
class CheckedReplace {
 public:
  CheckedReplace(const std::filesystem::path& path, const std::filesystem::path& target,
                 const FileStamp& expected, const ContentCheck& check, bool batched)
      : m_path(path), m_target(target), m_expected(expected), m_check(check), m_batched(batched) {}

  Status Run(std::string_view bytes, const HeldFile* read) {
    if (std::optional<Status> failed = Prepare(bytes, read)) return std::move(*failed);
    return Swap();
  }

  // The file as read, found, and the new content beside it; not yet flushed when batched.
  std::optional<Status> Prepare(std::string_view bytes, const HeldFile* read) {
    if (std::optional<Status> failed = FindAsRead(read)) return failed;
    return WriteTemp(bytes);
  }

  // The file as read found, and the empty temporary file beside it, for a streamed replace.
  std::optional<Status> PrepareStream(const HeldFile* read) {
    if (std::optional<Status> failed = FindAsRead(read)) return failed;
    return StartTemp();
  }

  // What the content of the file as read is compared with, once it is known.
  void SetContentHash(std::uint64_t hash) { m_check.hash = hash; }

  // The new content's file, open, and the device it is on.
  [[nodiscard]] int TempDescriptor() const { return m_temp.Get(); }
  [[nodiscard]] std::uint64_t Device() const { return static_cast<std::uint64_t>(m_made.st_dev); }

  // Flushes the new content alone, where the whole file system could not be.
  std::optional<Status> SyncTemp() const {
    if (Sys().fsync(m_temp.Get()) != 0) return Fail(ReasonOf(errno));
    return std::nullopt;
  }

  // Swaps the new content in; batched, the folder is flushed by the batch.
  Status Swap() {
    SaveSeams& seams = SaveSeamsForTesting();
    if (seams.before_replace) seams.before_replace();
    if (!IsFileAt(m_target.c_str(), m_original)) {
      if (::access(m_target.c_str(), F_OK) != 0 && errno == ENOENT) return FailErrno(ENOENT);
      return Fail(kChangedWhileSaving);
    }
    // Held until the swap is settled: by then the old file is removed or back under its name.
    const ReadLease lease(m_original_fd);
    if (lease.Taken() == ReadLease::Outcome::OpenForWriting) return Fail(kOpenForWriting);
    if (m_check.change_ns) {
      // Last before the swap, which itself changes the old file's change time.
      struct stat now {};
      if (::fstat(m_original_fd, &now) != 0) return Fail(ReasonOf(errno));
      if (!SameChangeTime(now)) return Fail(kChangedWhileSaving);
    }
    const bool exchanged =
        !seams.no_exchange && Sys().renameat2(AT_FDCWD, m_temp_path.c_str(), AT_FDCWD,
                                              m_target.c_str(), RENAME_EXCHANGE) == 0;
    if (exchanged) return SettleExchange(lease);
    if (!seams.no_exchange && errno != EINVAL && errno != ENOSYS) return FailErrno(errno);
    return RenameOver(lease);
  }

  Status Fail(std::string_view reason) const {
    return FileFailure(kCannotSave, m_path, std::string(reason));
  }
  Status FailErrno(int error) const {
    return Fail(error == ENOENT ? "it was removed after it was read" : ReasonOf(error));
  }

  // Appends to the temporary file: 0, or the errno of the failed write.
  int AppendTemp(std::string_view bytes) const { return WriteAll(m_temp.Get(), bytes); }

  // The temporary file, once written, given the old file's attributes and mode and flushed
  // unless batched.
  std::optional<Status> FinishTemp() {
    if (const std::string reason = CopyAttributes(m_original_fd, m_temp.Get()); !reason.empty()) {
      return Fail("its extended attributes could not be copied: " + reason);
    }
    // After the chown, which clears the set-id bits, and after the ACL, whose mask follows the
    // group bits set here.
    if (Sys().fchmod(m_temp.Get(), m_original.st_mode & 07777) != 0) return Fail(ReasonOf(errno));
    if (::fstat(m_temp.Get(), &m_made) != 0) return Fail(ReasonOf(errno));
    if ((m_made.st_mode & 07777) != (m_original.st_mode & 07777)) {
      return Fail("its permissions could not be kept");
    }
    if (!m_batched) return SyncTemp();
    return std::nullopt;
  }

 private:
  // The file as it was read: held open since, or opened now when the caller kept nothing.
  std::optional<Status> FindAsRead(const HeldFile* read) {
    m_original_fd = read != nullptr ? read->Descriptor() : -1;
    if (m_original_fd < 0) {
      m_opened.Reset(::open(m_target.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
      if (m_opened.Get() < 0) return FailErrno(errno);
      m_original_fd = m_opened.Get();
    }
    if (::fstat(m_original_fd, &m_original) != 0) return FailErrno(errno);
    struct stat named {};
    if (::stat(m_target.c_str(), &named) != 0) return FailErrno(errno);
    if (StampOf(m_original) != m_expected || named.st_ino != m_original.st_ino ||
        named.st_dev != m_original.st_dev || !SameChangeTime(m_original)) {
      return Fail(kChangedAfterRead);
    }
    if (!S_ISREG(m_original.st_mode)) return Fail("it is not a regular file");
    if (m_original.st_nlink > 1) {
      return Fail("it has another hard link, which a replace would break");
    }
    return std::nullopt;
  }

  // The new content in a temporary file beside the old, with its owner, group, attributes and
  // mode, flushed to disk.
  std::optional<Status> WriteTemp(std::string_view bytes) {
    if (std::optional<Status> failed = StartTemp()) return failed;
    if (const int error = WriteAll(m_temp.Get(), bytes); error != 0) return Fail(ReasonOf(error));
    return FinishTemp();
  }

  // The temporary file, made with the old file's owner and group, empty.
  std::optional<Status> StartTemp() {
    // Kept open to the end, so that its number stays ours while the names are swapped; fsync
    // reports any error of the write.
    m_temp.Reset(MakeTempFile(m_target, m_temp_path).Release());
    if (m_temp.Get() < 0) return Fail(ReasonOf(errno));
    m_guard.emplace(m_temp_path);
    if (::fstat(m_temp.Get(), &m_made) != 0) return Fail(ReasonOf(errno));
    if (m_made.st_uid != m_original.st_uid || m_made.st_gid != m_original.st_gid) {
      // Only root may give a file away, and only a member may give it a group: anyone else would
      // take the card from its owner or open it to another group.
      const bool same_owner = m_made.st_uid == m_original.st_uid;
      if (Sys().fchown(m_temp.Get(), same_owner ? static_cast<uid_t>(-1) : m_original.st_uid,
                       m_original.st_gid) != 0) {
        if (errno != EPERM) return Fail(ReasonOf(errno));
        return Fail(same_owner ? "its group could not be kept" : "it is owned by another user");
      }
    }
    // A rename into a writable folder ignores the file's own mode; the card's owner may have made
    // it read-only on purpose.
    if (::faccessat(AT_FDCWD, m_target.c_str(), W_OK, AT_EACCESS) != 0) {
      return Fail(errno == EACCES ? std::string("it is read-only") : ReasonOf(errno));
    }
    return std::nullopt;
  }

  // Content is compared last, once the old file is out of other programs' reach by its name.
  std::optional<Status> StillAsRead() const {
    struct stat now {};
    if (::fstat(m_original_fd, &now) != 0) return Fail(ReasonOf(errno));
    if (StampOf(now) != m_expected) return Fail(kChangedWhileSaving);
    if (!m_check.bytes && !m_check.hash) return std::nullopt;
    std::string reason;
    const std::optional<bool> same = m_check.bytes
                                         ? HoldsExactly(m_original_fd, *m_check.bytes, reason)
                                         : HashesTo(m_original_fd, *m_check.hash, reason);
    if (!same) return Fail(reason);
    if (!*same) return Fail(kChangedWhileSaving);
    return std::nullopt;
  }

  // Where the file system cannot swap names: the last look at the old file comes before the
  // rename, which drops it.
  Status RenameOver(const ReadLease& lease) {
    if (lease.Wanted()) return Fail(kChangedWhileSaving);
    if (std::optional<Status> changed = StillAsRead()) return std::move(*changed);
    if (Sys().rename(m_temp_path.c_str(), m_target.c_str()) != 0) return Fail(ReasonOf(errno));
    m_guard->Keep();
    if (SaveSeamsForTesting().after_replace) SaveSeamsForTesting().after_replace();
    FolderChanged();
    return Status{};
  }

  // The temporary name now holds the old file, which is removed only once known unchanged.
  Status SettleExchange(const ReadLease& lease) {
    m_guard->Keep();
    if (SaveSeamsForTesting().after_replace) SaveSeamsForTesting().after_replace();
    std::optional<Status> changed;
    if (!IsFileAt(m_temp_path.c_str(), m_original) || lease.Wanted()) {
      changed = Fail(kChangedWhileSaving);
    } else {
      changed = StillAsRead();
    }
    if (!changed) {
      if (Sys().unlink(m_temp_path.c_str()) != 0) {
        return Fail("it was saved, but its old version could not be removed from \"" + m_temp_path +
                    "\": " + ReasonOf(errno));
      }
      FolderChanged();
      return Status{};
    }
    return PutBack(std::move(*changed));
  }

  // Another program wrote the old file, or put its own in its place: its version goes back.
  Status PutBack(Status changed) {
    if (Sys().renameat2(AT_FDCWD, m_temp_path.c_str(), AT_FDCWD, m_target.c_str(),
                        RENAME_EXCHANGE) != 0) {
      return Fail(std::string(kChangedWhileSaving) + ", and its version could not be put back: " +
                  ReasonOf(errno) + "; it is kept as \"" + m_temp_path + "\"");
    }
    if (!IsFileAt(m_temp_path.c_str(), m_made)) {
      // A third version came by name meanwhile; neither is ours to remove.
      return Fail(std::string(kChangedWhileSaving) + "; another version of it is kept as \"" +
                  m_temp_path + "\"");
    }
    if (Sys().unlink(m_temp_path.c_str()) != 0) {
      return Fail(std::string(kChangedWhileSaving) + "; our version is left as \"" + m_temp_path +
                  "\": " + ReasonOf(errno));
    }
    FolderChanged();
    return changed;
  }

  bool SameChangeTime(const struct stat& info) const {
    return !m_check.change_ns || ChangeTimeOf(info) == *m_check.change_ns;
  }

  void FolderChanged() const {
    if (!m_batched) SyncFolder(m_target);
  }

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

// The file a save of `path` replaces: the file a symbolic link names, not the link.
Status ResolveTarget(const std::filesystem::path& path, std::filesystem::path& target) {
  target = path;
  struct stat link {};
  if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
    // Renaming over the link would turn it into a plain file and leave the linked file stale.
    std::error_code error;
    target = std::filesystem::canonical(path, error);
    if (error) return FileFailure(kCannotSave, path, ReasonOf(error.value()));
  }
  return Status{};
}

// Flushes the new files of a batch: one syncfs for each file system they are on, or, where that
// fails, each file on its own; a file that cannot be flushed fails and its replace is dropped.
void MakeDurable(std::vector<std::unique_ptr<CheckedReplace>>& replaces,
                 std::vector<Status>& results) {
  std::vector<std::pair<std::uint64_t, bool>> devices;
  const auto synced = [&](std::uint64_t device) {
    return std::find_if(devices.begin(), devices.end(),
                        [&](const auto& known) { return known.first == device; });
  };
  for (const std::unique_ptr<CheckedReplace>& replace : replaces) {
    if (!replace || synced(replace->Device()) != devices.end()) continue;
    devices.emplace_back(replace->Device(), Sys().syncfs(replace->TempDescriptor()) == 0);
  }
  for (std::size_t i = 0; i < replaces.size(); ++i) {
    if (!replaces[i] || synced(replaces[i]->Device())->second) continue;
    if (std::optional<Status> failed = replaces[i]->SyncTemp()) {
      results[i] = std::move(*failed);
      replaces[i].reset();
    }
  }
}

}  // namespace

HeldFile::~HeldFile() {
  if (m_descriptor >= 0) Sys().close(m_descriptor);
}

FileSnapshot ReadFileSnapshot(const std::filesystem::path& path, std::size_t max_bytes) {
  FileSnapshot snapshot;
  // Without O_NONBLOCK a FIFO in the folder would hang the walk in open().
  Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (file.Get() < 0) {
    snapshot.status = FileFailure(kCannotRead, path, ReasonOf(errno));
    return snapshot;
  }
  struct stat before {};
  if (::fstat(file.Get(), &before) != 0) {
    snapshot.status = FileFailure(kCannotRead, path, ReasonOf(errno));
    return snapshot;
  }
  if (!S_ISREG(before.st_mode)) {
    snapshot.status = FileFailure(kCannotRead, path, "it is not a regular file");
    return snapshot;
  }
  // Taken before the read: a change after the read's last look at the file gets a change time
  // at least this late, so a file that last changed earlier shows any later write in its stamp.
  struct timespec start {};
  ::clock_gettime(CLOCK_REALTIME_COARSE, &start);
  const std::int64_t start_ns = static_cast<std::int64_t>(start.tv_sec) * 1'000'000'000 +
                                static_cast<std::int64_t>(start.tv_nsec);
  DescriptorReader reader(file.Get());
  snapshot = ReadOpenFile(reader, path, max_bytes, StampOf(before));
  if (!snapshot.status.Ok()) return snapshot;
  snapshot.file = HeldFile(file.Release());
  if (reader.LastChange() < start_ns && snapshot.stamp.mtime_ns < start_ns) {
    snapshot.settled_change_ns = reader.LastChange();
  }
  return snapshot;
}

Status WriteAtomically(const std::filesystem::path& path, std::string_view bytes,
                       const FileStamp* expected, const ContentCheck& check, const HeldFile* read) {
  std::filesystem::path target;
  if (Status status = ResolveTarget(path, target); !status.Ok()) return status;
  if (expected == nullptr) return ReplaceUnchecked(path, target, bytes);
  return CheckedReplace(path, target, *expected, check, false).Run(bytes, read);
}

// POSIX reads through the held descriptor itself.
struct OpenedFile::Reader {};

OpenedFile::OpenedFile() = default;
OpenedFile::~OpenedFile() = default;

Status OpenedFile::Open(const std::filesystem::path& path) {
  Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (file.Get() < 0) return FileFailure(kCannotRead, path, ReasonOf(errno));
  struct timespec start {};
  ::clock_gettime(CLOCK_REALTIME_COARSE, &start);
  const std::int64_t start_ns = static_cast<std::int64_t>(start.tv_sec) * 1'000'000'000 +
                                static_cast<std::int64_t>(start.tv_nsec);
  struct stat info {};
  if (::fstat(file.Get(), &info) != 0) return FileFailure(kCannotRead, path, ReasonOf(errno));
  if (!S_ISREG(info.st_mode)) return FileFailure(kCannotRead, path, "it is not a regular file");
  m_stamp = StampOf(info);
  // As ReadFileSnapshot: a file that last changed before this tick shows any later change in
  // its change time, and its content need not be hashed.
  if (ChangeTimeOf(info) < start_ns && m_stamp.mtime_ns < start_ns) {
    m_settled_change_ns = ChangeTimeOf(info);
  }
  m_held = HeldFile(file.Release());
  return Status{};
}

std::optional<std::size_t> OpenedFile::ReadAt(std::uint64_t offset, char* buffer, std::size_t size,
                                              std::string& reason) {
  for (;;) {
    const ssize_t got = ::pread(m_held.Descriptor(), buffer, size, static_cast<off_t>(offset));
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno == EINTR) continue;
    reason = ReasonOf(errno);
    return std::nullopt;
  }
}

struct StreamedReplace::Replace {
  Replace(std::filesystem::path given, AsRead read_as, const HeldFile* held)
      : path(std::move(given)),
        as_read(read_as),
        read(held),
        checked(path, target, as_read.stamp,
                ContentCheck{std::nullopt, as_read.content_hash, as_read.change_ns}, false) {}

  std::filesystem::path path;
  std::filesystem::path target;
  AsRead as_read;
  const HeldFile* read;
  CheckedReplace checked;
  bool begun = false;
  int write_error = 0;
};

StreamedReplace::StreamedReplace(std::filesystem::path path, AsRead as_read, const HeldFile* read)
    : m_replace(std::make_unique<Replace>(std::move(path), as_read, read)) {}

StreamedReplace::~StreamedReplace() = default;

Status StreamedReplace::Begin() {
  if (Status status = ResolveTarget(m_replace->path, m_replace->target); !status.Ok()) {
    return status;
  }
  if (std::optional<Status> failed = m_replace->checked.PrepareStream(m_replace->read)) {
    return std::move(*failed);
  }
  m_replace->begun = true;
  return Status{};
}

bool StreamedReplace::Append(std::string_view bytes) {
  if (!m_replace->begun || m_replace->write_error != 0) return false;
  m_replace->write_error = m_replace->checked.AppendTemp(bytes);
  return m_replace->write_error == 0;
}

Status StreamedReplace::Commit(std::optional<std::uint64_t> content_hash) {
  if (!m_replace->begun) return m_replace->checked.Fail("its new content was never begun");
  if (content_hash) m_replace->checked.SetContentHash(*content_hash);
  m_replace->begun = false;
  if (m_replace->write_error != 0) {
    return m_replace->checked.Fail(ReasonOf(m_replace->write_error));
  }
  if (std::optional<Status> failed = m_replace->checked.FinishTemp()) return std::move(*failed);
  return m_replace->checked.Swap();
}

// The order makes a power cut harmless at every step. Until the renames, every card's name
// still leads to its old file, untouched. The new files are durable before the first rename
// (the flush below), so each rename, which moves one name at once, points a card's name at
// either the old file or a complete new one; the old file stays whole under a temporary name
// until it is removed, and the next update run removes such leftovers. The folders are flushed
// last, so that the renames themselves survive; before that a cut simply keeps old cards.
std::vector<Status> SaveBatch::Commit() {
  std::vector<Entry> entries = std::exchange(m_entries, {});
  std::vector<Status> results(entries.size());
  std::vector<std::filesystem::path> targets(entries.size());
  std::vector<std::unique_ptr<CheckedReplace>> replaces(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const Entry& entry = entries[i];
    results[i] = ResolveTarget(entry.path, targets[i]);
    if (!results[i].Ok()) continue;
    auto replace = std::make_unique<CheckedReplace>(
        entry.path, targets[i], entry.as_read.stamp,
        ContentCheck{std::nullopt, entry.as_read.content_hash, entry.as_read.change_ns}, true);
    if (std::optional<Status> failed = replace->Prepare(entry.bytes, &entry.read)) {
      results[i] = std::move(*failed);
      continue;
    }
    replaces[i] = std::move(replace);
  }
  MakeDurable(replaces, results);
  std::vector<std::filesystem::path> folders;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (!replaces[i]) continue;
    results[i] = replaces[i]->Swap();
    std::filesystem::path folder = FolderOf(targets[i]);
    if (std::find(folders.begin(), folders.end(), folder) == folders.end()) {
      folders.push_back(std::move(folder));
    }
  }
  for (const std::filesystem::path& folder : folders) SyncFolderAt(folder);
  return results;
}

}  // namespace dialmend
