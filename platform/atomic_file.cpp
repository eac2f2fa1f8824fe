#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/atomic_file_common.h"
#include "platform/checked_replace.h"
#include "platform/file_descriptor.h"
#include "platform/system_calls.h"

namespace dialmend {

std::string PathText(const std::filesystem::path& path) {
  return path.string();
}

namespace {

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
  // Without O_NONBLOCK a FIFO in the folder would hang the walk in open().
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    FileSnapshot snapshot;
    snapshot.status = FileFailure(kCannotRead, path, ReasonOf(errno));
    return snapshot;
  }
  return ReadFileSnapshot(path, max_bytes, HeldFile(fd));
}

FileSnapshot ReadFileSnapshot(const std::filesystem::path& path, std::size_t max_bytes,
                              HeldFile opened) {
  if (opened.Descriptor() < 0) return ReadFileSnapshot(path, max_bytes);
  FileSnapshot snapshot;
  Descriptor file(opened.Release());
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
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return FileFailure(kCannotRead, path, ReasonOf(errno));
  return Open(path, HeldFile(fd));
}

Status OpenedFile::Open(const std::filesystem::path& path, HeldFile opened) {
  if (opened.Descriptor() < 0) return Open(path);
  Descriptor file(opened.Release());
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
