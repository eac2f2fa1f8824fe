#include "run/contact_run.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/fix_number.h"

// The undo run's half of ContactRun: finding each recorded contact again and putting back what
// the update changed.

namespace dialmend {

void ContactRun::UndoContacts(const UndoRecord& record) {
  if (!StartUndo(record)) return;
  std::unique_ptr<Folder> found;
  std::unique_ptr<ItemCursor> items;
  if (!FindRecordedContacts(record, found, items)) return;
  RestoreContacts(record, *found, *items);
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
  if (record.torn) {
    m_log.WriteLog(
        "  The undo record ends in a line cut short: the update was stopped while writing it, "
        "before saving the contact that line was for.\r\n");
  }
  return true;
}

namespace {

// The identities of a record's contacts, read from the record as the store asks for them. The
// record is read again for the changes, so neither pass holds more than a chunk. A record that
// stops being readable ends it: the restore's own pass reports that.
class RecordedIdentities : public IdentityCursor {
 public:
  explicit RecordedIdentities(std::string path) : m_reader(std::move(path)) {}

  std::unique_ptr<ContactIdentity> Next() override {
    if (m_next == m_chunk.size()) {
      m_next = 0;
      if (!m_reader.ReadChunk(kRecordChunk, m_chunk).Ok()) m_chunk.clear();
      if (m_chunk.empty()) return nullptr;
    }
    return std::make_unique<ContactIdentity>(std::move(m_chunk[m_next++].identity));
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
    Problem("Could not find the contacts to restore: " + error.Reason());
    return false;
  }
  if (!found) {
    Problem("This store cannot find its contacts again: the update cannot be undone");
    return false;
  }
  return true;
}

void ContactRun::RestoreContacts(const UndoRecord& record, Folder& found, ItemCursor& items) {
  m_holding = &found;
  const struct Leave {
    Folder*& holding;
    ~Leave() { holding = nullptr; }
  } leave{m_holding};
  RecordedContactReader reader(record.path);
  std::vector<RecordedContact> chunk;
  for (;;) {
    if (const Status read = reader.ReadChunk(kRecordChunk, chunk); !read.Ok()) {
      Problem("Stopped: the undo record \"" + record.path + "\" " + read.Reason());
      break;
    }
    if (chunk.empty()) break;
    for (const RecordedContact& recorded : chunk) {
      // Yield before each contact so a pause or an abort lands between contacts.
      if (Aborted()) return;
      std::unique_ptr<ContactItem> item;
      try {
        item = items.Next();
      } catch (const StoreError& error) {
        Problem("Could not find " + recorded.name + ": " + error.Reason());
        continue;
      }
      if (!item) {
        Problem("Could not find " + recorded.name + ": the store has no contact for it");
        continue;
      }
      RestoreContact(*item, recorded);
      // Each held save keeps its card open: write them a batch at a time, as a walk does.
      if (found.FlushDue()) Flush();
    }
  }
  Flush();
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

void ContactRun::RestoreContact(ContactItem& item, const RecordedContact& recorded) {
  const std::string& where = recorded.name;
  std::vector<PhoneValue> phones;
  try {
    phones = item.Phones();
  } catch (const StoreError& error) {
    Problem("Could not read " + where + ": " + error.Reason());
    return;
  }
  const std::int64_t numbers_before = m_counters.numbers;
  std::string changes;
  std::vector<bool> taken(phones.size());
  try {
    for (const FieldChange& change : recorded.changes) {
      const std::string_view label = PhoneFieldLabel(change.field);
      const std::optional<std::size_t> at = FindRecorded(phones, taken, change, change.new_number);
      if (!at) {
        // Already put back by an undo that was stopped: nothing to do, and nothing wrong.
        if (const auto restored = FindRecorded(phones, taken, change, change.old_number)) {
          taken[*restored] = true;
          continue;
        }
        ++m_counters.left;
        const bool there =
            change.index < phones.size() && phones[change.index].field == change.field;
        Problem(
            "Left " + std::string(label) + " of " + where + " as it is: " +
            (there ? "it holds \"" + phones[change.index].number + "\"" : "it is no longer there") +
            ", not \"" + change.new_number + "\" as the update wrote it");
        continue;
      }
      taken[*at] = true;
      changes += FixLog(label, change.new_number, change.old_number, m_counters);
      if (m_settings.update) item.RestorePhone(*at, change.old_number, change.old_form);
    }
  } catch (const StoreError& error) {
    m_counters.numbers = numbers_before;
    Problem("Could not change " + where + ": " + error.Reason());
    return;
  }
  ++m_counters.checked;
  m_host.CountersChanged(m_counters);
  if (!changes.empty()) SaveRestored(item, where, std::move(changes), numbers_before);
}

void ContactRun::SaveRestored(ContactItem& item, const std::string& where, std::string changes,
                              std::int64_t numbers_before) {
  std::optional<std::uint64_t> held;
  if (m_settings.update) {
    try {
      item.Save();
      held = item.HeldSave();
    } catch (const StoreError& error) {
      m_counters.numbers = numbers_before;
      Problem("Could not save " + where + ": " + error.Reason());
      return;
    }
  }
  ++m_counters.updated;
  m_host.CountersChanged(m_counters);
  std::string report = where + "\r\n" + changes;
  if (held || !m_held.empty()) {
    m_held.push_back({held, where, std::move(report), m_counters.numbers - numbers_before, {}});
    return;
  }
  m_log.WriteLog(report);
}

std::string UndoSummaryText(const SummaryFacts& facts) {
  const char* mode = facts.update ? "Undo" : "Undo simulation";
  std::string text = "\r\n";
  text += std::string(mode) + (facts.completed ? " complete - " : " aborted - ") + facts.now_text;
  text += "\r\n\r\n";
  text += "Overall running time: " + std::to_string(facts.run_seconds) + " secs\r\n\r\n";
  text += "Summary:\r\n";
  text += std::string(facts.update ? "Contacts restored: " : "Contacts to restore: ") +
          std::to_string(facts.counters.updated) + "\r\n";
  text += std::string(facts.update ? "Numbers restored:  " : "Numbers to restore:  ") +
          std::to_string(facts.counters.numbers) + "\r\n";
  text += "Left because changed: " + std::to_string(facts.counters.left) + "\r\n";
  if (facts.counters.problems > 0) {
    text += "Problems: " + std::to_string(facts.counters.problems) + "\r\n";
  }
  return text;
}

}  // namespace dialmend
