#include "contacts/vcard_store.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "log/atomic_file.h"
#include "log/utf8_path.h"
#include "contacts/vcard.h"

namespace dialmend {
namespace {

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::string ErrorText(const std::error_code& error) {
  std::string text = error.message();
  if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z') text[0] = static_cast<char>(text[0] + 32);
  return text;
}

// The entries of one folder, sorted by name, as the walk needs them.
struct Listing {
  std::vector<std::string> cards;
  std::vector<std::string> folders;
  bool has_calendar_items = false;
};

bool Hidden(std::string_view name) { return name.empty() || name[0] == '.'; }

// Editors' and sync tools' leftovers, which are never cards of their own.
bool Temporary(std::string_view name) {
  return name.ends_with("~") || name.ends_with(".tmp") || name.ends_with(".swp");
}

// The file name as UTF-8, whatever the platform's own encoding of names.
std::string NameOf(const std::filesystem::path& path) { return Utf8FromPath(path.filename()); }

// Throws StoreError when the folder cannot be listed.
Listing List(const std::string& path, const std::string& subject) {
  namespace fs = std::filesystem;
  std::error_code error;
  fs::directory_iterator it(PathFromUtf8(path), error);
  if (error) throw StoreError(subject, ErrorText(error));
  Listing listing;
  for (; it != fs::directory_iterator(); it.increment(error)) {
    const std::string name = NameOf(it->path());
    if (Hidden(name) || Temporary(name)) continue;
    // The type the listing already gives, looked up again only for links (which are
    // followed); an entry that vanished or cannot be looked at is passed over.
    std::error_code type_error;
    const bool is_folder = it->is_directory(type_error);
    const bool is_file = !type_error && !is_folder && it->is_regular_file(type_error);
    if (type_error) continue;
    const std::string lower = Lower(name);
    if (is_folder) {
      listing.folders.push_back(name);
    } else if (is_file && lower.ends_with(".vcf")) {
      listing.cards.push_back(name);
    } else if (is_file && lower.ends_with(".ics")) {
      listing.has_calendar_items = true;
    }
  }
  if (error) throw StoreError(subject, ErrorText(error));
  std::sort(listing.cards.begin(), listing.cards.end());
  std::sort(listing.folders.begin(), listing.folders.end());
  return listing;
}

class VCardItem : public ContactItem {
 public:
  VCardItem(std::string path, std::string name, VCard card, FileStamp stamp, HeldFile file)
      : m_path(std::move(path)),
        m_name(std::move(name)),
        m_card(std::move(card)),
        m_stamp(stamp),
        m_file(std::move(file)) {}

  int Class() override {
    return m_card.Kind() == CardKind::Group ? kDistributionListClass : kContactClass;
  }

  std::vector<PhoneValue> Phones() override {
    std::vector<PhoneValue> phones;
    phones.reserve(m_card.Phones().size());
    for (const PhoneEntry& entry : m_card.Phones()) phones.push_back({entry.field, entry.number});
    return phones;
  }

  StoredNumber PrepareNumber(std::size_t index, std::string number) override {
    if (index < m_card.Phones().size() && m_card.Phones()[index].is_tel_uri) {
      TelUriNumber uri = TelUriFromNumber(number);
      if (!uri.number) return {{}, std::move(uri.error)};
      return {std::move(*uri.number), {}};
    }
    return {std::move(number), {}};
  }

  void SetPhone(std::size_t index, std::string number) override {
    m_changes.push_back({index, std::move(number)});
  }

  std::string FileAs() override { return m_card.FileAs(); }

  void Save() override {
    if (m_changes.empty()) return;
    VCardRewrite rewrite = RewriteVCard(m_card, m_changes);
    if (!rewrite.rejected.empty()) throw StoreError(m_name, rewrite.rejected.front().reason);
    if (rewrite.bytes == m_card.Bytes()) return;
    FileStatus status =
        WriteFileAtomically(PathFromUtf8(m_path), rewrite.bytes, m_stamp, m_card.Bytes(), &m_file);
    if (!status) throw StoreError(m_name, status.reason);
    m_changes.clear();
  }

 private:
  std::string m_path;
  std::string m_name;
  VCard m_card;
  FileStamp m_stamp;
  // The card as read, open until the item goes, so the save compares with that very file.
  HeldFile m_file;
  std::vector<PhoneChange> m_changes;
};

class VCardItems : public ItemCursor {
 public:
  VCardItems(std::string path, std::vector<std::string> names)
      : m_path(std::move(path)), m_names(std::move(names)) {}

  std::unique_ptr<ContactItem> Next() override {
    if (m_next >= m_names.size()) return nullptr;
    const std::string& name = m_names[m_next++];
    std::string path = m_path + "/" + name;
    FileSnapshot snapshot = ReadFileSnapshot(PathFromUtf8(path), kMaxVCardBytes);
    if (!snapshot.status) throw StoreError(name, snapshot.status.reason);
    ParsedVCard parsed = ParseVCard(snapshot.bytes);
    if (!parsed) throw StoreError(name, parsed.error);
    return std::make_unique<VCardItem>(std::move(path), name, std::move(*parsed.card),
                                       snapshot.stamp, std::move(snapshot.file));
  }

 private:
  std::string m_path;
  std::vector<std::string> m_names;
  std::size_t m_next = 0;
};

class VCardFolder;

class VCardFolders : public FolderCursor {
 public:
  VCardFolders(std::string path, std::vector<std::string> names)
      : m_path(std::move(path)), m_names(std::move(names)) {}
  std::unique_ptr<Folder> Next() override;

 private:
  std::string m_path;
  std::vector<std::string> m_names;
  std::size_t m_next = 0;
};

class VCardFolder : public Folder {
 public:
  VCardFolder(std::string path, std::string dir_name)
      : m_path(std::move(path)), m_dir_name(std::move(dir_name)) {}

  std::string Name() override {
    std::ifstream in(PathFromUtf8(m_path) / "displayname", std::ios::binary);
    std::string name;
    if (in && std::getline(in, name)) {
      while (!name.empty() && (name.back() == '\r' || name.back() == ' ' || name.back() == '\t')) {
        name.pop_back();
      }
      if (!name.empty()) return name;
    }
    return m_dir_name;
  }

  int DefaultItemType() override {
    Entries();
    return m_type;
  }

  std::unique_ptr<ItemCursor> Items() override {
    return std::make_unique<VCardItems>(m_path, std::move(Entries().cards));
  }

  std::unique_ptr<FolderCursor> Folders() override {
    return std::make_unique<VCardFolders>(m_path, std::move(Entries().folders));
  }

 private:
  Listing& Entries() {
    if (!m_listing) {
      m_listing = List(m_path, m_dir_name);
      // A calendar folder holds .ics items and no cards; its items are never read.
      m_type = m_listing->cards.empty() && m_listing->has_calendar_items ? 1 : kContactItemType;
    }
    return *m_listing;
  }

  std::string m_path;
  std::string m_dir_name;
  std::optional<Listing> m_listing;
  int m_type = kContactItemType;
};

std::unique_ptr<Folder> VCardFolders::Next() {
  if (m_next >= m_names.size()) return nullptr;
  const std::string& name = m_names[m_next++];
  return std::make_unique<VCardFolder>(m_path + "/" + name, name);
}

class VCardStore : public ContactStore {
 public:
  explicit VCardStore(std::string root) : m_root(std::move(root)) {}

  std::optional<std::string> Open() override {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::file_status status = fs::status(PathFromUtf8(m_root), error);
    if (error) return "\"" + m_root + "\": " + ErrorText(error);
    if (!fs::is_directory(status)) return "\"" + m_root + "\" is not a folder";
    // Listing it is the one test of access that holds on every system.
    fs::directory_iterator listing(PathFromUtf8(m_root), error);
    if (error) return "\"" + m_root + "\": " + ErrorText(error);
    return std::nullopt;
  }

  std::string CurrentUser() override { return LoggedInUserName(); }

  std::unique_ptr<FolderCursor> Folders() override {
    Listing listing = List(m_root, m_root);
    return std::make_unique<VCardFolders>(m_root, std::move(listing.folders));
  }

 private:
  std::string m_root;
};

}  // namespace

std::unique_ptr<ContactStore> MakeVCardStore(std::string root) {
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  return std::make_unique<VCardStore>(std::move(root));
}

}  // namespace dialmend
