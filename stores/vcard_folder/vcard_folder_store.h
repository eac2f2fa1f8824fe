#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "contacts/contact_store.h"

namespace dialmend {

// How many card names of one folder the vCard folder store holds at a time.
inline constexpr std::size_t kVCardNameBatch = 4096;

// The vCard folder store: `root` is the profile; each subfolder is an address book (named by
// the first line of its `displayname` file when that is a regular file, else its folder name)
// and each .vcf file in it one card. Folders and files are walked in byte order of their names;
// each real folder once, a link back to one already taken on being passed over with a note.
// Hidden entries and temporary files are passed over; a .vcf that is not a file (a FIFO, a
// device, a dangling link) with a note. An update run removes the temporary files an earlier
// run of ours left when it was stopped, and a store note says how many. A card that cannot be
// read or parsed is reported and never written. Cards in `root` itself (a khard or vdirsyncer
// collection given as the profile) are one more address book, named as a subfolder is and walked
// before the subfolders. A card's save is held and written with the others of its folder's
// batch at the folder's Flush(), which FlushDue() asks for every 256 saves; a save that fails
// there is a FlushFailure with no subject.
// A folder's card names are listed `card_batch` at a time (a fresh listing for each batch, the
// names after the last one walked), so a folder of any size costs the memory of one batch.
[[nodiscard]] std::unique_ptr<ContactStore> MakeVCardStore(
    std::string root, std::size_t card_batch = kVCardNameBatch);

// Which of a folder's files are its cards.
enum class CardNaming {
  // Those whose names end in ".vcf".
  VcfFiles,
  // Every file but the notes and group files kept beside the cards: KDE's vCard directory names
  // each card by its UID alone.
  AnyFile,
};

// One address book of MakeVCardBooksStore.
struct VCardBook {
  std::string path;
  // Its name in the log; empty for its displayname, else its folder's name.
  std::string name;
  // Which of its files are cards.
  CardNaming naming = CardNaming::VcfFiles;
};

// The same store over address books named one by one (khard's configured ones, KDE's): each
// book is a top-level folder holding its cards, its subfolders walked within it. A book that is
// the same folder as one before it is passed over with a note.
[[nodiscard]] std::unique_ptr<ContactStore> MakeVCardBooksStore(std::vector<VCardBook> books);

}  // namespace dialmend
