#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "run/contact_run.h"
#include "run/run_records.h"
#include "run/undo_record_format.h"

// The undo run's half of ContactRun: finding each recorded contact again and putting back what
// the update changed, through the same walk of items as an update.

namespace dialmend {
namespace {

// Where a recorded contact's lines start, for the log.
std::string RecordLine(const RecordedContact& recorded) {
  return "the undo record's line " + std::to_string(recorded.line);
}

// A hash of a contact's identity, to find it among a newer record's without holding names.
std::uint64_t IdentityHash(const ContactIdentity& identity) {
  RecordSum sum;
  sum.Add(identity.where);
  sum.Add(std::string(1, '\0') + std::to_string(identity.card));
  return sum.Value();
}

}  // namespace

void ContactRun::UndoContacts(const UndoRecord& record) {
  if (!StartUndo(record)) return;
  std::unique_ptr<Folder> found;
  std::unique_ptr<ItemCursor> items;
  if (!FindRecordedContacts(record, found, items)) return;
  RestoreContacts(record, *found, *items);
  found.reset();
  FinishUndo(record);
}

bool ContactRun::StartUndo(const UndoRecord& record) {
  std::string commenced;
  if (!OpenAndHead("Undo of the update of " + record.started_text + "\r\n\r\n",
                   m_settings.update ? "Restoring" : "Checking", commenced)) {
    return false;
  }
  if (m_store.Identity() != record.store) {
    Problem("The undo record \"" + record.path + "\" is of another store (" + record.store.kind +
            " " + record.store.location + "): nothing is restored");
    return false;
  }
  if (record.undone) {
    m_log.WriteLog("  This update was undone on " + *record.undone +
                   ": there is nothing to restore.\r\n");
    return false;
  }
  if (record.partly) {
    m_log.WriteLog("  An undo on " + *record.partly +
                   " left part of this update; what it left is tried again.\r\n");
  }
  if (record.torn) {
    m_log.WriteLog(
        "  The undo record ends in a line cut short: the update was stopped while writing it, "
        "before saving the contact that line was for.\r\n");
  }
  if (record.version > 1 && !record.closed) {
    // Said, not passed over: the record may also have lost its last lines.
    Problem(
        "The undo record has no closing line: the update was stopped before it ended (or "
        "the record was cut short); every contact it holds is restored");
  }
  return true;
}

namespace {

// The identities of a record's whole contacts, read from the record as the store asks for
// them. The record is read again for the changes, so neither pass holds more than a chunk; both
// pass over the damaged contacts alike. A record that stops being readable ends it: the
// restore's own pass reports that.
class RecordedIdentities : public IdentityCursor {
 public:
  explicit RecordedIdentities(std::string path) : m_reader(std::move(path)) {}

  std::unique_ptr<ContactIdentity> Next() override {
    for (;;) {
      if (m_next == m_chunk.size()) {
        m_next = 0;
        if (!m_reader.ReadChunk(kRecordChunk, m_chunk).Ok()) m_chunk.clear();
        if (m_chunk.empty()) return nullptr;
      }
      RecordedContact& contact = m_chunk[m_next++];
      if (contact.damaged.empty()) return std::make_unique<ContactIdentity>(contact.identity);
    }
  }

 private:
  RecordedContactReader m_reader;
  std::vector<RecordedContact> m_chunk;
  std::size_t m_next = 0;
};

}  // namespace

bool ContactRun::FindRecordedContacts(const UndoRecord& record, std::unique_ptr<Folder>& found,
                                      std::unique_ptr<ItemCursor>& items) {
  try {
    found = m_store.FindContactsAsRead(std::make_unique<RecordedIdentities>(record.path));
    if (found) items = found->Items();
  } catch (const StoreError& error) {
    Failed(error, "the contacts to restore",
           "Could not find the contacts to restore: " + error.Reason());
    return false;
  }
  if (!found) {
    Problem("This store cannot find its contacts again: the update cannot be undone");
    return false;
  }
  return true;
}

bool ContactRun::NextRecorded(RecordedContactReader& reader, std::vector<RecordedContact>& chunk,
                              std::size_t& next) {
  for (;;) {
    if (next == chunk.size()) {
      next = 0;
      if (const Status read = reader.ReadChunk(kRecordChunk, chunk); !read.Ok()) {
        Problem("Stopped: the undo record \"" + reader.Path() + "\" " + read.Reason());
        return false;
      }
      if (chunk.empty()) return false;
    }
    RecordedContact& recorded = chunk[next++];
    if (recorded.damaged.empty()) {
      m_recorded = std::move(recorded);
      return true;
    }
    Problem("Left " + (recorded.name.empty() ? std::string("a contact") : recorded.name) + " (" +
            RecordLine(recorded) + ") as it is: " + recorded.damaged +
            ", so nothing of it is restored");
  }
}

void ContactRun::RestoreContacts(const UndoRecord& record, Folder& found, ItemCursor& items) {
  RecordedContactReader reader(record.path);
  std::vector<RecordedContact> chunk;
  std::size_t next = 0;
  const ItemSteps steps{[&]() -> std::unique_ptr<ContactItem> {
                          if (!NextRecorded(reader, chunk, next)) return nullptr;
                          m_fields += m_recorded.changes.size();
                          std::unique_ptr<ContactItem> item = items.Next();
                          if (!item)
                            throw StoreError(m_recorded.name, "the store has no contact for it");
                          return item;
                        },
                        [&](const StoreError& error) {
                          const std::string where =
                              m_recorded.name + " (" + RecordLine(m_recorded) + ")";
                          m_left_contacts.push_back(IdentityHash(m_recorded.identity));
                          if (dynamic_cast<const ContactChangedError*>(&error) != nullptr) {
                            m_counters.left += static_cast<std::int64_t>(m_recorded.changes.size());
                            Problem("Left " + where + " as it is: " + error.Reason());
                          } else {
                            ++m_counters.not_found;
                            Problem("Could not find " + where + ": " + error.Reason());
                          }
                        },
                        [&](const StoreError&) { return m_recorded.name; },
                        [&](ContactItem& item) { RestoreContact(item, m_recorded); }};
  (void)WalkItems(found, steps);
  LogNotes(found.TakeNotes(), "");
  LogNotes(m_store.TakeNotes(), "");
}

namespace {

// Where `change` finds `number` among `phones` not yet `taken`: where the update wrote it, else
// the first entry of that field holding it, since another program may have added or removed a
// number before it.
std::optional<std::size_t> FindRecorded(const std::vector<PhoneValue>& phones,
                                        const std::vector<bool>& taken, const FieldChange& change,
                                        const std::string& number) {
  const auto holds = [&](std::size_t i) {
    return i < phones.size() && !taken[i] && phones[i].field == change.field &&
           phones[i].number == number;
  };
  if (holds(change.index)) return change.index;
  for (std::size_t i = 0; i < phones.size(); ++i) {
    if (holds(i)) return i;
  }
  return std::nullopt;
}

}  // namespace

ContactRun::Restoration ContactRun::RestoreFields(ContactItem& item,
                                                  const RecordedContact& recorded,
                                                  const std::vector<PhoneValue>& phones) {
  Restoration restored;
  std::vector<bool> taken(phones.size());
  for (std::size_t i = 0; i < recorded.changes.size(); ++i) {
    const FieldChange& change = recorded.changes[i];
    const std::string label(PhoneFieldLabel(change.field));
    const std::optional<std::size_t> at = FindRecorded(phones, taken, change, change.new_number);
    std::string left;
    if (!IsWritableNumber(change.old_number)) {
      // Input like any other: a record's value never puts a line into a contact.
      left = "the undo record's line " + std::to_string(recorded.line + 1 + i) +
             " gives an old number with a line break or another control character";
    } else if (!at) {
      // Already put back by an undo that was stopped, or by one that left the rest.
      if (const auto restored_before = FindRecorded(phones, taken, change, change.old_number)) {
        taken[*restored_before] = true;
        ++m_fields_already;
        continue;
      }
      ++m_counters.left;
      const bool there = change.index < phones.size() && phones[change.index].field == change.field;
      left =
          (there ? "it holds \"" + phones[change.index].number + "\"" : "it is no longer there") +
          ", not \"" + change.new_number + "\" as the update wrote it";
    }
    if (!left.empty()) {
      // One problem for the contact, however many of its fields are left.
      if (restored.left.empty()) ++m_counters.problems;
      restored.left += "  Left " + label + " as it is: " + left + "\r\n";
      continue;
    }
    taken[*at] = true;
    restored.changes += FixLog(label, change.new_number, change.old_number, m_counters);
    if (m_settings.update) {
      // A stored form that is not one a value spread over lines takes is dropped: the number is
      // then written the store's own way.
      item.RestorePhone(*at, change.old_number,
                        IsWritableForm(change.old_form) ? change.old_form : std::string());
    }
  }
  return restored;
}

void ContactRun::RestoreContact(ContactItem& item, const RecordedContact& recorded) {
  const std::string& where = recorded.name;
  std::vector<PhoneValue> phones;
  try {
    phones = item.Phones();
  } catch (const StoreError& error) {
    Failed(error, where, "Could not read " + where + ": " + error.Reason());
    return;
  }
  const std::int64_t numbers_before = m_counters.numbers;
  const std::int64_t problems_before = m_counters.problems;
  const std::int64_t left_before = m_counters.left;
  Restoration restored;
  try {
    restored = RestoreFields(item, recorded, phones);
  } catch (const StoreError& error) {
    m_counters.numbers = numbers_before;
    m_counters.problems = problems_before;
    m_counters.left = left_before;
    Failed(error, where, "Could not change " + where + ": " + error.Reason());
    return;
  }
  ++m_counters.checked;
  m_host.CountersChanged(m_counters);
  if (!restored.left.empty()) m_left_contacts.push_back(IdentityHash(recorded.identity));
  if (!restored.changes.empty()) {
    SaveRestored(item, where, std::move(restored), numbers_before);
  } else if (!restored.left.empty()) {
    WriteInOrder(where + "\r\n" + restored.left);
  }
}

void ContactRun::SaveRestored(ContactItem& item, const std::string& where, Restoration restored,
                              std::int64_t numbers_before) {
  std::optional<std::uint64_t> held;
  if (m_settings.update) {
    try {
      item.Save();
      held = item.HeldSave();
    } catch (const StoreError& error) {
      m_counters.numbers = numbers_before;
      Failed(error, where, "Could not save " + where + ": " + error.Reason());
      WriteInOrder(restored.left);
      return;
    }
  }
  ++m_counters.updated;
  m_host.CountersChanged(m_counters);
  std::string report = where + "\r\n" + restored.changes + restored.left;
  if (held || !m_held.empty()) {
    m_held.push_back({held, where, std::move(report), m_counters.numbers - numbers_before,
                      std::move(restored.left)});
    return;
  }
  m_log.WriteLog(report);
}

void ContactRun::FinishUndo(const UndoRecord& record) {
  const bool whole = !m_aborted && !m_lost && record.damaged == 0 &&
                     m_fields_already + static_cast<std::size_t>(m_counters.numbers) == m_fields &&
                     m_fields == record.numbers;
  if (m_settings.update && (whole || m_counters.numbers > 0)) {
    if (const Status marked = MarkUndone(record.path, m_host.NowText(), !whole); !marked.Ok()) {
      Problem(marked.Message());
      m_host.RecordFailed(marked.Message());
    }
  }
  if (m_left_contacts.empty()) return;
  // A field the newer update changed again holds its number, not this one's: undone in the
  // other order, each finds what it wrote.
  std::sort(m_left_contacts.begin(), m_left_contacts.end());
  const std::string folder = record.path.substr(0, record.path.find_last_of("/\\"));
  for (const UndoRecord& newer : ListRuns(folder, record.store)) {
    // Names are the runs' times, and a second run in one second gets "_2": they sort as run.
    if (newer.name <= record.name || newer.undone) continue;
    std::size_t shared = 0;
    RecordedContactReader reader(newer.path);
    for (std::vector<RecordedContact> chunk;
         reader.ReadChunk(kRecordChunk, chunk).Ok() && !chunk.empty();) {
      for (const RecordedContact& contact : chunk) {
        shared += std::binary_search(m_left_contacts.begin(), m_left_contacts.end(),
                                     IdentityHash(contact.identity));
      }
    }
    if (shared == 0) continue;
    m_log.WriteLog("  The later update of " + newer.started_text + " changed " +
                   std::to_string(shared) + (shared == 1 ? " contact" : " contacts") +
                   " this undo left: undo it first (dialmend-run --undo " + newer.name +
                   "), then this one again.\r\n");
  }
}

}  // namespace dialmend
