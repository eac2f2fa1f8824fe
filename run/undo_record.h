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
//   dialmend-undo-record	2
//   store	vCard folder	/home/ann/.contacts
//   started	2026-12-07 07:05:28	07/12/26 07:05:28
//   sum	3f1e0c5a9b7d2e41
//   contact	/home/ann/.contacts/work/ann.vcf	-1		\Work\Ann Example
//   field	0	Home	0171 930 8890	(020) 7930 8890
//   field	1	Business	0171 930 8891	(020) 7930 8891	0171 930\r\n 8891
//   sum	96c0d2f7e1a4b853
//   saved	"6f1c-2"	5d0e8a7c3b2f1904
//   end	1	2	0a9b8c7d6e5f4a3b
//   undone	07/12/26 08:00:01	77e3c1a95b0d2f68
//
// A "sum" line checks the lines since the one before it (the header, then each contact with its
// fields): a contact whose lines do not match it is damaged and never restored. "saved" (the
// version a store gave the contact when it was saved: a server's ETag), "end" (the update ended:
// how many contacts and numbers it recorded), "partly" and "undone" (when an undo left something,
// or restored everything) check themselves in their last field. Lines are only ever appended,
// so a crash can tear only the last one: a last line without its LF is ignored, and a record
// without its "end" line is one of an update that was killed. Version 1 records, without sums
// or "end", are read as they were written. Text and not a binary or a database, because a user
// or a support person can read it, any later version can too, and appending a line is the one
// write it needs. Nothing here throws.

namespace dialmend {

// The newest record format this version reads and writes.
inline constexpr int kUndoRecordVersion = 2;

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
  // Where its lines start in the record, from 1 (its "contact" line; its fields follow it).
  std::size_t line = 0;
  // Why its lines cannot be trusted ("its lines do not match their sum"), so that nothing of it
  // is restored; empty when they are whole. `name` may then be empty, and `identity` is never
  // to be used.
  std::string damaged = {};
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
  // When the run was undone whole, as the undo's log showed it; std::nullopt while it is not.
  std::optional<std::string> undone;
  // When an undo last restored part of it and left the rest (changed since, not found), so a
  // later undo tries that rest again; std::nullopt when none did.
  std::optional<std::string> partly;
  // The file ends in a line cut short: the update was stopped while writing it, before the
  // save that line was for.
  bool torn = false;
  // The format's version, and whether the record has the closing line of an update that ended
  // (a version 1 record has none).
  int version = kUndoRecordVersion;
  bool closed = false;
  // How many contacts have damaged lines, and the line of the first.
  std::size_t damaged = 0;
  std::size_t first_damaged_line = 0;
};

// The record at `path`, every line of it checked, or why it cannot be used, in words ('The undo
// record "…" was made by a newer version of Dialmend.'). A torn last line is left out. Memory
// does not grow with the record.
[[nodiscard]] Result<UndoRecord> ReadUndoRecord(const std::string& path);

// How many contacts an undo reads from its record at a time.
inline constexpr std::size_t kRecordChunk = 4096;

class RecordParser;

// Reads the contacts of a record in order, a chunk at a time, so that an undo never holds more
// than a chunk of them. A contact whose lines are damaged comes with RecordedContact::damaged
// set; a torn last line, and the lines of a contact cut short before its "sum", are left out,
// as ReadUndoRecord leaves them.
class RecordedContactReader {
 public:
  explicit RecordedContactReader(std::string path);
  RecordedContactReader(const RecordedContactReader&) = delete;
  RecordedContactReader& operator=(const RecordedContactReader&) = delete;
  ~RecordedContactReader();

  // Replaces `chunk` with the next contacts, at most `most` of them (at least 1); empty at the
  // end of the record. Fails, `chunk` empty, with the message for the user when the record
  // cannot be read or a line outside every contact is damaged; it then stays failed.
  Status ReadChunk(std::size_t most, std::vector<RecordedContact>& chunk);

  [[nodiscard]] const std::string& Path() const { return m_path; }

 private:
  std::string m_path;
  std::unique_ptr<std::istream> m_in;
  std::unique_ptr<RecordParser> m_parser;
  std::optional<Status> m_failure;
};

// The record's lines for one contact, each ending in LF, its "sum" line last.
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

  // Writes the closing line of an update that ended (completed, aborted, or stopped by a lost
  // store) and makes the record durable; an update that was killed leaves none. Nothing to do
  // when no contact was recorded. Fails as Record() does.
  Status Close();

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
  std::size_t m_contacts = 0;
  std::size_t m_numbers = 0;
};

// Marks the record at `path` as undone at `when_text`, or, when `partly`, as undone in part (an
// undo left something a later one may try again); its torn last line, if any, is cut off first
// so the mark stands on a line of its own. Fails with the message for the user.
Status MarkUndone(const std::string& path, const std::string& when_text, bool partly = false);

// Whether `number`, read from a record, may be written back into a contact as a number: valid
// UTF-8 with no line break and no other control character, as every number the converter writes.
[[nodiscard]] bool IsWritableNumber(std::string_view number);

// Whether `form`, a number's stored form read from a record (ContactItem::StoredForm), may be
// written back: valid UTF-8 whose only control characters are the line ends of folds (each
// followed by a space or a tab), as a value spread over lines is kept.
[[nodiscard]] bool IsWritableForm(std::string_view form);

}  // namespace dialmend
