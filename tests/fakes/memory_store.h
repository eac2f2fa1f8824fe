#pragma once

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "contacts/contact_store.h"

namespace dialmend {

// A contact store held in memory, built from an indented description:
//
//   user Alice Example
//   folder Work
//     contact Riverside Dental
//       Home: 0171 930 8890
//     group Team
//     other Meeting Notes
//     folder Clients [fail items]
//   folder Calendar [calendar]
//
// A group or other item is not a contact; a [calendar] folder holds no contacts.
// Bracketed flags make an operation fail with StoreError: [fail name], [fail kind],
// [fail items], [fail subfolders] on folders; [fail read], [fail kind], [fail phones],
// [fail set], [fail save], [fail fileas] on items; "fail open" and "fail user" lines on the
// store. [lose OP] in place of [fail OP] throws StoreLostError: the store has gone. [refuse 0171]
// on a contact makes CheckPhone refuse numbers containing "0171". [note TEXT] and [problem TEXT]
// on a folder or contact, and "note TEXT" lines on the store, are notes the store gives the run
// (a problem note counts as a problem). A "location NAME" line gives the store an identity, so
// an update keeps an undo record and FindContacts finds each contact by its folder path and
// filing name ("Work/Riverside Dental").
class MemoryStore : public ContactStore {
 public:
  struct Contact {
    std::string file_as;
    ItemKind kind = ItemKind::Contact;
    std::vector<PhoneValue> phones;  // as stored
    std::set<std::string> fails;
    std::string refuse;
    std::vector<StoreNote> notes;
    int saves = 0;
    std::string id;  // its folder path and filing name
  };
  struct Node {
    std::string name;
    FolderKind kind = FolderKind::Contacts;
    std::set<std::string> fails;
    std::vector<Contact> items;
    std::vector<Node> folders;
    std::vector<StoreNote> notes;
  };

  // Builds the store; a malformed description aborts the test with a message.
  explicit MemoryStore(std::string_view description);

  void SetWriting(bool writing) override { m_writing = writing; }
  Status Open() override;
  std::string CurrentUser() override;
  std::unique_ptr<FolderCursor> Folders() override;
  std::vector<StoreNote> TakeNotes() override { return std::exchange(m_notes, {}); }
  StoreIdentity Identity() override;
  std::unique_ptr<Folder> FindContacts(std::vector<ContactIdentity> identities) override;

  // Called by each save before it stores anything.
  std::function<void(const Contact& contact)> before_save;
  // The contact with `id` anywhere in the store, or nullptr.
  [[nodiscard]] Contact* FindById(std::string_view id);
  // Gives the contact filed as `file_as` a new number in entry `index`, as another program would.
  void Edit(std::string_view file_as, std::size_t index, std::string number);

  // The stored state, for checking what a run saved.
  [[nodiscard]] const Node& Root() const { return m_root; }
  // The contact filed as `file_as` anywhere in the store.
  [[nodiscard]] const Contact& Find(std::string_view file_as) const;
  // How many times any item's SetPhone was called.
  [[nodiscard]] int Assignments() const { return m_assignments; }
  // What the run last said with SetWriting.
  [[nodiscard]] bool Writing() const { return m_writing; }
  // How many items were handed out and not yet let go.
  [[nodiscard]] int LiveItems() const { return m_live_items; }

  // For the objects the store hands out.
  int m_assignments = 0;
  int m_live_items = 0;

 private:
  Node m_root;
  std::string m_user = "Test User";
  std::string m_location;
  bool m_fail_open = false;
  bool m_fail_user = false;
  bool m_writing = false;
  std::vector<StoreNote> m_notes;
};

}  // namespace dialmend
