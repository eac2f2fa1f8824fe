#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "contacts/contact_store.h"
#include "platform/atomic_file.h"
#include "stores/vcard_file/card_spans.h"

// The contacts of .vcf files that hold many cards, read card by card and never held whole, so
// memory does not grow with the number of cards. A save writes the file's new content up to
// that card into a temporary file beside it, and the folder's Flush() completes it and swaps it
// in, once, with the same checks as the save of a single card. Errors reach the walk as
// StoreError from the item cursor and the items, and as Folder::FlushFailure from Flush().

namespace dialmend {

// The largest file a folder of cards reads whole to learn whether it holds one card or many;
// a file of many is then read card by card, as the file store reads its file.
inline constexpr std::size_t kMaxCardFileBytes = 256 * 1024 * 1024;

// How much of a file of many cards is read at a time.
inline constexpr std::size_t kCardReadBlock = 256 * 1024;

// The path of a card file as an undo record keeps it: its folder made absolute with every link
// resolved, its own name kept, so one file has one text however the profile was named.
[[nodiscard]] std::string RecordedPath(const std::string& path);

class CardFile;

// The files of many cards one folder has read, and the saves they hold.
class CardFiles {
 public:
  CardFiles();
  ~CardFiles();
  CardFiles(const CardFiles&) = delete;
  CardFiles& operator=(const CardFiles&) = delete;

  // The contacts of the file at `path` (named `name` in the log), in file order, read as the
  // walk goes. A card that cannot be parsed is thrown by the cursor as StoreError ("card 3 of
  // contacts.vcf") and left byte for byte. `at_end`, when given, is told how many cards the
  // file held once the cursor has passed the last. Throws StoreError when the file cannot be
  // opened.
  [[nodiscard]] std::unique_ptr<ItemCursor> Items(
      std::string path, std::string name, std::function<void(std::size_t cards)> at_end = nullptr);

  // Writes each file that holds saves, once; as Folder::Flush. A file whose write fails is
  // left as it was, and its saves are dropped.
  [[nodiscard]] std::vector<Folder::FlushFailure> Flush();

 private:
  std::vector<std::shared_ptr<CardFile>> m_files;
  std::uint32_t m_serial = 0;
};

}  // namespace dialmend
