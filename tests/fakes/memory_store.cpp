#include "tests/fakes/memory_store.h"

#include <cstdlib>
#include <iostream>
#include <sstream>

namespace dialmend {
namespace {

[[noreturn]] void Malformed(const std::string& line, const char* why) {
  std::cerr << "MemoryStore description: " << why << ": \"" << line << "\"\n";
  std::abort();
}

// Splits "name [fail save] [calendar]" into the name and its flags.
std::string TakeFlags(std::string text, std::set<std::string>& flags) {
  for (std::size_t open; (open = text.find(" [")) != std::string::npos;) {
    const std::size_t close = text.find(']', open);
    if (close == std::string::npos) Malformed(text, "unclosed [");
    flags.insert(text.substr(open + 2, close - open - 2));
    text.erase(open, close - open + 1);
  }
  return text;
}

std::optional<PhoneField> FieldByLabel(std::string_view label) {
  for (int i = 0; i < kPhoneFieldCount; ++i) {
    if (PhoneFieldLabel(PhoneField(i)) == label) return PhoneField(i);
  }
  return std::nullopt;
}

// Moves the [note TEXT] and [problem TEXT] flags out of `flags` into notes.
std::vector<StoreNote> TakeNoteFlags(std::set<std::string>& flags) {
  std::vector<StoreNote> notes;
  for (auto it = flags.begin(); it != flags.end();) {
    const bool problem = it->starts_with("problem ");
    if (problem || it->starts_with("note ")) {
      notes.push_back({{}, it->substr(it->find(' ') + 1), problem});
      it = flags.erase(it);
    } else {
      ++it;
    }
  }
  return notes;
}

void Check(const std::set<std::string>& fails, const char* op, const std::string& subject) {
  if (fails.count(std::string("fail ") + op) != 0) {
    throw StoreError(subject, std::string(op) + " refused by the test store");
  }
  if (fails.count(std::string("lose ") + op) != 0) {
    throw StoreLostError(subject, "the test store has gone");
  }
}

class MemoryItem : public ContactItem {
 public:
  MemoryItem(MemoryStore& store, MemoryStore::Contact& contact)
      : m_store(store), m_contact(contact), m_pending(contact.phones) {
    ++m_store.m_live_items;
  }
  ~MemoryItem() override { --m_store.m_live_items; }

  ItemKind Kind() override {
    Check(m_contact.fails, "kind", m_contact.file_as);
    return m_contact.kind;
  }
  std::vector<PhoneValue> Phones() override {
    Check(m_contact.fails, "phones", m_contact.file_as);
    return m_contact.phones;
  }
  StoredNumber PrepareNumber(std::size_t, std::string number) override {
    if (!m_contact.refuse.empty() && number.find(m_contact.refuse) != std::string::npos) {
      return {{}, "the store cannot hold \"" + m_contact.refuse + "\""};
    }
    return {std::move(number), {}};
  }
  void SetPhone(std::size_t index, std::string number) override {
    Check(m_contact.fails, "set", m_contact.file_as);
    ++m_store.m_assignments;
    m_pending.at(index).number = std::move(number);
  }
  std::string FileAs() override {
    Check(m_contact.fails, "fileas", m_contact.file_as);
    return m_contact.file_as;
  }
  void Save() override {
    Check(m_contact.fails, "save", m_contact.file_as);
    if (m_store.before_save) m_store.before_save(m_contact);
    m_contact.phones = m_pending;
    ++m_contact.saves;
  }
  std::vector<StoreNote> TakeNotes() override { return m_contact.notes; }
  ContactIdentity Identity() override { return {m_contact.id, -1, {}}; }

 private:
  MemoryStore& m_store;
  MemoryStore::Contact& m_contact;
  std::vector<PhoneValue> m_pending;
};

class MemoryItems : public ItemCursor {
 public:
  MemoryItems(MemoryStore& store, MemoryStore::Node& node) : m_store(store), m_node(node) {}
  std::unique_ptr<ContactItem> Next() override {
    if (m_next >= m_node.items.size()) return nullptr;
    MemoryStore::Contact& contact = m_node.items[m_next++];
    Check(contact.fails, "read", contact.file_as + ".item");
    return std::make_unique<MemoryItem>(m_store, contact);
  }

 private:
  MemoryStore& m_store;
  MemoryStore::Node& m_node;
  std::size_t m_next = 0;
};

class MemoryFolder;

class MemoryFolders : public FolderCursor {
 public:
  MemoryFolders(MemoryStore& store, std::vector<MemoryStore::Node>& nodes)
      : m_store(store), m_nodes(nodes) {}
  std::unique_ptr<Folder> Next() override;

 private:
  MemoryStore& m_store;
  std::vector<MemoryStore::Node>& m_nodes;
  std::size_t m_next = 0;
};

class MemoryFolder : public Folder {
 public:
  MemoryFolder(MemoryStore& store, MemoryStore::Node& node) : m_store(store), m_node(node) {}
  std::string Name() override {
    Check(m_node.fails, "name", m_node.name);
    return m_node.name;
  }
  FolderKind Kind() override {
    Check(m_node.fails, "kind", m_node.name);
    return m_node.kind;
  }
  std::unique_ptr<ItemCursor> Items() override {
    Check(m_node.fails, "items", m_node.name);
    return std::make_unique<MemoryItems>(m_store, m_node);
  }
  std::unique_ptr<FolderCursor> Folders() override {
    Check(m_node.fails, "subfolders", m_node.name);
    return std::make_unique<MemoryFolders>(m_store, m_node.folders);
  }
  std::vector<StoreNote> TakeNotes() override {
    if (m_notes_given) return {};
    m_notes_given = true;
    return m_node.notes;
  }

 private:
  MemoryStore& m_store;
  MemoryStore::Node& m_node;
  bool m_notes_given = false;
};

std::unique_ptr<Folder> MemoryFolders::Next() {
  if (m_next >= m_nodes.size()) return nullptr;
  return std::make_unique<MemoryFolder>(m_store, m_nodes[m_next++]);
}

const MemoryStore::Contact* FindIn(const MemoryStore::Node& node, std::string_view file_as) {
  for (const auto& contact : node.items) {
    if (contact.file_as == file_as) return &contact;
  }
  for (const auto& folder : node.folders) {
    if (const auto* found = FindIn(folder, file_as)) return found;
  }
  return nullptr;
}

}  // namespace

MemoryStore::MemoryStore(std::string_view description) {
  // The chain of open nodes by indent: folders at even depths, a contact's numbers below it.
  std::vector<std::pair<std::size_t, Node*>> open{{0, &m_root}};
  Contact* contact = nullptr;
  std::size_t contact_indent = 0;
  std::istringstream in{std::string(description)};
  for (std::string line; std::getline(in, line);) {
    if (line.ends_with("contact")) line += ' ';  // a contact with no filing name
    const std::size_t indent = line.find_first_not_of(' ');
    if (indent == std::string::npos) continue;
    const std::string text = line.substr(indent);
    if (contact != nullptr && indent > contact_indent) {
      const std::size_t colon = text.find(": ");
      if (colon == std::string::npos) Malformed(line, "number without \"Label: \"");
      const auto field = FieldByLabel(text.substr(0, colon));
      if (!field) Malformed(line, "unknown field label");
      contact->phones.push_back({*field, text.substr(colon + 2)});
      continue;
    }
    contact = nullptr;
    while (open.size() > 1 && open.back().first >= indent + 1) open.pop_back();
    Node& parent = *open.back().second;
    if (text.starts_with("user ")) {
      m_user = text.substr(5);
    } else if (text.starts_with("location ")) {
      m_location = text.substr(9);
    } else if (text == "fail open") {
      m_fail_open = true;
    } else if (text == "fail user") {
      m_fail_user = true;
    } else if (text.starts_with("note ")) {
      m_notes.push_back({{}, text.substr(5), false});
    } else if (text.starts_with("folder ")) {
      Node node;
      node.name = TakeFlags(text.substr(7), node.fails);
      node.notes = TakeNoteFlags(node.fails);
      if (node.fails.erase("calendar") != 0) node.kind = FolderKind::Other;
      parent.folders.push_back(std::move(node));
      open.emplace_back(indent + 1, &parent.folders.back());
    } else if (text.starts_with("contact ") || text.starts_with("group ") ||
               text.starts_with("other ")) {
      Contact c;
      c.file_as = TakeFlags(text.substr(text.find(' ') + 1), c.fails);
      if (text.starts_with("group ")) c.kind = ItemKind::Group;
      if (text.starts_with("other ")) c.kind = ItemKind::Other;
      c.notes = TakeNoteFlags(c.fails);
      for (auto it = c.fails.begin(); it != c.fails.end();) {
        if (it->starts_with("refuse ")) {
          c.refuse = it->substr(7);
          it = c.fails.erase(it);
        } else {
          ++it;
        }
      }
      for (std::size_t i = 1; i < open.size(); ++i) c.id += open[i].second->name + "/";
      c.id += c.file_as;
      parent.items.push_back(std::move(c));
      contact = &parent.items.back();
      contact_indent = indent;
    } else {
      Malformed(line, "unknown line");
    }
  }
}

Status MemoryStore::Open() {
  if (m_fail_open) return Status::Failure("the test store will not open");
  return {};
}

std::string MemoryStore::CurrentUser() {
  if (m_fail_user) throw StoreError("profile", "access refused");
  return m_user;
}

std::unique_ptr<FolderCursor> MemoryStore::Folders() {
  return std::make_unique<MemoryFolders>(*this, m_root.folders);
}

namespace {

// The contacts an undo asks for, by identity.
class FoundItems : public ItemCursor {
 public:
  FoundItems(MemoryStore& store, std::vector<ContactIdentity> identities)
      : m_store(store), m_identities(std::move(identities)) {}
  std::unique_ptr<ContactItem> Next() override {
    if (m_next >= m_identities.size()) return nullptr;
    const std::string& id = m_identities[m_next++].where;
    MemoryStore::Contact* contact = m_store.FindById(id);
    if (contact == nullptr) throw StoreError(id, "no such contact in the test store");
    return std::make_unique<MemoryItem>(m_store, *contact);
  }

 private:
  MemoryStore& m_store;
  std::vector<ContactIdentity> m_identities;
  std::size_t m_next = 0;
};

class FoundFolder : public Folder {
 public:
  FoundFolder(MemoryStore& store, std::vector<ContactIdentity> identities)
      : m_store(store), m_identities(std::move(identities)) {}
  std::string Name() override { return "found"; }
  FolderKind Kind() override { return FolderKind::Contacts; }
  std::unique_ptr<ItemCursor> Items() override {
    return std::make_unique<FoundItems>(m_store, std::move(m_identities));
  }
  std::unique_ptr<FolderCursor> Folders() override {
    static std::vector<MemoryStore::Node> none;
    return std::make_unique<MemoryFolders>(m_store, none);
  }

 private:
  MemoryStore& m_store;
  std::vector<ContactIdentity> m_identities;
};

MemoryStore::Contact* FindIdIn(MemoryStore::Node& node, std::string_view id) {
  for (auto& contact : node.items) {
    if (contact.id == id) return &contact;
  }
  for (auto& folder : node.folders) {
    if (auto* found = FindIdIn(folder, id)) return found;
  }
  return nullptr;
}

}  // namespace

StoreIdentity MemoryStore::Identity() {
  if (m_location.empty()) return {};
  return {"memory", m_location};
}

std::unique_ptr<Folder> MemoryStore::FindContacts(std::vector<ContactIdentity> identities) {
  if (m_location.empty()) return nullptr;
  return std::make_unique<FoundFolder>(*this, std::move(identities));
}

MemoryStore::Contact* MemoryStore::FindById(std::string_view id) {
  return FindIdIn(m_root, id);
}

void MemoryStore::Edit(std::string_view file_as, std::size_t index, std::string number) {
  const_cast<Contact&>(Find(file_as)).phones.at(index).number = std::move(number);
}

const MemoryStore::Contact& MemoryStore::Find(std::string_view file_as) const {
  const Contact* found = FindIn(m_root, file_as);
  if (found == nullptr) {
    std::cerr << "MemoryStore: no contact \"" << file_as << "\"\n";
    std::abort();
  }
  return *found;
}

}  // namespace dialmend
