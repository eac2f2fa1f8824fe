#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "contacts/contact_store.h"
#include "stores/vcard_file/card_file.h"
#include "stores/vcard_folder/card_items.h"
#include "stores/vcard_folder/folder_entries.h"
#include "stores/vcard_folder/folder_listing.h"

// One folder of the vCard folder store and the cursor over its subfolders.

namespace dialmend {

// A folder of cards, listed when the walk first asks about it. Kind(), Items() and Folders()
// throw StoreError when it cannot be listed.
class VCardFolder : public Folder {
 public:
  // `naming` says which of its files, and its subfolders' files, are cards.
  VCardFolder(std::shared_ptr<Walk> walk, std::string path, std::string dir_name,
              CardNaming naming = CardNaming::VcfFiles);
  // A folder already listed: the profile's own cards, whose subfolders are books of their own.
  VCardFolder(std::shared_ptr<Walk> walk, std::string path, std::string dir_name, Listing listing);

  // Names the folder `name` instead of its displayname or its own name.
  void NameAs(std::string name) { m_name = std::move(name); }

  std::string Name() override;
  FolderKind Kind() override;
  std::unique_ptr<ItemCursor> Items() override;
  std::vector<FlushFailure> Flush() override;
  bool FlushDue() override;
  std::unique_ptr<FolderCursor> Folders() override;
  std::vector<StoreNote> TakeNotes() override;

 private:
  // The folder's listing, made when first asked for.
  Listing& Entries();

  std::shared_ptr<Walk> m_walk;
  std::string m_path;
  std::string m_dir_name;
  CardNaming m_naming = CardNaming::VcfFiles;
  std::optional<std::string> m_name;
  std::optional<Listing> m_listing;
  std::vector<StoreNote> m_notes;
  FolderKind m_kind = FolderKind::Contacts;
  std::shared_ptr<CardFiles> m_files = std::make_shared<CardFiles>();
  std::shared_ptr<CardBatch> m_batch = std::make_shared<CardBatch>();
};

// The subfolders `names` of the folder at `path`, each made when the walk gets to it.
class VCardFolders : public FolderCursor {
 public:
  VCardFolders(std::shared_ptr<Walk> walk, std::string path, std::vector<std::string> names,
               CardNaming naming);
  std::unique_ptr<Folder> Next() override;

 private:
  std::shared_ptr<Walk> m_walk;
  std::string m_path;
  CardNaming m_naming;
  std::vector<std::string> m_names;
  std::size_t m_next = 0;
};

}  // namespace dialmend
