#include "run/undo_record.h"

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>

#include "platform/system_calls.h"
#endif

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "platform/reason.h"
#include "platform/utf8_path.h"
#include "run/run_records.h"

namespace dialmend {
namespace {

constexpr std::string_view kMagic = "dialmend-undo-record";
// A record is a few hundred bytes a contact; a file larger than this is not one of ours.
constexpr std::uintmax_t kMaxRecordBytes = 512 * 1024 * 1024;

// The few calls that differ between the C libraries, under one set of names.
#ifdef _WIN32
int OpenNew(const std::string& path) {
  return ::_wopen(PathFromUtf8(path).c_str(),
                  _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT | _O_APPEND,
                  _S_IREAD | _S_IWRITE);
}
int OpenExisting(const std::string& path) {
  return ::_wopen(PathFromUtf8(path).c_str(), _O_RDWR | _O_BINARY | _O_NOINHERIT);
}
long WriteSome(int fd, const char* data, std::size_t size) {
  return ::_write(fd, data, static_cast<unsigned>(size < 0x40000000 ? size : 0x40000000));
}
int SyncToDisk(int fd) {
  return ::_commit(fd);
}
int Truncate(int fd, std::uint64_t size) {
  return ::_chsize_s(fd, static_cast<__int64>(size)) == 0 ? 0 : -1;
}
int SeekEnd(int fd) {
  return ::_lseeki64(fd, 0, SEEK_END) < 0 ? -1 : 0;
}
int CloseFile(int fd) {
  return ::_close(fd);
}
#else
int OpenNew(const std::string& path) {
  // Only the user may read what numbers their contacts had.
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0600);
}
int OpenExisting(const std::string& path) {
  return ::open(path.c_str(), O_RDWR | O_CLOEXEC);
}
long WriteSome(int fd, const char* data, std::size_t size) {
  return Sys().write(fd, data, size);
}
int SyncToDisk(int fd) {
  return Sys().fsync(fd);
}
int Truncate(int fd, std::uint64_t size) {
  return ::ftruncate(fd, static_cast<off_t>(size));
}
int SeekEnd(int fd) {
  return ::lseek(fd, 0, SEEK_END) < 0 ? -1 : 0;
}
int CloseFile(int fd) {
  return ::close(fd);
}
#endif

std::string ReasonOf(int error) {
  return ErrorText(std::error_code(error, std::generic_category()));
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

void Escape(std::string_view text, std::string& out) {
  for (const char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
    }
  }
}

// The fields of one line, unescaped; std::nullopt for an escape that is not one of ours.
std::optional<std::vector<std::string>> SplitLine(std::string_view line) {
  std::vector<std::string> fields(1);
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '\t') {
      fields.emplace_back();
    } else if (c != '\\') {
      fields.back() += c;
    } else {
      if (++i == line.size()) return std::nullopt;
      switch (line[i]) {
        case '\\':
          fields.back() += '\\';
          break;
        case 't':
          fields.back() += '\t';
          break;
        case 'n':
          fields.back() += '\n';
          break;
        case 'r':
          fields.back() += '\r';
          break;
        default:
          return std::nullopt;
      }
    }
  }
  return fields;
}

template <class T>
bool ParseNumber(const std::string& text, T& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

std::optional<PhoneField> FieldOfLabel(std::string_view label) {
  for (int i = 0; i < kPhoneFieldCount; ++i) {
    if (PhoneFieldLabel(PhoneField(i)) == label) return PhoneField(i);
  }
  return std::nullopt;
}

std::string Quoted(const std::string& path) {
  return "\"" + path + "\"";
}

// The contact a "contact" line names, or false when it is not one.
bool ParseContact(const std::vector<std::string>& f, RecordedContact& contact) {
  if (f.size() != 5) return false;
  contact.identity.where = f[1];
  if (!ParseNumber(f[2], contact.identity.card)) return false;
  contact.identity.tag = f[3];
  contact.name = f[4];
  return true;
}

// The change a "field" line gives, or false when it is not one.
bool ParseField(const std::vector<std::string>& f, FieldChange& change) {
  if (f.size() != 5 && f.size() != 6) return false;
  const auto field = FieldOfLabel(f[2]);
  if (!ParseNumber(f[1], change.index) || !field) return false;
  change.field = *field;
  change.old_number = f[3];
  change.new_number = f[4];
  if (f.size() == 6) change.old_form = f[5];
  return true;
}

// What `f`, a line after the first, adds to `record`, or false when it is not a line of the
// format. Contacts and fields are only counted.
bool TakeLine(const std::vector<std::string>& f, UndoRecord& record) {
  const std::string& tag = f[0];
  if (tag == "store" && f.size() == 3) {
    record.store = {f[1], f[2]};
  } else if (tag == "started" && f.size() == 3) {
    record.started = f[1];
    record.started_text = f[2];
  } else if (tag == "contact") {
    RecordedContact contact;
    if (!ParseContact(f, contact)) return false;
    ++record.contacts;
  } else if (tag == "field" && record.contacts > 0) {
    FieldChange change;
    if (!ParseField(f, change)) return false;
    ++record.numbers;
  } else if (tag == "saved" && f.size() == 2 && record.contacts > 0) {
    // The version a save wrote; only an undo needs it.
  } else if (tag == "undone" && f.size() == 2) {
    record.undone = f[1];
  } else {
    return false;
  }
  return true;
}

enum class LineRead { kLine, kEnd, kTorn, kFailed };

// The next line of `in`, without its LF, into `line`. A last line without its LF was torn by a
// crash while it was written: it is kTorn, for the caller to leave out.
LineRead NextLine(std::istream& in, std::string& line) {
  if (!std::getline(in, line)) return in.eof() && !in.bad() ? LineRead::kEnd : LineRead::kFailed;
  return in.eof() ? LineRead::kTorn : LineRead::kLine;
}

std::string DamagedText(std::size_t line_number) {
  return "is damaged: line " + std::to_string(line_number) + " cannot be read";
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

Result<UndoRecord> ReadUndoRecord(const std::string& path) {
  namespace fs = std::filesystem;
  const auto failure = [&path](const std::string& why) {
    return Result<UndoRecord>::Failure("The undo record " + Quoted(path) + " " + why + ".");
  };
  std::error_code error;
  const fs::path where = PathFromUtf8(path);
  const fs::file_status status = fs::status(where, error);
  if (status.type() == fs::file_type::not_found) return failure("does not exist");
  if (error) return failure("cannot be read: " + ErrorText(error));
  if (!fs::is_regular_file(status)) return failure("is not a file");
  const std::uintmax_t size = fs::file_size(where, error);
  if (error) return failure("cannot be read: " + ErrorText(error));
  if (size > kMaxRecordBytes) return failure("is too large to be one");
  std::ifstream in(where, std::ios::binary);
  if (!in) return failure("cannot be read");

  UndoRecord record;
  record.path = path;
  record.name = Utf8FromPath(where.filename());
  if (record.name.ends_with(kRecordSuffix)) record.name.resize(record.name.size() - 5);
  std::size_t line_number = 0;
  std::string line;
  for (LineRead read; (read = NextLine(in, line)) != LineRead::kEnd;) {
    if (read == LineRead::kFailed) return failure("cannot be read");
    if (read == LineRead::kTorn) {
      record.torn = true;
      break;
    }
    ++line_number;
    const auto fields = SplitLine(line);
    if (line_number == 1) {
      int version = 0;
      if (!fields || fields->size() != 2 || (*fields)[0] != kMagic ||
          !ParseNumber((*fields)[1], version)) {
        return failure("is not an undo record of Dialmend");
      }
      if (version > kUndoRecordVersion) return failure("was made by a newer version of Dialmend");
      continue;
    }
    if (!fields || !TakeLine(*fields, record)) return failure(DamagedText(line_number));
  }
  if (line_number == 0) return failure("is empty or not an undo record of Dialmend");
  if (record.store.kind.empty() || record.started.empty()) {
    return failure("is incomplete: it does not say which store or when");
  }
  return record;
}

RecordedContactReader::RecordedContactReader(std::string path) : m_path(std::move(path)) {}

RecordedContactReader::~RecordedContactReader() = default;

Status RecordedContactReader::Failed(const std::string& why) {
  m_failure = Status::Failure("The undo record " + Quoted(m_path) + " " + why + ".", why);
  return *m_failure;
}

Status RecordedContactReader::ReadChunk(std::size_t most, std::vector<RecordedContact>& chunk) {
  chunk.clear();
  if (m_failure) return *m_failure;
  const Status read = Fill(std::max<std::size_t>(most, 1), chunk);
  if (!read.Ok()) chunk.clear();
  return read;
}

Status RecordedContactReader::Fill(std::size_t most, std::vector<RecordedContact>& chunk) {
  if (!m_in) {
    m_in = std::make_unique<std::ifstream>(PathFromUtf8(m_path), std::ios::binary);
    if (!*m_in) return Failed("cannot be read");
  }
  while (!m_done) {
    const LineRead read = NextLine(*m_in, m_line);
    if (read == LineRead::kFailed) return Failed("cannot be read");
    if (read != LineRead::kLine) {
      m_done = true;
      break;
    }
    // The first line says what the file is; ReadUndoRecord checked it before the undo began.
    if (++m_line_number == 1) continue;
    const auto fields = SplitLine(m_line);
    if (!fields) return Failed(DamagedText(m_line_number));
    const std::vector<std::string>& f = *fields;
    if (f[0] == "contact") {
      RecordedContact contact;
      if (!ParseContact(f, contact)) return Failed(DamagedText(m_line_number));
      // A contact is whole once the next one begins: its "saved" line comes after its fields.
      if (m_pending) chunk.push_back(std::move(*m_pending));
      m_pending = std::move(contact);
      if (chunk.size() == most) return {};
    } else if (f[0] == "field" && m_pending) {
      FieldChange change;
      if (!ParseField(f, change)) return Failed(DamagedText(m_line_number));
      m_pending->changes.push_back(std::move(change));
    } else if (f[0] == "saved" && f.size() == 2 && m_pending) {
      m_pending->identity.tag = f[1];
    } else if (UndoRecord facts; f[0] == "field" || f[0] == "saved" || !TakeLine(f, facts)) {
      return Failed(DamagedText(m_line_number));
    }
  }
  if (m_pending) {
    chunk.push_back(std::move(*m_pending));
    m_pending.reset();
  }
  return {};
}

std::string RecordedContactText(const RecordedContact& contact) {
  std::string text = "contact\t";
  Escape(contact.identity.where, text);
  text += '\t';
  text += std::to_string(contact.identity.card);
  text += '\t';
  Escape(contact.identity.tag, text);
  text += '\t';
  Escape(contact.name, text);
  text += '\n';
  for (const FieldChange& change : contact.changes) {
    text += "field\t";
    text += std::to_string(change.index);
    text += '\t';
    text += PhoneFieldLabel(change.field);
    text += '\t';
    Escape(change.old_number, text);
    text += '\t';
    Escape(change.new_number, text);
    if (!change.old_form.empty()) {
      text += '\t';
      Escape(change.old_form, text);
    }
    text += '\n';
  }
  return text;
}

UndoJournal::UndoJournal(std::string folder, StoreIdentity store,
                         std::chrono::system_clock::time_point started, std::string started_text)
    : m_folder(std::move(folder)),
      m_store(std::move(store)),
      m_started(started),
      m_started_text(std::move(started_text)) {}

UndoJournal::~UndoJournal() {
  if (m_fd >= 0) CloseFile(m_fd);
}

Status UndoJournal::Failed(const std::string& reason) {
  m_failure = Status::Failure("Cannot write the undo record " +
                                  Quoted(m_path.empty() ? m_folder : m_path) + ": " + reason +
                                  "; the run stops so that every change it made can be undone.",
                              reason);
  return *m_failure;
}

Status UndoJournal::Create() {
  if (m_folder.empty()) {
    return Failed("there is no folder for it (neither XDG_STATE_HOME nor HOME is set)");
  }
  std::error_code error;
  std::filesystem::create_directories(PathFromUtf8(m_folder), error);
  if (error) return Failed(ErrorText(error));
  const std::string name = RunName(m_started);
  // Two runs in one second get a number after the time.
  for (int n = 1; m_fd < 0; ++n) {
    const std::string path = m_folder + "/" + name + (n == 1 ? "" : "_" + std::to_string(n)) +
                             std::string(kRecordSuffix);
    m_fd = OpenNew(path);
    if (m_fd >= 0) {
      m_path = path;
    } else if (errno != EEXIST || n > 1000) {
      m_path = path;
      return Failed(ReasonOf(errno));
    }
  }
  std::string header = std::string(kMagic) + "\t" + std::to_string(kUndoRecordVersion) + "\n";
  header += "store\t";
  Escape(m_store.kind, header);
  header += '\t';
  Escape(m_store.location, header);
  header += "\nstarted\t";
  const std::string sortable = RunName(m_started);
  // The name's date and time, as a sortable text: "2026-12-07 07:05:28".
  std::string started = sortable.substr(0, 10) + " " + sortable.substr(11, 8);
  for (std::size_t i = 11; i < started.size(); ++i) {
    if (started[i] == '-') started[i] = ':';
  }
  header += started;
  header += '\t';
  Escape(m_started_text, header);
  header += '\n';
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
  return Write(RecordedContactText(contact));
}

Status UndoJournal::RecordSaved(std::string_view tag) {
  if (m_failure) return *m_failure;
  std::string line = "saved\t";
  Escape(tag, line);
  line += '\n';
  return Write(line);
}

Status UndoJournal::Sync() {
  if (m_failure) return *m_failure;
  if (!m_unsynced) return {};
  if (SyncToDisk(m_fd) != 0) return Failed(ReasonOf(errno));
  m_unsynced = false;
  return {};
}

Status MarkUndone(const std::string& path, const std::string& when_text) {
  const auto failure = [&path](int error) {
    return Status::Failure(
        "Cannot mark the undo record " + Quoted(path) + " as undone: " + ReasonOf(error) + ".",
        ReasonOf(error));
  };
  std::uint64_t size = 0;
  std::uint64_t kept = 0;
  if (!KeptSize(path, size, kept)) return failure(errno != 0 ? errno : EIO);
  const int fd = OpenExisting(path);
  if (fd < 0) return failure(errno);
  std::string line = "undone\t";
  Escape(when_text, line);
  line += '\n';
  int error = 0;
  if (kept != size && Truncate(fd, kept) != 0) error = errno;
  if (error == 0 && SeekEnd(fd) != 0) error = errno;
  if (error == 0) error = WriteAll(fd, line);
  if (error == 0 && SyncToDisk(fd) != 0) error = errno;
  if (CloseFile(fd) != 0 && error == 0) error = errno;
  if (error != 0) return failure(error);
  return {};
}

}  // namespace dialmend
