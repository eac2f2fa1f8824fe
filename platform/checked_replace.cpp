#include "platform/checked_replace.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/extended_attributes.h"
#include "platform/read_lease.h"
#include "platform/system_calls.h"

namespace dialmend {
namespace {

constexpr std::string_view kChangedAfterRead = "another program changed it after it was read";
constexpr std::string_view kChangedWhileSaving =
    "another program changed it while it was being saved";

constexpr std::string_view kOpenForWriting = "another program has it open for writing";

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

}  // namespace

Status CheckedReplace::Run(std::string_view bytes, const HeldFile* read) {
  if (std::optional<Status> failed = Prepare(bytes, read)) return std::move(*failed);
  return Swap();
}

std::optional<Status> CheckedReplace::Prepare(std::string_view bytes, const HeldFile* read) {
  if (std::optional<Status> failed = FindAsRead(read)) return failed;
  return WriteTemp(bytes);
}

std::optional<Status> CheckedReplace::SyncTemp() const {
  if (Sys().fsync(m_temp.Get()) != 0) return Fail(ReasonOf(errno));
  return std::nullopt;
}

Status CheckedReplace::Swap() {
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

Status CheckedReplace::Fail(std::string_view reason) const {
  return FileFailure(kCannotSave, m_path, std::string(reason));
}

Status CheckedReplace::FailErrno(int error) const {
  return Fail(error == ENOENT ? "it was removed after it was read" : ReasonOf(error));
}

std::optional<Status> CheckedReplace::FindAsRead(const HeldFile* read) {
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

std::optional<Status> CheckedReplace::PrepareStream(const HeldFile* read) {
  if (std::optional<Status> failed = FindAsRead(read)) return failed;
  return StartTemp();
}

int CheckedReplace::AppendTemp(std::string_view bytes) const {
  return WriteAll(m_temp.Get(), bytes);
}

std::optional<Status> CheckedReplace::WriteTemp(std::string_view bytes) {
  if (std::optional<Status> failed = StartTemp()) return failed;
  if (const int error = WriteAll(m_temp.Get(), bytes); error != 0) return Fail(ReasonOf(error));
  return FinishTemp();
}

std::optional<Status> CheckedReplace::StartTemp() {
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

std::optional<Status> CheckedReplace::FinishTemp() {
  if (const Status copied = CopyAttributes(m_original_fd, m_temp.Get()); !copied.Ok()) {
    return Fail("its extended attributes could not be copied: " + copied.Message());
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

std::optional<Status> CheckedReplace::StillAsRead() const {
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

Status CheckedReplace::RenameOver(const ReadLease& lease) {
  if (lease.Wanted()) return Fail(kChangedWhileSaving);
  if (std::optional<Status> changed = StillAsRead()) return std::move(*changed);
  if (Sys().rename(m_temp_path.c_str(), m_target.c_str()) != 0) return Fail(ReasonOf(errno));
  m_guard->Keep();
  if (SaveSeamsForTesting().after_replace) SaveSeamsForTesting().after_replace();
  FolderChanged();
  return Status{};
}

Status CheckedReplace::SettleExchange(const ReadLease& lease) {
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

Status CheckedReplace::PutBack(Status changed) {
  if (Sys().renameat2(AT_FDCWD, m_temp_path.c_str(), AT_FDCWD, m_target.c_str(), RENAME_EXCHANGE) !=
      0) {
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

bool CheckedReplace::SameChangeTime(const struct stat& info) const {
  return !m_check.change_ns || ChangeTimeOf(info) == *m_check.change_ns;
}

void CheckedReplace::FolderChanged() const {
  if (!m_batched) SyncFolder(m_target);
}

}  // namespace dialmend
