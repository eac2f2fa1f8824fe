#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "contacts/contact_store.h"
#include "stores/vcard_folder/folder_entries.h"

// A folder listed for the walk of the vCard folder store: its cards a batch at a time in byte
// order of their names, and its subfolders.

namespace dialmend {

// The entries of one folder, sorted by name, as the walk needs them.
struct Listing {
  // The first card names in byte order, at most one batch of them.
  std::vector<std::string> cards;
  // Whether the folder holds cards after the batch, to be listed when the walk gets there.
  bool more_cards = false;
  std::vector<std::string> folders;
  bool has_calendar_items = false;
  // Entries passed over that the log should name.
  std::vector<StoreNote> notes;
};

// The smallest names offered, at most `limit` of them: a folder of any size is walked in byte
// order of its card names while holding only one batch of them. A max-heap, so the largest
// name kept is the one to drop, its buffer reused for the newcomer.
class SmallestNames {
 public:
  explicit SmallestNames(std::size_t limit);

  // Keeps `name` if it is among the smallest offered so far.
  void Offer(std::string_view name);

  // Whether any name offered is not among those kept.
  [[nodiscard]] bool LeftOut() const { return m_left_out; }

  // The names kept, in byte order.
  [[nodiscard]] std::vector<std::string> Take();

 private:
  std::size_t m_limit;
  std::vector<std::string> m_heap;
  bool m_left_out = false;
};

// Lists the folder for the walk. A subfolder that leads to a folder the walk has already taken
// on is passed over with a note, so links back up the tree cannot make the walk endless; names
// are taken in byte order so which of two links to one folder is walked never varies.
// Only the first `card_batch` card names are kept; the walk lists the rest as it gets to them.
// `naming` says which files are cards. Throws StoreError naming `subject` when the folder cannot
// be listed.
[[nodiscard]] Listing ListFolder(const std::string& path, const std::string& subject, Walk& walk,
                                 std::size_t card_batch, CardNaming naming = CardNaming::VcfFiles);

}  // namespace dialmend
