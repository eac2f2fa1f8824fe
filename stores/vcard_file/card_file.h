#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "contacts/contact_store.h"
#include "platform/atomic_file.h"
#include "stores/vcard_file/card_spans.h"

// The contacts of .vcf files that hold many cards. A save changes nothing on disk: it holds the
// card's new bytes, and the folder's Flush() writes each file whole, once, with the same checks
// as the save of a single card. Errors reach the walk as StoreError from the item cursor and
// the items, and as Folder::FlushFailure from Flush().

namespace dialmend {

// The largest file of many cards that is read; an export of 10,000 contacts is a few MiB.
inline constexpr std::size_t kMaxCardFileBytes = 256 * 1024 * 1024;

class CardFile;

// The files of many cards one folder has read, and the saves they hold.
class CardFiles {
 public:
  CardFiles();
  ~CardFiles();
  CardFiles(const CardFiles&) = delete;
  CardFiles& operator=(const CardFiles&) = delete;

  // The contacts of the file at `path` (named `name` in the log), read as `snapshot`, with
  // its cards at `cards`, in file order. A card that cannot be parsed is thrown by the cursor
  // as StoreError ("card 3 of contacts.vcf") and left byte for byte.
  [[nodiscard]] std::unique_ptr<ItemCursor> Items(std::string path, std::string name,
                                                  FileSnapshot snapshot,
                                                  std::vector<CardSpan> cards);

  // Writes each file that holds saves, once; as Folder::Flush. A file whose write fails is
  // left as it was, and its saves are dropped.
  [[nodiscard]] std::vector<Folder::FlushFailure> Flush();

 private:
  std::vector<std::shared_ptr<CardFile>> m_files;
  std::uint32_t m_serial = 0;
};

}  // namespace dialmend
