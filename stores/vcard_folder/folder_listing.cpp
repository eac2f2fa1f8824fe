#include "stores/vcard_folder/folder_listing.h"

#include <algorithm>
#include <utility>

namespace dialmend {

SmallestNames::SmallestNames(std::size_t limit) : m_limit(std::max<std::size_t>(limit, 1)) {}

void SmallestNames::Offer(std::string_view name) {
  if (m_heap.size() < m_limit) {
    m_heap.emplace_back(name);
    std::push_heap(m_heap.begin(), m_heap.end());
    return;
  }
  m_left_out = true;
  if (name >= m_heap.front()) return;
  std::pop_heap(m_heap.begin(), m_heap.end());
  m_heap.back().assign(name);
  std::push_heap(m_heap.begin(), m_heap.end());
}

std::vector<std::string> SmallestNames::Take() {
  std::sort_heap(m_heap.begin(), m_heap.end());
  return std::move(m_heap);
}

Listing ListFolder(const std::string& path, const std::string& subject, Walk& walk,
                   std::size_t card_batch, CardNaming naming) {
  Listing listing;
  SmallestNames cards(card_batch);
  std::vector<FolderEntry> entries =
      ReadFolder(path, subject, walk, listing.notes, [&](std::string_view name) {
        if (IsCardName(name, naming)) {
          cards.Offer(name);
        } else if (HasExtension(name, ".ics")) {
          listing.has_calendar_items = true;
        }
      });
  listing.more_cards = cards.LeftOut();
  listing.cards = cards.Take();
  std::sort(entries.begin(), entries.end(),
            [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
  for (FolderEntry& entry : entries) {
    if (entry.kind == EntryKind::Folder) {
      if (walk.folders.insert(entry.detail).second) {
        listing.folders.push_back(std::move(entry.name));
      } else {
        listing.notes.push_back(
            {std::move(entry.name), "passed over: it leads back to a folder already walked"});
      }
    } else if (IsCardName(entry.name, naming) || entry.kind == EntryKind::Unreadable) {
      // Anything else of a card's name is said; other entries are not the store's.
      listing.notes.push_back({entry.name, "passed over: " + KindText(entry.kind, entry.detail)});
    }
  }
  std::stable_sort(listing.notes.begin(), listing.notes.end(),
                   [](const StoreNote& a, const StoreNote& b) { return a.subject < b.subject; });
  return listing;
}

}  // namespace dialmend
