#include <cerrno>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "platform/folder_owner.h"
#include "platform/plain_file.h"
#include "platform/reason.h"
#include "platform/utf8_path.h"
#include "run/run_records.h"
#include "run/undo_record.h"
#include "run/undo_record_format.h"

// The undo record's writer: the journal an update appends to, and the marks an undo adds.

namespace dialmend {
namespace {

std::string ReasonOf(int error) {
  return ErrorText(std::error_code(error, std::generic_category()));
}

std::string Quoted(const std::string& path) {
  return "\"" + path + "\"";
}

int WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const long wrote = WriteSome(fd, text.data(), text.size());
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return wrote < 0 ? errno : EIO;
    text.remove_prefix(static_cast<std::size_t>(wrote));
  }
  return 0;
}

// The size of the record at `path`, and where its last whole line ends: less than the size
// when the last line is torn. Reads back from the end only as far as the last LF.
bool KeptSize(const std::string& path, std::uint64_t& size, std::uint64_t& kept) {
  std::ifstream in(PathFromUtf8(path), std::ios::binary | std::ios::ate);
  const std::streamoff end = in.tellg();
  if (!in || end < 0) return false;
  size = static_cast<std::uint64_t>(end);
  char block[4096];
  for (std::uint64_t to = size; to > 0;) {
    const std::uint64_t from = to > sizeof block ? to - sizeof block : 0;
    in.seekg(static_cast<std::streamoff>(from));
    in.read(block, static_cast<std::streamsize>(to - from));
    if (!in) return false;
    for (std::uint64_t at = to; at > from; --at) {
      if (block[at - from - 1] == '\n') {
        kept = at;
        return true;
      }
    }
    to = from;
  }
  kept = 0;
  return true;
}

}  // namespace

UndoJournal::UndoJournal(std::string folder, StoreIdentity store,
                         std::chrono::system_clock::time_point started, std::string started_text)
    : m_folder(std::move(folder)),
      m_store(std::move(store)),
      m_started(started),
      m_started_text(std::move(started_text)) {}

UndoJournal::~UndoJournal() {
  if (m_fd >= 0) ClosePlainFile(m_fd);
}

Status UndoJournal::Failed(const std::string& reason) {
  std::string why = reason;
  // A folder left to root by a run with sudo stops the user's own runs: say how to get it back.
  const auto owner =
      reason == ReasonOf(EACCES) ? OtherOwnerOf(PathFromUtf8(m_folder)) : std::nullopt;
  if (owner) {
    why += "; the folder belongs to " + *owner +
           " (a run with sudo made it): give it back with "
           "sudo chown -R " +
           RunningLogin() + " " + Quoted(m_folder);
  }
  m_failure = Status::Failure("Cannot write the undo record " +
                                  Quoted(m_path.empty() ? m_folder : m_path) + ": " + why +
                                  "; the run stops so that every change it made can be undone.",
                              why);
  return *m_failure;
}

Status UndoJournal::Create() {
  if (m_folder.empty()) {
    return Failed("there is no folder for it (neither XDG_STATE_HOME nor HOME is set)");
  }
  // A run as root with the user's HOME keeps the records the user's.
  const std::optional<FileOwner> owner = OwnerOfFilesIn(PathFromUtf8(m_folder));
  if (const Status made = MakeFolders(PathFromUtf8(m_folder), owner); !made.Ok()) {
    return Failed(made.Reason());
  }
  const std::string name = RunName(m_started);
  // Two runs in one second get a number after the time.
  for (int n = 1; m_fd < 0; ++n) {
    const std::string path = m_folder + "/" + name + (n == 1 ? "" : "_" + std::to_string(n)) +
                             std::string(kRecordSuffix);
    m_fd = OpenPlainFile(path, PlainOpen::NewAppending);
    if (m_fd >= 0) {
      m_path = path;
    } else if (errno != EEXIST || n > 1000) {
      m_path = path;
      return Failed(ReasonOf(errno));
    }
  }
  if (owner) {
    if (const Status given = GiveFile(m_fd, *owner); !given.Ok()) return Failed(given.Reason());
  }
  std::string header = std::string(kRecordMagic) + "\t" + std::to_string(kUndoRecordVersion) + "\n";
  header += "store\t";
  EscapeField(m_store.kind, header);
  header += '\t';
  EscapeField(m_store.location, header);
  header += "\nstarted\t";
  // The name's date and time, as a sortable text: "2026-12-07 07:05:28".
  std::string started = name.substr(0, 10) + " " + name.substr(11, 8);
  for (std::size_t i = 11; i < started.size(); ++i) {
    if (started[i] == '-') started[i] = ':';
  }
  header += started;
  header += '\t';
  EscapeField(m_started_text, header);
  header += '\n';
  header += SumLine(header);
  return Write(header);
}

Status UndoJournal::Write(std::string_view text) {
  if (const int error = WriteAll(m_fd, text); error != 0) return Failed(ReasonOf(error));
  m_unsynced = true;
  return {};
}

Status UndoJournal::Record(const RecordedContact& contact) {
  if (m_failure) return *m_failure;
  if (m_fd < 0) {
    if (Status created = Create(); !created.Ok()) return created;
  }
  ++m_contacts;
  m_numbers += contact.changes.size();
  return Write(RecordedContactText(contact));
}

Status UndoJournal::RecordSaved(std::string_view tag) {
  if (m_failure) return *m_failure;
  std::string line = "saved\t";
  EscapeField(tag, line);
  return Write(SelfCheckedLine(line) + "\n");
}

Status UndoJournal::Sync() {
  if (m_failure) return *m_failure;
  if (!m_unsynced) return {};
  if (SyncToDisk(m_fd) != 0) return Failed(ReasonOf(errno));
  m_unsynced = false;
  return {};
}

Status UndoJournal::Close() {
  if (m_failure) return *m_failure;
  if (m_fd < 0) return {};
  const std::string line = "end\t" + std::to_string(m_contacts) + "\t" + std::to_string(m_numbers);
  if (Status written = Write(SelfCheckedLine(line) + "\n"); !written.Ok()) return written;
  return Sync();
}

Status MarkUndone(const std::string& path, const std::string& when_text, bool partly) {
  const auto failure = [&path, partly](int error) {
    return Status::Failure("Cannot mark the undo record " + Quoted(path) + " as " +
                               (partly ? "partly undone: " : "undone: ") + ReasonOf(error) + ".",
                           ReasonOf(error));
  };
  std::uint64_t size = 0;
  std::uint64_t kept = 0;
  errno = 0;
  if (!KeptSize(path, size, kept)) return failure(errno != 0 ? errno : EIO);
  const int fd = OpenPlainFile(path, PlainOpen::ReadWrite);
  if (fd < 0) return failure(errno);
  std::string line = partly ? "partly\t" : "undone\t";
  EscapeField(when_text, line);
  // A version 1 record keeps its marks unchecked, as that version reads them.
  std::ifstream first(PathFromUtf8(path), std::ios::binary);
  std::string magic;
  const bool old = std::getline(first, magic) && magic == std::string(kRecordMagic) + "\t1";
  line = (old ? line : SelfCheckedLine(line)) + "\n";
  int error = 0;
  if (kept != size && TruncateFile(fd, kept) != 0) error = errno;
  if (error == 0 && SeekToEnd(fd) != 0) error = errno;
  if (error == 0) error = WriteAll(fd, line);
  if (error == 0 && SyncToDisk(fd) != 0) error = errno;
  if (ClosePlainFile(fd) != 0 && error == 0) error = errno;
  if (error != 0) return failure(error);
  return {};
}

}  // namespace dialmend
