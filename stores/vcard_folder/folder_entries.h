#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "contacts/contact_store.h"
#include "platform/folder_reader.h"
#include "stores/vcard_folder/vcard_folder_store.h"

// Reading one folder's entries for the vCard folder store: which names are cards, what each
// other entry is, and our own leftovers removed on the way.

namespace dialmend {

// What one walk of the store shares between the store, its folders and their cursors.
struct Walk {
  // An update run removes our own leftovers; a simulation writes nothing.
  bool writing = false;
  // Every real folder the walk has taken on (device and inode, or the resolved path on
  // Windows), so a link back to one of them is passed over instead of walked again.
  std::unordered_set<std::string> folders;
  // Leftover temporary files of ours removed so far.
  std::size_t removed = 0;
  // How many card names of one folder are held at a time.
  std::size_t card_batch = kVCardNameBatch;
};

// Whether the walk passes `name` over unseen: empty, or starting with a dot.
[[nodiscard]] bool Hidden(std::string_view name);

// Editors' and sync tools' leftovers, which are never cards of their own.
[[nodiscard]] bool Temporary(std::string_view name);

// Whether `name` ends in `extension` (".vcf"), in any case, after at least one character.
[[nodiscard]] bool HasExtension(std::string_view name, std::string_view extension);

// Whether `name` is a card file's name as `naming` says.
[[nodiscard]] bool IsCardName(std::string_view name, CardNaming naming = CardNaming::VcfFiles);

// One entry of a folder that is neither hidden nor temporary.
struct FolderEntry {
  std::string name;
  EntryKind kind = EntryKind::Other;
  // The folder's identity for a folder; why it cannot be looked at for Unreadable.
  std::string detail;
};

// What ReadFolder hands each regular file (or link to one) to, by name: files are the bulk of a
// folder, and the caller keeps only those it wants.
using FileNameSink = std::function<void(std::string_view name)>;

// Lists the folder, the notes for what it passes over going to `notes`: one stat for an entry whose
// type the listing does not give (a link, or a file system that gives none) and for a folder, whose
// identity the walk needs; none for a plain file. Regular files go to `files`; every other entry
// is returned. Hidden and temporary entries are passed over; a leftover of ours is removed when
// the walk writes. Throws StoreError naming `subject` when the folder cannot be listed.
std::vector<FolderEntry> ReadFolder(const std::string& path, const std::string& subject, Walk& walk,
                                    std::vector<StoreNote>& notes, const FileNameSink& files);

}  // namespace dialmend
