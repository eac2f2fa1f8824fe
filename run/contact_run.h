#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "contacts/contact_store.h"
#include "engine/number_options.h"
#include "run/activity_log.h"
#include "run/change_list.h"
#include "run/run_summary.h"
#include "run/undo_record.h"

// The body of a run: open the profile, write the log's header, walk every folder depth first
// and bring each contact's numbers up to date, or, for an undo, walk the contacts its record
// names and put their old numbers back. Store failures (StoreError) are caught here, alike in
// both walks: each gets one log line and counts as a problem, and the walk goes on; a lost store
// (StoreLostError) stops the walk with one line, as an abort does.

namespace dialmend {

// The two lines shown when the Outlook profile cannot be opened.
inline constexpr std::string_view kProfileProblem =
    "There seems to be a problem accessing your profile.\n"
    "Please try again, granting access to contacts when requested.";

// What the walk needs from whoever drives it: the window or the terminal.
class RunHost {
 public:
  virtual ~RunHost() = default;

  // Lets the user act (window events, Ctrl-C) and holds while the run is paused. Returns true
  // when the run has been aborted, after which the walk touches nothing more.
  [[nodiscard]] virtual bool YieldAndCheckAbort() = 0;

  // The profile could not be opened, for `reason` in the store's own words; nothing was
  // written to the log.
  virtual void ProfileFailed(const std::string& reason) = 0;

  // A counter changed: show it now.
  virtual void CountersChanged(const RunCounters& counters) = 0;

  // The walk has entered the folder at `path`, as the log names it (\Work\Clients).
  virtual void FolderEntered(const std::string& path) { (void)path; }

  // The local date and time as text, as the log's header and summary show it.
  [[nodiscard]] virtual std::string NowText() = 0;

  // The undo record could not be written, for the message given; the run has stopped.
  virtual void RecordFailed(const std::string& message) { (void)message; }
};

struct RunSettings {
  // Read afresh for every number, so the caller may keep it current.
  const NumberOptions* options = nullptr;
  bool update = false;  // false: a simulation, which writes nothing
  // Where an update keeps its undo record; std::nullopt: it keeps none. An empty folder is one
  // that could not be found, and the run stops at its first change.
  std::optional<std::string> record_folder = std::nullopt;
  // Given the change list's records (ChangeRecords) of each contact the log reports, when the
  // log reports it; unset: no change list is made.
  std::function<void(std::string_view records)> change_list = nullptr;
};

// The change line for one changed number ("  Home:         0171 930 8890 --> (020) 7930 8890")
// with its CR LF; counts the number.
[[nodiscard]] std::string FixLog(std::string_view label, std::string_view old_number,
                                 std::string_view new_number, RunCounters& counters);

// One run over one store.
class ContactRun {
 public:
  ContactRun(ContactStore& store, const RunSettings& settings, RunCounters& counters,
             ActivityLog& log, RunHost& host);

  // Opens the profile, writes the header and walks every top-level folder.
  void FixContacts();

  // Walks one folder and its subfolders; `parent_path` is "" for a top-level folder.
  void FolderTree(Folder& folder, const std::string& parent_path);

  // Converts one contact's numbers, reports them and, in an update, saves the contact.
  void FixContact(ContactItem& item, const std::string& folder_path);

  // Has the folder being walked write the saves it holds, then reports each held contact: its
  // changes once written, else one "Could not save" problem line, taking it out of the
  // counters. The walk calls it when it leaves a folder's items, when the folder says a flush
  // is due (Folder::FlushDue, one batch) and on an abort; the controller at a pause and an
  // abort, so a stopped run has all it did on disk.
  void Flush();

  // An undo run: opens the profile, writes the undo's header and puts back each old value of
  // `record` where the field still holds the value the update wrote (only reporting, in a
  // simulation). A field changed since is left and named, a problem; so is a contact whose
  // lines in the record are damaged, and a value that is no number. An undo that ends having
  // restored every field marks the record undone, one that leaves some marks it partly undone,
  // so a later undo tries the rest again.
  void UndoContacts(const UndoRecord& record);

  // The undo record could not be written, so the run stopped before changing anything more.
  [[nodiscard]] bool RecordFailed() const { return m_record_failed; }
  // The undo record this update wrote, if it wrote one.
  [[nodiscard]] std::string RecordPath() const { return m_journal ? m_journal->Path() : ""; }

  // True when the store was lost during the walk (StoreLostError): the walk stopped there, as
  // after an abort, and the summary reports the run as aborted.
  [[nodiscard]] bool StoreLost() const { return m_lost; }

 private:
  bool Aborted();
  // Ends the walk after the store is lost at `where`: one problem line, the first time only.
  void Lost(const StoreError& error, const std::string& where);
  // What every step of either walk does with a store's failure: a lost store ends the walk
  // (Lost, at `where`), any other failure is the one problem line `problem`.
  void Failed(const StoreError& error, const std::string& where, const std::string& problem);
  // The walk of one folder's items, the same for an update and an undo. Before each item a
  // yield (a pause, an abort); each item from `next` (nullptr at the end), handed to `handle`;
  // the held saves written whenever the folder asks and at the end. A failure of `next` goes to
  // `next_failed` with where it happened, unless the store is lost. False when the walk ends
  // within it: an abort, or the store lost.
  struct ItemSteps {
    std::function<std::unique_ptr<ContactItem>()> next;
    std::function<void(const StoreError& error)> next_failed;
    std::function<std::string(const StoreError& error)> where;
    std::function<void(ContactItem& item)> handle;
  };
  [[nodiscard]] bool WalkItems(Folder& folder, const ItemSteps& steps);
  void WalkFolders(FolderCursor& folders, const std::string& parent_path);
  // FolderTree's walk of the contacts of `folder`, shown as `path`, their held saves written
  // and its notes logged. False when the walk ends within it: an abort, or the store lost.
  // Throws the StoreError of a folder that cannot be read.
  [[nodiscard]] bool WalkContacts(Folder& folder, const std::string& path);
  // Logs `line` now, or after the held contacts when any wait.
  void WriteInOrder(std::string line);
  void Problem(const std::string& text);
  // Logs each note under `where` (the folder or contact path as the log shows it).
  void LogNotes(std::vector<StoreNote> notes, const std::string& where);
  // Opens the store and writes the log's head: its title, `heading`, the start time (kept in
  // `commenced`) and `mode` with the profile. False, with the failure logged and told, when the
  // store cannot be opened or cannot name its profile.
  bool OpenAndHead(const std::string& heading, const char* mode, std::string& commenced);

  // FixContact's steps, in order. Each that can fail logs the problem, restores the counters
  // it moved and returns false, and the contact is left.

  // A field whose new number the store cannot hold, and why.
  struct Refusal {
    std::string_view label;
    std::string reason;
  };
  // What converting a contact's numbers gives: one FixLog line per changed number, and the
  // fields refused.
  struct Conversion {
    std::string changes;
    std::vector<Refusal> refused;
    std::vector<FieldChange> fields;   // in an update, each change as the undo record keeps it
    std::vector<ListedChange> listed;  // with a change list, each change as it lists it
  };
  // The change list's records of the contact's `listed` changes; empty without a change list.
  [[nodiscard]] std::string ListChanges(ContactItem& item, const std::string& folder_path,
                                        std::vector<ListedChange> listed);
  [[nodiscard]] bool ReadPhones(ContactItem& item, const std::string& folder_path,
                                std::vector<PhoneValue>& phones);
  // Converts each number and, in an update, assigns the new ones to the item.
  [[nodiscard]] bool ConvertPhones(ContactItem& item, const std::string& folder_path,
                                   const std::vector<PhoneValue>& phones, Conversion& conversion);
  // Logs the store's notes about the contact, then one problem per refused field.
  void LogContactNotes(ContactItem& item, const std::string& folder_path,
                       const std::vector<Refusal>& refused);
  // Saves the contact; `held` gets the number of a save its folder holds.
  [[nodiscard]] bool SaveContact(ContactItem& item, const std::string& folder_path,
                                 std::int64_t numbers_before, std::optional<std::uint64_t>& held);
  // Writes the contact's changes to the undo record before it is saved, durable first unless
  // the save is held for Flush(). When the record fails the run stops.
  [[nodiscard]] bool RecordContact(ContactItem& item, const std::string& folder_path,
                                   std::vector<FieldChange> fields, std::int64_t numbers_before);
  // After the save of the contact just recorded: records the version its store gave it, when
  // that differs from the one recorded. When the record fails the run stops.
  void RecordSavedTag(ContactItem& item, const std::string& folder_path);
  void StopForRecord(const Status& failure);
  // UndoContacts' steps, in order. Opens the store and the log and checks that `record` is
  // this store's and not yet undone; false, with the reason logged, when nothing is restored.
  [[nodiscard]] bool StartUndo(const UndoRecord& record);
  // Asks the store for the recorded contacts: `found` holds them, `items` walks them. False,
  // with the problem logged, when they cannot be found.
  [[nodiscard]] bool FindRecordedContacts(const UndoRecord& record, std::unique_ptr<Folder>& found,
                                          std::unique_ptr<ItemCursor>& items);
  // Restores each recorded contact in turn through WalkItems, and logs the notes of `found` and
  // the store.
  void RestoreContacts(const UndoRecord& record, Folder& found, ItemCursor& items);
  // The next recorded contact whose lines are whole into m_recorded; a damaged one is named and
  // passed over. False at the end of the record, or when it stops being readable (logged).
  [[nodiscard]] bool NextRecorded(RecordedContactReader& reader,
                                  std::vector<RecordedContact>& chunk, std::size_t& next);
  // Puts back one recorded contact's old values.
  void RestoreContact(ContactItem& item, const RecordedContact& recorded);
  // What putting back a contact's fields gives: one FixLog line per field put back, and a line
  // per field left.
  struct Restoration {
    std::string changes;
    std::string left;
  };
  // Puts the old values back on the item (in an update) where the fields still hold what the
  // update wrote; throws the store's failures.
  [[nodiscard]] Restoration RestoreFields(ContactItem& item, const RecordedContact& recorded,
                                          const std::vector<PhoneValue>& phones);
  // Saves a contact whose numbers an undo put back (held or written at once) and reports
  // `restored` under its name, or one problem line when the save fails.
  void SaveRestored(ContactItem& item, const std::string& where, Restoration restored,
                    std::int64_t numbers_before);
  // After the undo's walk: marks the record undone, or partly undone, and says when a newer
  // update changed contacts this one left.
  void FinishUndo(const UndoRecord& record);
  // Logs the contact's change lines and gives its change list `records`, or holds both with
  // its held save until Flush().
  void ReportChanges(ContactItem& item, const std::string& folder_path,
                     std::optional<std::uint64_t> held, std::string report, std::string records,
                     std::int64_t numbers_before);
  // Logs `report` and gives `records` to the change list.
  void Report(std::string_view report, std::string_view records);

  ContactStore& m_store;
  RunSettings m_settings;
  RunCounters& m_counters;
  ActivityLog& m_log;
  RunHost& m_host;
  bool m_aborted = false;
  bool m_lost = false;

  // A contact whose save its folder holds until Flush(): its report waits with it, so the log
  // never lists a change that is not on disk. Once one waits, the reports of written contacts
  // after it wait too, so the log keeps the walk's order.
  struct HeldContact {
    std::optional<std::uint64_t> save;
    std::string where;   // its path as the log shows it
    std::string report;  // its change lines, logged once written
    std::int64_t numbers = 0;
    std::string kept = {};     // lines logged after a failed save's line in place of the report
    std::string records = {};  // its change list records, given once written
  };
  // Held contacts in walk order. All but the last few thousand wait in an unnamed temporary
  // file, so a file of a million changed cards does not hold a million reports in memory.
  class HeldContacts {
   public:
    [[nodiscard]] bool empty() const { return m_count == 0 && m_recent.empty(); }
    void push_back(HeldContact contact);
    // Gives each held contact to `settle` in walk order; how many could not be read back.
    std::size_t ForEach(const std::function<void(HeldContact&)>& settle);

   private:
    void Spill();

    struct Closer {
      void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::unique_ptr<std::FILE, Closer> m_spill;
    // How many contacts the file holds, and where the last one whole ends.
    std::size_t m_count = 0;
    long m_end = 0;
    bool m_spill_failed = false;
    std::vector<HeldContact> m_recent;
  };
  // The folder whose items are being walked, and its held contacts.
  Folder* m_holding = nullptr;
  HeldContacts m_held;

  // An update's undo record, from its first change on.
  std::unique_ptr<UndoJournal> m_journal;
  bool m_record_failed = false;
  // The version (ContactIdentity::tag) recorded for the contact being saved.
  std::string m_recorded_tag;

  // An undo's state: the recorded contact in hand, how many recorded fields it met and how
  // many of them held their old values already (put back by an earlier undo), and the identities
  // (hashed) of the contacts it left something of, for naming a newer update that changed them.
  RecordedContact m_recorded;
  std::size_t m_fields = 0;
  std::size_t m_fields_already = 0;
  std::vector<std::uint64_t> m_left_contacts;
};

}  // namespace dialmend
