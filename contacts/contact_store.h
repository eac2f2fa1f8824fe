#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "contacts/phone_field.h"
#include "platform/result.h"

// The operations a run needs from a contact store. Any store (a vCard folder tree, Outlook,
// the in-memory store of the tests) stands behind these classes.
//
// Errors: during the walk a store signals a failure by throwing StoreError; the walk catches
// it, logs one line, skips what failed and goes on. A StoreLostError ends the walk instead.

namespace dialmend {

// What an item of a folder is. Only contacts are read further; groups and anything else are
// passed over.
enum class ItemKind { Contact, Group, Other };

// What a folder holds. Only the items of a contacts folder are walked; its subfolders are
// walked whatever it holds.
enum class FolderKind { Contacts, Other };

// A failure of the store while a run walks it: what failed, and why in words.
class StoreError : public std::runtime_error {
 public:
  StoreError(std::string subject, std::string reason)
      : std::runtime_error(subject + ": " + reason),
        m_subject(std::move(subject)),
        m_reason(std::move(reason)) {}

  // The item or folder, as the user knows it ("broken-export.vcf"); may be empty.
  [[nodiscard]] const std::string& Subject() const { return m_subject; }
  // Why, in words ("no END:VCARD line", "permission denied").
  [[nodiscard]] const std::string& Reason() const { return m_reason; }

 private:
  std::string m_subject;
  std::string m_reason;
};

// A failure after which nothing more can be done with the store (Outlook has closed, or stays
// busy): the walk stops as after an abort, with one log line, instead of failing every contact.
class StoreLostError : public StoreError {
 public:
  using StoreError::StoreError;
};

// A contact an undo finds changed since the update saved it (a server holds another version of
// it): it is left as it is and counted with the fields left because they changed, not as a
// contact that could not be found.
class ContactChangedError : public StoreError {
 public:
  using StoreError::StoreError;
};

// A line for the log that is not a change: an entry passed over, a value left as it is, a
// leftover tidied away. The run writes it under the folder or contact it concerns.
struct StoreNote {
  // The entry as the user knows it ("fifo.vcf"); empty when the note is about the whole
  // folder, contact or store.
  std::string subject;
  // What happened and why, in words ("passed over: it is a FIFO, not a file").
  std::string text;
  // Counts in the summary's "Problems: N".
  bool problem = false;
};

// One telephone number of a contact, as the store holds it.
struct PhoneValue {
  PhoneField field = PhoneField::Other;
  std::string number;
};

// Where a contact stands in its store, so that a later run can find it again.
struct ContactIdentity {
  // The card's file path (vCard stores), the item's EntryID (Outlook), a resource's href.
  std::string where;
  // The card's place in a file of many cards, from 0; -1 when the file holds one card.
  std::int64_t card = -1;
  // The resource's version as the server gave it (an ETag); empty where a store has none.
  std::string tag;
  // What finds the contact again when its place may have moved (a card of a file that may be
  // exported again): the store's own text, such as its UID and a digest of its name and numbers
  // as the update left them; empty where `where` and `card` say all.
  std::string key = {};

  friend bool operator==(const ContactIdentity&, const ContactIdentity&) = default;
};

// Which store a run worked on: its kind ("vCard folder") and its location (a path, a profile
// name). An empty kind means the store cannot be found again, and keeps no undo record.
struct StoreIdentity {
  std::string kind;
  std::string location;

  friend bool operator==(const StoreIdentity&, const StoreIdentity&) = default;
};

// One item of a folder. Only contacts are read further.
class ContactItem {
 public:
  virtual ~ContactItem() = default;

  // What the item is; asked before anything else about it.
  [[nodiscard]] virtual ItemKind Kind() = 0;

  // The contact's telephone numbers in field order, each read once. A store with one value
  // per field gives all nineteen, empty ones included; a vCard gives each TEL it holds.
  [[nodiscard]] virtual std::vector<PhoneValue> Phones() = 0;

  // The text the store would hold for `number` in entry `index` (a tel: URI, say, joins the
  // number with hyphens), or in `refusal` why it cannot hold it.
  struct StoredNumber {
    std::string text;
    std::string refusal;
  };
  [[nodiscard]] virtual StoredNumber PrepareNumber(std::size_t index, std::string number) {
    (void)index;
    return {std::move(number), {}};
  }

  // Gives entry `index` of Phones() a new number on this item only; the stored contact
  // changes only when Save() succeeds.
  virtual void SetPhone(std::size_t index, std::string number) = 0;

  // Entry `index` exactly as the store keeps it when that is more than its number (a vCard
  // value's bytes: folds, encoding and all), so an undo can give back that very form; empty
  // where the number says it all.
  [[nodiscard]] virtual std::string StoredForm(std::size_t index) {
    (void)index;
    return {};
  }

  // As SetPhone, for an undo: the entry gets `number` back, written as `stored_form` (what
  // StoredForm gave) where the store can, so the contact is as it was byte for byte.
  virtual void RestorePhone(std::size_t index, std::string number, std::string stored_form) {
    (void)stored_form;
    SetPhone(index, std::move(number));
  }

  // The name the contact is filed under; may be empty.
  [[nodiscard]] virtual std::string FileAs() = 0;

  // Writes every assigned number to the store, or hands them to the folder's Flush() when the
  // store writes many contacts at once (one file of many cards, or a batch of card files made
  // durable together). Throws StoreError when the store refuses.
  virtual void Save() = 0;

  // After a Save() that succeeded: std::nullopt when the contact is written, else the number by
  // which the folder's Flush() names this save should its write fail.
  [[nodiscard]] virtual std::optional<std::uint64_t> HeldSave() { return std::nullopt; }

  // What the log should say about this contact besides its changes; asked once, after
  // Phones().
  [[nodiscard]] virtual std::vector<StoreNote> TakeNotes() { return {}; }

  // Said before Save(): true when Save() only hands the contact to its folder's Flush(), so
  // nothing reaches the store until then.
  [[nodiscard]] virtual bool SaveIsHeld() { return false; }

  // How ContactStore::FindContacts finds this contact again; empty `where` when it cannot.
  // Throws StoreError when the store cannot say.
  [[nodiscard]] virtual ContactIdentity Identity() { return {}; }

  // The card's UID, as the card holds it; empty where there is none.
  [[nodiscard]] virtual std::string Uid() { return {}; }
};

// Walks a collection once, first to last, one element at a time.
template <class T>
class Cursor {
 public:
  virtual ~Cursor() = default;
  // The next element, or nullptr at the end. Throws StoreError for an element that cannot be
  // read; the cursor has then moved past it, so the caller may go on.
  [[nodiscard]] virtual std::unique_ptr<T> Next() = 0;
};

class Folder;
using FolderCursor = Cursor<Folder>;
using ItemCursor = Cursor<ContactItem>;
using IdentityCursor = Cursor<ContactIdentity>;

class Folder {
 public:
  virtual ~Folder() = default;
  [[nodiscard]] virtual std::string Name() = 0;
  // What the folder holds; its items are asked for only when it holds contacts.
  [[nodiscard]] virtual FolderKind Kind() = 0;
  [[nodiscard]] virtual std::unique_ptr<ItemCursor> Items() = 0;
  [[nodiscard]] virtual std::unique_ptr<FolderCursor> Folders() = 0;

  // What the log should say about this folder's entries (passed over, tidied); asked after
  // its items and again after Folders(), each note given once.
  [[nodiscard]] virtual std::vector<StoreNote> TakeNotes() { return {}; }

  // A write of held saves that failed: what was not written (empty when it is the contact's own
  // file, which the contact names), why, and the HeldSave() numbers of the contacts it held,
  // none of which is saved.
  struct FlushFailure {
    std::string subject;
    std::string reason;
    std::vector<std::uint64_t> saves;
  };

  // Writes every save its items hold (see ContactItem::HeldSave), each file once, and gives
  // the writes that failed. Never throws; with nothing held it writes nothing. The walk calls
  // it when it leaves the folder's items, and when the run is paused or aborted.
  [[nodiscard]] virtual std::vector<FlushFailure> Flush() { return {}; }

  // Whether its items hold so many saves that the walk should Flush() before the next item.
  // Each Flush() is one batch made durable at once: what must be on disk before the batch's
  // cards change is written before the call.
  [[nodiscard]] virtual bool FlushDue() { return false; }
};

// A profile: the store as one user sees it.
class ContactStore {
 public:
  virtual ~ContactStore() = default;

  // Said before Open(): true when the run will save contacts, so the store may tidy away its
  // own leftovers from an earlier run; false for a simulation, which writes nothing.
  virtual void SetWriting(bool writing) { (void)writing; }

  // Opens the profile; fails with why it cannot be opened, in words.
  virtual Status Open() = 0;

  // The profile user's name. Throws StoreError when access is refused.
  [[nodiscard]] virtual std::string CurrentUser() = 0;

  // Where the default search found this store, as a sentence for the head of the log; empty when
  // the store was named. Asked once, after Open(). Never throws.
  [[nodiscard]] virtual std::string Found() { return {}; }

  // The top-level folders.
  [[nodiscard]] virtual std::unique_ptr<FolderCursor> Folders() = 0;

  // What the log should say about the store as a whole; asked once, after the walk.
  [[nodiscard]] virtual std::vector<StoreNote> TakeNotes() { return {}; }

  // About how many contacts the walk will meet, for showing progress; may be asked before
  // Open(). A store answers only when counting costs a small part of the walk (names in
  // folders); std::nullopt when it cannot or that would cost more. Group cards and cards that
  // cannot be read may count too. Never throws.
  [[nodiscard]] virtual std::optional<std::int64_t> CountContacts() { return std::nullopt; }

  // Which store this is, once opened; see StoreIdentity.
  [[nodiscard]] virtual StoreIdentity Identity() { return {}; }

  // After Open(): a folder whose items are the contacts `identities` name, one Next() for each
  // in order; Next() throws StoreError naming one that cannot be found or read and moves past
  // it. Its Flush() writes the saves its items hold. nullptr when the store cannot find its
  // contacts again. The undo asks through FindContactsAsRead; a store that needs the whole list
  // at once overrides this one.
  [[nodiscard]] virtual std::unique_ptr<Folder> FindContacts(
      std::vector<ContactIdentity> identities) {
    (void)identities;
    return nullptr;
  }

  // FindContacts with `identities` given one at a time, taken as the folder's items are asked
  // for, so that an undo's list is never held whole. The default gathers them all first.
  [[nodiscard]] virtual std::unique_ptr<Folder> FindContactsAsRead(
      std::unique_ptr<IdentityCursor> identities) {
    std::vector<ContactIdentity> all;
    while (std::unique_ptr<ContactIdentity> identity = identities->Next()) {
      all.push_back(std::move(*identity));
    }
    return FindContacts(std::move(all));
  }
};

}  // namespace dialmend
