#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "contacts/contact_store.h"
#include "platform/result.h"

// The undo record of one update run: what the run changed, written before each change reaches
// the store, so an undo can put every old value back.
//
// The record is a UTF-8 text file of LF-ended lines, one per fact, its fields separated by tabs
// and each field escaped (\\, \t, \n, \r), so any value fits on its line:
//
//   dialmend-undo-record	1
//   store	vCard folder	/home/ann/.contacts
//   started	2026-12-07 07:05:28	07/12/26 07:05:28
//   contact	/home/ann/.contacts/work/ann.vcf	-1		\Work\Ann Example
//   field	0	Home	0171 930 8890	(020) 7930 8890
//   field	1	Business	0171 930 8891	(020) 7930 8891	0171 930\r\n 8891
//   saved	"6f1c-2"
//   undone	07/12/26 08:00:01
//
// A "saved" line follows a contact's lines once it is saved, when its store versions its
// contacts (a server's ETag): the version the update wrote, which an undo overwrites only if it is
// still there. Lines are only ever appended, so a crash can tear only the last one: a last line
// without its LF is ignored. Text and not a binary or a database, because a user or a support
// person can read it, any later version can too, and appending a line is the one write it needs.
// Nothing here throws.

namespace dialmend {

// The newest record format this version reads and writes.
inline constexpr int kUndoRecordVersion = 1;

// One phone field a run changed: its entry in the contact's Phones(), and both numbers as the
// store holds them.
struct FieldChange {
  std::size_t index = 0;
  PhoneField field = PhoneField::Other;
  std::string old_number;
  std::string new_number;
  // The old number as the store kept it (ContactItem::StoredForm), when that differs.
  std::string old_form;
};

// One contact a run changed.
struct RecordedContact {
  ContactIdentity identity;
  // The contact as the run's log names it ("\Work\Riverside Dental").
  std::string name;
  std::vector<FieldChange> changes;
};

// A record as one pass over its lines gives it: what --runs shows and what an undo checks
// before it starts. Its contacts are not kept; RecordedContactReader reads them.
struct UndoRecord {
  // The file's name without ".undo": the run's date and time ("2026-12-07_07-05-28").
  std::string name;
  std::string path;
  StoreIdentity store;
  // When the run started: sortable ("2026-12-07 07:05:28") and as its log showed it.
  std::string started;
  std::string started_text;
  // How many contacts and numbers the run changed.
  std::size_t contacts = 0;
  std::size_t numbers = 0;
  // When the run was undone, as the undo's log showed it; std::nullopt while it is not.
  std::optional<std::string> undone;
  // The file ends in a line cut short: the update was stopped while writing it, before the
  // save that line was for.
  bool torn = false;
};

// The record at `path`, every line of it checked, or why it cannot be used, in words ('The undo
// record "…" was made by a newer version of Dialmend.'). A torn last line is left out. Memory
// does not grow with the record.
[[nodiscard]] Result<UndoRecord> ReadUndoRecord(const std::string& path);

// How many contacts an undo reads from its record at a time.
inline constexpr std::size_t kRecordChunk = 4096;

// Reads the contacts of a record in order, a chunk at a time, so that an undo never holds more
// than a chunk of them. A torn last line is left out, as ReadUndoRecord leaves it.
class RecordedContactReader {
 public:
  explicit RecordedContactReader(std::string path);
  RecordedContactReader(const RecordedContactReader&) = delete;
  RecordedContactReader& operator=(const RecordedContactReader&) = delete;
  ~RecordedContactReader();

  // Replaces `chunk` with the next contacts, at most `most` of them (at least 1); empty at the
  // end of the record. Fails, `chunk` empty, with the message for the user when the record
  // cannot be read or a line is damaged; it then stays failed.
  Status ReadChunk(std::size_t most, std::vector<RecordedContact>& chunk);

 private:
  Status Fill(std::size_t most, std::vector<RecordedContact>& chunk);
  Status Failed(const std::string& why);

  std::string m_path;
  std::unique_ptr<std::istream> m_in;
  std::string m_line;
  std::size_t m_line_number = 0;
  std::optional<RecordedContact> m_pending;
  std::optional<Status> m_failure;
  bool m_done = false;
};

// The record's lines for one contact, each ending in LF.
[[nodiscard]] std::string RecordedContactText(const RecordedContact& contact);

// Writes the record of one update run. The file is made, in `folder`, when the first contact
// is recorded; a run that changes nothing leaves none.
class UndoJournal {
 public:
  // `started_text` is the start as the run's log shows it.
  UndoJournal(std::string folder, StoreIdentity store,
              std::chrono::system_clock::time_point started, std::string started_text);
  UndoJournal(const UndoJournal&) = delete;
  UndoJournal& operator=(const UndoJournal&) = delete;
  ~UndoJournal();

  // Hands the contact's lines to the system (the file made first, when it is not yet); durable
  // only after Sync(). Fails with the message for the user, and every later call fails too.
  Status Record(const RecordedContact& contact);

  // Adds the version `tag` the store gave the last contact recorded when it was saved (see
  // ContactIdentity::tag). Fails as Record() does.
  Status RecordSaved(std::string_view tag);

  // Makes every line recorded so far durable (flushed to disk); nothing to do when none is
  // new. Fails with the message for the user.
  Status Sync();

  // The record's path once made, else empty.
  [[nodiscard]] const std::string& Path() const { return m_path; }

 private:
  Status Create();
  Status Write(std::string_view text);
  Status Failed(const std::string& reason);

  std::string m_folder;
  StoreIdentity m_store;
  std::chrono::system_clock::time_point m_started;
  std::string m_started_text;
  std::string m_path;
  int m_fd = -1;
  bool m_unsynced = false;
  std::optional<Status> m_failure;
};

// Marks the record at `path` as undone at `when_text`; its torn last line, if any, is cut off
// first so the mark stands on a line of its own. Fails with the message for the user.
Status MarkUndone(const std::string& path, const std::string& when_text);

}  // namespace dialmend
