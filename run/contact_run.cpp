#include "run/contact_run.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <unordered_map>
#include <utility>

#include "engine/fix_number.h"
#include "run/log_file.h"

namespace dialmend {
namespace {

// A name from the store as it stands in a log line. A control character in it would split the
// line or hide text, so each is written out: \n, \r and \t, other ASCII controls as \xNN, and
// the C1 controls and the Unicode line and paragraph separators as \uNNNN. Every other byte,
// a backslash included, stays as it is.
std::string LogName(std::string name) {
  // Most names need nothing: give them back without copying.
  const auto plain = [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 0x20 && byte != 0x7F && byte != 0xC2 && byte != 0xE2;
  };
  if (std::all_of(name.begin(), name.end(), plain)) return name;
  constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(name.size());
  for (std::size_t i = 0; i < name.size(); ++i) {
    const auto byte = static_cast<unsigned char>(name[i]);
    const auto next = i + 1 < name.size() ? static_cast<unsigned char>(name[i + 1]) : 0;
    if (byte == '\n') {
      out += "\\n";
    } else if (byte == '\r') {
      out += "\\r";
    } else if (byte == '\t') {
      out += "\\t";
    } else if (byte < 0x20 || byte == 0x7F) {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    } else if (byte == 0xC2 && next >= 0x80 && next <= 0x9F) {
      out += "\\u00";
      out += kHex[next >> 4];
      out += kHex[next & 0xF];
      ++i;
    } else if (byte == 0xE2 && next == 0x80 && i + 2 < name.size() &&
               (name[i + 2] == '\xA8' || name[i + 2] == '\xA9')) {
      out += name[i + 2] == '\xA8' ? "\\u2028" : "\\u2029";
      i += 2;
    } else {
      out += name[i];
    }
  }
  return out;
}

// The contact as the log names it: its folder's path and its filing name, or what the store
// calls it when the name cannot be read. Each call asks the store again.
std::string ContactPath(ContactItem& item, const std::string& folder_path) {
  std::string name;
  try {
    name = LogName(item.FileAs());
  } catch (const StoreError& error) {
    name = LogName(error.Subject());
  }
  return folder_path + "\\" + name;
}

}  // namespace

std::string FixLog(std::string_view label, std::string_view old_number, std::string_view new_number,
                   RunCounters& counters) {
  std::string line;
  line.reserve(16 + old_number.size() + 5 + new_number.size() + 2);
  line.append("  ");
  line.append(label);
  line.push_back(':');
  // Old numbers start in column 17 whatever the label.
  line.append(label.size() < 13 ? 13 - label.size() : 0, ' ');
  line.append(old_number);
  line.append(" --> ");
  line.append(new_number);
  line.append("\r\n");
  ++counters.numbers;
  return line;
}

ContactRun::ContactRun(ContactStore& store, const RunSettings& settings, RunCounters& counters,
                       ActivityLog& log, RunHost& host)
    : m_store(store), m_settings(settings), m_counters(counters), m_log(log), m_host(host) {}

bool ContactRun::Aborted() {
  if (!m_aborted) {
    m_aborted = m_host.YieldAndCheckAbort();
    // An abort leaves the folder early: what was saved before it is written now.
    if (m_aborted) Flush();
  }
  return m_aborted;
}

void ContactRun::Flush() {
  // What the folder writes must be in the undo record, on disk, first.
  if (m_journal && !m_record_failed && m_holding != nullptr) {
    if (const Status synced = m_journal->Sync(); !synced.Ok()) {
      m_record_failed = true;
      m_aborted = true;
      Problem(synced.Message());
      m_host.RecordFailed(synced.Message());
    }
  }
  std::vector<Folder::FlushFailure> failures;
  // A folder that held saves after the record failed is never asked to write them: it lets
  // them go with itself.
  if (m_holding != nullptr && !m_record_failed) failures = m_holding->Flush();
  // A failed write of a large file holds thousands of saves: look each up once.
  std::unordered_map<std::uint64_t, const Folder::FlushFailure*> failed;
  for (const Folder::FlushFailure& failure : failures) {
    for (const std::uint64_t save : failure.saves) failed.emplace(save, &failure);
  }
  HeldContacts held = std::exchange(m_held, {});
  const std::size_t unread = held.ForEach([&](HeldContact& contact) {
    if (m_record_failed && contact.save) {
      m_counters.numbers -= contact.numbers;
      --m_counters.updated;
      Problem("Could not save " + contact.where +
              ": it was not written, as the undo record could not be written");
      m_log.WriteLog(contact.kept);
      return;
    }
    const auto found = contact.save ? failed.find(*contact.save) : failed.end();
    if (found == failed.end()) {
      Report(contact.report, contact.records);
      return;
    }
    const Folder::FlushFailure* failure = found->second;
    m_counters.numbers -= contact.numbers;
    --m_counters.updated;
    // A contact's own file failing reads as any failed save of that contact.
    Problem(failure->subject.empty()
                ? "Could not save " + contact.where + ": " + failure->reason
                : "Could not save " + contact.where + ": " + LogName(failure->subject) +
                      " was not written: " + failure->reason);
    m_log.WriteLog(contact.kept);
  });
  if (unread != 0) {
    Problem("The report of " + std::to_string(unread) +
            " contacts could not be read back from its temporary file; the undo record lists them");
  }
}

void ContactRun::WriteInOrder(std::string line) {
  // Behind a change that waits for its save, so the log keeps the walk's order.
  if (!m_held.empty()) {
    m_held.push_back({std::nullopt, {}, std::move(line), 0});
    return;
  }
  m_log.WriteLog(line);
}

void ContactRun::Lost(const StoreError& error, const std::string& where) {
  if (m_lost) return;
  m_lost = true;
  m_aborted = true;
  Flush();
  Problem("Stopped at " + where + ": " + error.Reason());
}

void ContactRun::Failed(const StoreError& error, const std::string& where,
                        const std::string& problem) {
  if (dynamic_cast<const StoreLostError*>(&error) != nullptr) {
    Lost(error, where);
  } else {
    Problem(problem);
  }
}

bool ContactRun::WalkItems(Folder& folder, const ItemSteps& steps) {
  m_holding = &folder;
  // An abort leaves early, its saves already written by Aborted(): the folder goes, so
  // nothing may reach it after.
  const struct Leave {
    Folder*& holding;
    ~Leave() { holding = nullptr; }
  } leave{m_holding};
  for (;;) {
    std::unique_ptr<ContactItem> item;
    try {
      item = steps.next();
    } catch (const StoreError& error) {
      if (dynamic_cast<const StoreLostError*>(&error) != nullptr) {
        Lost(error, steps.where(error));
        return false;
      }
      if (Aborted()) return false;
      steps.next_failed(error);
      continue;
    }
    if (!item) break;
    // Yield before each item so a pause or an abort lands between contacts.
    if (Aborted()) return false;
    steps.handle(*item);
    if (folder.FlushDue()) Flush();
    if (m_lost) return false;
  }
  Flush();
  return true;
}

void ContactRun::Problem(const std::string& text) {
  WriteInOrder("  " + text + "\r\n");
  ++m_counters.problems;
  m_host.CountersChanged(m_counters);
}

void ContactRun::LogNotes(std::vector<StoreNote> notes, const std::string& where) {
  for (StoreNote& note : notes) {
    std::string line = where;
    if (!note.subject.empty()) line += (where.empty() ? "" : "\\") + LogName(note.subject);
    line += line.empty() ? note.text : ": " + note.text;
    if (note.problem) {
      Problem(line);
    } else {
      WriteInOrder("  " + line + "\r\n");
    }
  }
}

bool ContactRun::OpenAndHead(const std::string& heading, const char* mode, std::string& commenced) {
  m_store.SetWriting(m_settings.update);
  if (const Status opened = m_store.Open(); !opened.Ok()) {
    m_host.ProfileFailed(opened.Message());
    return false;
  }
  // Asked before the first line: a run that cannot name its profile ends with an empty log,
  // as one whose store will not open.
  std::string user;
  try {
    user = m_store.CurrentUser();
  } catch (const StoreError& error) {
    m_host.ProfileFailed(error.Reason());
    return false;
  }
  m_log.WriteLog("Dialmend Activity Log\r\n");
  m_log.WriteLog("=======================\r\n\r\n");
  m_log.WriteLog(heading);
  commenced = m_host.NowText();
  m_log.WriteLog("Commenced " + commenced + "\r\n\r\n");
  m_log.WriteLog(mode);
  m_log.WriteLog(" contacts in profile " + user + "\r\n\r\n");
  if (const std::string found = m_store.Found(); !found.empty()) {
    m_log.WriteLog(found + "\r\n\r\n");
  }
  return true;
}

void ContactRun::FixContacts() {
  std::string commenced;
  if (!OpenAndHead("", m_settings.update ? "Updating" : "Checking", commenced)) return;
  if (m_settings.update && m_settings.record_folder) {
    // A store that cannot find its contacts again keeps no record: it could not be used.
    if (StoreIdentity identity = m_store.Identity(); !identity.kind.empty()) {
      m_journal = std::make_unique<UndoJournal>(*m_settings.record_folder, std::move(identity),
                                                std::chrono::system_clock::now(), commenced);
    }
  }

  std::unique_ptr<FolderCursor> folders;
  try {
    folders = m_store.Folders();
  } catch (const StoreError& error) {
    Failed(error, "the profile's folders",
           "Could not read the profile's folders: " + error.Reason());
  }
  if (folders) {
    WalkFolders(*folders, "");
    LogNotes(m_store.TakeNotes(), "");
  }
  // Whatever ended the walk, the update ended: the record says so, unlike a killed one's.
  if (m_journal && !m_record_failed) {
    if (const Status closed = m_journal->Close(); !closed.Ok()) Problem(closed.Message());
  }
}

void ContactRun::WalkFolders(FolderCursor& folders, const std::string& parent_path) {
  for (;;) {
    std::unique_ptr<Folder> folder;
    try {
      folder = folders.Next();
    } catch (const StoreError& error) {
      const std::string path = parent_path + "\\" + LogName(error.Subject());
      Failed(error, path, "Could not read folder " + path + ": " + error.Reason());
      if (m_lost) return;
      continue;
    }
    if (!folder) return;
    FolderTree(*folder, parent_path);
    if (m_aborted) return;
  }
}

void ContactRun::FolderTree(Folder& folder, const std::string& parent_path) {
  if (Aborted()) return;
  std::string path = parent_path + "\\";
  std::unique_ptr<FolderCursor> subfolders;
  try {
    path += LogName(folder.Name());
    m_host.FolderEntered(path);
    if (folder.Kind() == FolderKind::Contacts && !WalkContacts(folder, path)) return;
    subfolders = folder.Folders();
    LogNotes(folder.TakeNotes(), path);
  } catch (const StoreError& error) {
    // The folder itself cannot be read: it is skipped whole and not counted.
    Failed(error, path, "Could not read folder " + path + ": " + error.Reason());
    return;
  }
  ++m_counters.folders;
  m_host.CountersChanged(m_counters);
  WalkFolders(*subfolders, path);
}

bool ContactRun::WalkContacts(Folder& folder, const std::string& path) {
  const std::unique_ptr<ItemCursor> items = folder.Items();
  const auto where = [&path](const StoreError& error) {
    return path + "\\" + LogName(error.Subject());
  };
  const ItemSteps steps{[&items] { return items->Next(); },
                        [&](const StoreError& error) {
                          Problem("Could not read " + where(error) + ": " + error.Reason());
                        },
                        where,
                        [&](ContactItem& item) {
                          ItemKind kind;
                          try {
                            kind = item.Kind();
                          } catch (const StoreError& error) {
                            Failed(error, where(error),
                                   "Could not read " + where(error) + ": " + error.Reason());
                            return;
                          }
                          if (kind == ItemKind::Contact) FixContact(item, path);
                        }};
  if (!WalkItems(folder, steps)) return false;
  LogNotes(folder.TakeNotes(), path);
  return true;
}

void ContactRun::FixContact(ContactItem& item, const std::string& folder_path) {
  std::vector<PhoneValue> phones;
  if (!ReadPhones(item, folder_path, phones)) return;
  const std::int64_t numbers_before = m_counters.numbers;
  Conversion conversion;
  if (!ConvertPhones(item, folder_path, phones, conversion)) return;
  ++m_counters.checked;
  m_host.CountersChanged(m_counters);
  LogContactNotes(item, folder_path, conversion.refused);
  if (conversion.changes.empty()) return;

  std::string report = ContactPath(item, folder_path) + "\r\n" + conversion.changes;
  std::string records = ListChanges(item, folder_path, std::move(conversion.listed));
  if (m_settings.update && m_journal &&
      !RecordContact(item, folder_path, std::move(conversion.fields), numbers_before)) {
    return;
  }
  std::optional<std::uint64_t> held;
  if (m_settings.update && !SaveContact(item, folder_path, numbers_before, held)) return;
  if (m_settings.update && m_journal && !held && !m_recorded_tag.empty()) {
    RecordSavedTag(item, folder_path);
  }
  ++m_counters.updated;
  m_host.CountersChanged(m_counters);
  ReportChanges(item, folder_path, held, std::move(report), std::move(records), numbers_before);
}

bool ContactRun::ReadPhones(ContactItem& item, const std::string& folder_path,
                            std::vector<PhoneValue>& phones) {
  try {
    phones = item.Phones();
    return true;
  } catch (const StoreLostError& error) {
    Lost(error, folder_path + "\\" + LogName(error.Subject()));
    return false;
  } catch (const StoreError& error) {
    Problem("Could not read " + folder_path + "\\" + LogName(error.Subject()) + ": " +
            error.Reason());
    return false;
  }
}

bool ContactRun::ConvertPhones(ContactItem& item, const std::string& folder_path,
                               const std::vector<PhoneValue>& phones, Conversion& conversion) {
  const std::int64_t numbers_before = m_counters.numbers;
  try {
    for (std::size_t i = 0; i < phones.size(); ++i) {
      std::string fixed = FixNumber(phones[i].number, *m_settings.options);
      if (fixed == phones[i].number) continue;
      ContactItem::StoredNumber stored = item.PrepareNumber(i, std::move(fixed));
      const std::string_view label = PhoneFieldLabel(phones[i].field);
      if (!stored.refusal.empty()) {
        conversion.refused.push_back({label, std::move(stored.refusal)});
        continue;
      }
      if (stored.text == phones[i].number) continue;
      conversion.changes += FixLog(label, phones[i].number, stored.text, m_counters);
      if (m_settings.change_list)
        conversion.listed.push_back({label, phones[i].number, stored.text});
      if (m_settings.update) {
        conversion.fields.push_back(
            {i, phones[i].field, phones[i].number, stored.text, item.StoredForm(i)});
      }
      // A simulation never assigns: a live item may be open elsewhere and saved by the user.
      if (m_settings.update) item.SetPhone(i, std::move(stored.text));
    }
  } catch (const StoreLostError& error) {
    m_counters.numbers = numbers_before;
    Lost(error, folder_path + "\\" + LogName(error.Subject()));
    return false;
  } catch (const StoreError& error) {
    m_counters.numbers = numbers_before;
    Problem("Could not change " + ContactPath(item, folder_path) + ": " + error.Reason());
    return false;
  }
  return true;
}

void ContactRun::LogContactNotes(ContactItem& item, const std::string& folder_path,
                                 const std::vector<Refusal>& refused) {
  // The filing name is asked for only when there is something to say: each question is a
  // call into the store.
  if (std::vector<StoreNote> notes = item.TakeNotes(); !notes.empty()) {
    LogNotes(std::move(notes), ContactPath(item, folder_path));
  }
  for (const Refusal& r : refused) {
    Problem("Could not change " + std::string(r.label) + " of " + ContactPath(item, folder_path) +
            ": " + r.reason);
  }
}

bool ContactRun::SaveContact(ContactItem& item, const std::string& folder_path,
                             std::int64_t numbers_before, std::optional<std::uint64_t>& held) {
  try {
    item.Save();
    held = item.HeldSave();
    return true;
  } catch (const StoreLostError& error) {
    m_counters.numbers = numbers_before;
    Lost(error, folder_path + "\\" + LogName(error.Subject()));
    return false;
  } catch (const StoreError& error) {
    // Nothing of this contact was written, so none of it counts as updated.
    m_counters.numbers = numbers_before;
    Problem("Could not save " + ContactPath(item, folder_path) + ": " + error.Reason());
    return false;
  }
}

bool ContactRun::RecordContact(ContactItem& item, const std::string& folder_path,
                               std::vector<FieldChange> fields, std::int64_t numbers_before) {
  RecordedContact contact;
  contact.changes = std::move(fields);
  bool held = false;
  try {
    contact.identity = item.Identity();
    held = item.SaveIsHeld();
  } catch (const StoreError& error) {
    m_counters.numbers = numbers_before;
    Problem("Could not save " + ContactPath(item, folder_path) + ": " + error.Reason());
    return false;
  }
  contact.name = ContactPath(item, folder_path);
  m_recorded_tag = contact.identity.tag;
  Status recorded = m_journal->Record(contact);
  // A held save reaches the store only at Flush(), which makes the record durable first: one
  // flush to disk for the whole batch.
  if (recorded.Ok() && !held) recorded = m_journal->Sync();
  if (recorded.Ok()) return true;
  m_counters.numbers = numbers_before;
  StopForRecord(recorded);
  return false;
}

void ContactRun::RecordSavedTag(ContactItem& item, const std::string& folder_path) {
  std::string tag;
  try {
    tag = item.Identity().tag;
  } catch (const StoreError& error) {
    // Saved, but an undo will take the card for one changed since and leave it.
    Problem("Could not record what was saved of " + ContactPath(item, folder_path) +
            ", so an undo will leave it: " + error.Reason());
    return;
  }
  if (tag == m_recorded_tag) return;
  Status recorded = m_journal->RecordSaved(tag);
  if (recorded.Ok()) recorded = m_journal->Sync();
  if (!recorded.Ok()) StopForRecord(recorded);
}

void ContactRun::StopForRecord(const Status& failure) {
  m_record_failed = true;
  m_aborted = true;
  Problem(failure.Message());
  m_host.RecordFailed(failure.Message());
  Flush();
}

void ContactRun::ReportChanges(ContactItem& item, const std::string& folder_path,
                               std::optional<std::uint64_t> held, std::string report,
                               std::string records, std::int64_t numbers_before) {
  if (held || !m_held.empty()) {
    m_held.push_back({held,
                      ContactPath(item, folder_path),
                      std::move(report),
                      m_counters.numbers - numbers_before,
                      {},
                      std::move(records)});
    return;
  }
  Report(report, records);
}

void ContactRun::Report(std::string_view report, std::string_view records) {
  m_log.WriteLog(report);
  if (!records.empty()) m_settings.change_list(records);
}

std::string ContactRun::ListChanges(ContactItem& item, const std::string& folder_path,
                                    std::vector<ListedChange> listed) {
  if (!m_settings.change_list || listed.empty()) return {};
  ListedContact contact;
  contact.contact = ContactPath(item, folder_path);
  contact.changes = std::move(listed);
  try {
    const ContactIdentity identity = item.Identity();
    contact.location = identity.where;
    contact.card = identity.card;
    contact.uid = item.Uid();
  } catch (const StoreError& error) {
    // Listed still, by the name the log gives it.
    Problem("Could not tell where " + contact.contact +
            " is kept, for the change list: " + error.Reason());
  }
  return ChangeRecords(contact);
}

}  // namespace dialmend
