#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "contacts/contact_store.h"
#include "platform/atomic_file.h"
#include "stores/vcard_file/card_file.h"
#include "stores/vcard_file/found_cards.h"
#include "stores/vcard_folder/folder_entries.h"

// The cards of a vCard folder as the walk reads them, and the saves of single cards held and
// written together.

namespace dialmend {

// The saves of a folder's single cards, held and then written together as one SaveBatch.
class CardBatch {
 public:
  // Holds the save of the card at `path`; gives the number HeldSave() names it by.
  std::uint64_t Hold(const std::string& path, std::string bytes, AsRead as_read, HeldFile file);

  // Whether the batch holds enough saves that the walk should write them.
  [[nodiscard]] bool Full() const;

  // Writes the held saves; each that fails is named by its HeldSave() number alone, so the run
  // reports it as the failed save of that contact.
  void Commit(std::vector<Folder::FlushFailure>& failures);

 private:
  // The number of the first save held now: apart from those of files of many cards (CardFiles),
  // which count up from 0 << 32.
  std::uint64_t m_first_save = std::uint64_t{0xFFFFFFFF} << 32;
  SaveBatch m_batch;
};

// A file of one card found again for an undo, as `opened` holds it (opened by `path` when it
// holds nothing), its save held in `batch`. Throws StoreError naming `name` when it cannot be
// read or no longer holds one card.
[[nodiscard]] std::unique_ptr<ContactItem> FindSingleCard(const std::string& path,
                                                          const std::string& name, HeldFile opened,
                                                          std::shared_ptr<CardBatch> batch);

// The folder's cards: a .vcf file of one card is one item, and each card of a file of many is
// one item in file order, its save held for the folder's Flush(). Next() throws StoreError
// naming a card that cannot be read.
class VCardItems : public ItemCursor {
 public:
  // `names` is the folder's first batch of card names; with `more`, the rest are listed a batch
  // at a time as the walk gets to them.
  VCardItems(std::string path, std::vector<std::string> names, bool more, std::size_t card_batch,
             CardNaming naming, std::shared_ptr<CardFiles> files, std::shared_ptr<CardBatch> batch);

  std::unique_ptr<ContactItem> Next() override;

 private:
  // Lists the next batch of card names, those after the last one handed out. Returns whether
  // there is any. A listing that fails is reported once, and the folder's walk ends there.
  bool ListMore();

  std::string m_path;
  std::vector<std::string> m_names;
  std::size_t m_next = 0;
  bool m_more;
  std::size_t m_card_batch;
  CardNaming m_naming;
  std::shared_ptr<CardFiles> m_files;
  std::shared_ptr<CardBatch> m_batch;
  // The cards of the file of many being read, if any.
  std::unique_ptr<ItemCursor> m_cards;
};

}  // namespace dialmend
