#include "stores/vcard_folder/vcard_folder.h"

#include <iterator>
#include <utility>

#include "stores/vcard_folder/display_name.h"

namespace dialmend {

VCardFolder::VCardFolder(std::shared_ptr<Walk> walk, std::string path, std::string dir_name,
                         CardNaming naming)
    : m_walk(std::move(walk)),
      m_path(std::move(path)),
      m_dir_name(std::move(dir_name)),
      m_naming(naming) {}

VCardFolder::VCardFolder(std::shared_ptr<Walk> walk, std::string path, std::string dir_name,
                         Listing listing)
    : m_walk(std::move(walk)),
      m_path(std::move(path)),
      m_dir_name(std::move(dir_name)),
      m_listing(std::move(listing)) {}

std::string VCardFolder::Name() {
  // Read once: the walk asks again, and the file may be slow or changing.
  if (!m_name) {
    Result<std::string> read = ReadDisplayName(m_path);
    std::string name = read.Ok() ? std::move(read.Value()) : std::string();
    while (!name.empty() && (name.back() == '\r' || name.back() == ' ' || name.back() == '\t')) {
      name.pop_back();
    }
    if (!read.Ok()) {
      m_notes.push_back(
          {"displayname", "passed over: " + read.Message() + "; the folder's own name is used"});
    }
    m_name = name.empty() ? m_dir_name : std::move(name);
  }
  return *m_name;
}

FolderKind VCardFolder::Kind() {
  Entries();
  return m_kind;
}

std::unique_ptr<ItemCursor> VCardFolder::Items() {
  Listing& listing = Entries();
  return std::make_unique<VCardItems>(m_path, std::move(listing.cards), listing.more_cards,
                                      m_walk->card_batch, m_naming, m_files, m_batch);
}

std::vector<Folder::FlushFailure> VCardFolder::Flush() {
  std::vector<FlushFailure> failures = m_files->Flush();
  m_batch->Commit(failures);
  return failures;
}

bool VCardFolder::FlushDue() {
  return m_batch->Full();
}

std::unique_ptr<FolderCursor> VCardFolder::Folders() {
  return std::make_unique<VCardFolders>(m_walk, m_path, std::move(Entries().folders), m_naming);
}

std::vector<StoreNote> VCardFolder::TakeNotes() {
  if (m_listing) {
    std::move(m_listing->notes.begin(), m_listing->notes.end(), std::back_inserter(m_notes));
    m_listing->notes.clear();
  }
  return std::exchange(m_notes, {});
}

Listing& VCardFolder::Entries() {
  if (!m_listing) {
    m_listing = ListFolder(m_path, m_dir_name, *m_walk, m_walk->card_batch, m_naming);
    // A calendar folder holds .ics items and no cards; its items are never read.
    m_kind = m_listing->cards.empty() && m_listing->has_calendar_items ? FolderKind::Other
                                                                       : FolderKind::Contacts;
  }
  return *m_listing;
}

VCardFolders::VCardFolders(std::shared_ptr<Walk> walk, std::string path,
                           std::vector<std::string> names, CardNaming naming)
    : m_walk(std::move(walk)),
      m_path(std::move(path)),
      m_naming(naming),
      m_names(std::move(names)) {}

std::unique_ptr<Folder> VCardFolders::Next() {
  if (m_next >= m_names.size()) return nullptr;
  const std::string& name = m_names[m_next++];
  return std::make_unique<VCardFolder>(m_walk, m_path + "/" + name, name, m_naming);
}

}  // namespace dialmend
