#include "stores/vcard_folder/card_items.h"

#include <optional>
#include <string_view>
#include <utility>

#include "platform/utf8_path.h"
#include "stores/vcard/card_contact.h"
#include "stores/vcard/vcard.h"
#include "stores/vcard_file/card_spans.h"
#include "stores/vcard_folder/folder_entries.h"
#include "stores/vcard_folder/folder_listing.h"

namespace dialmend {
namespace {

// How many saves of single cards a folder holds before the walk should write them: enough that
// the two flushes of a batch cost little per card, few enough that the two files each keeps
// open stay well within the usual limit of 1,024.
constexpr std::size_t kBatchSaves = 256;

// A file of one card, its save held in the folder's batch.
class VCardItem : public CardContact {
 public:
  VCardItem(std::string path, std::string name, VCard card, FileSnapshot snapshot,
            std::shared_ptr<CardBatch> batch)
      : CardContact(std::move(card)),
        m_path(std::move(path)),
        m_name(std::move(name)),
        m_stamp(snapshot.stamp),
        m_settled_change_ns(snapshot.settled_change_ns),
        m_file(std::move(snapshot.file)),
        m_batch(std::move(batch)) {}

  void Save() override {
    std::optional<std::string> bytes = RewrittenCard(m_name);
    if (!bytes) return;
    // A card read in the tick it last changed can be written again unseen by its stamp: its
    // content is compared then, by hash, so the bytes read need not be kept.
    AsRead as_read{m_stamp, m_settled_change_ns, std::nullopt};
    if (!m_settled_change_ns) as_read.content_hash = ContentHash(Card().Bytes());
    m_held = m_batch->Hold(m_path, std::move(*bytes), as_read, std::move(m_file));
    ClearChanges();
  }

  std::optional<std::uint64_t> HeldSave() override { return m_held; }
  bool SaveIsHeld() override { return true; }

  ContactIdentity Identity() override { return {RecordedPath(m_path), -1, {}}; }

 private:
  std::string m_path;
  std::string m_name;
  FileStamp m_stamp;
  std::optional<std::int64_t> m_settled_change_ns;
  // The card as read, open until its save is written, so the save compares with that very file.
  HeldFile m_file;
  std::shared_ptr<CardBatch> m_batch;
  std::optional<std::uint64_t> m_held;
};

// The contact of a file of one card, read as `snapshot`; throws StoreError naming `name` when
// it is not one.
std::unique_ptr<ContactItem> SingleCard(std::string path, const std::string& name,
                                        FileSnapshot snapshot, std::shared_ptr<CardBatch> batch) {
  if (snapshot.bytes.size() > kMaxVCardBytes) {
    throw StoreError(name, "it is larger than " + std::to_string(kMaxVCardBytes >> 20) + " MiB");
  }
  ParsedVCard parsed = ParseVCard(snapshot.bytes);
  if (!parsed) throw StoreError(name, parsed.error);
  return std::make_unique<VCardItem>(std::move(path), name, std::move(*parsed.card),
                                     std::move(snapshot), std::move(batch));
}

}  // namespace

std::uint64_t CardBatch::Hold(const std::string& path, std::string bytes, AsRead as_read,
                              HeldFile file) {
  const std::uint64_t save = m_first_save + m_batch.Size();
  m_batch.Add(PathFromUtf8(path), std::move(bytes), as_read, std::move(file));
  return save;
}

bool CardBatch::Full() const {
  return m_batch.Size() >= kBatchSaves;
}

void CardBatch::Commit(std::vector<Folder::FlushFailure>& failures) {
  if (m_batch.Size() == 0) return;
  const std::vector<Status> results = m_batch.Commit();
  for (std::size_t i = 0; i < results.size(); ++i) {
    if (!results[i].Ok()) failures.push_back({{}, results[i].Reason(), {m_first_save + i}});
  }
  m_first_save += results.size();
}

std::unique_ptr<ContactItem> FindSingleCard(const std::string& path, const std::string& name,
                                            HeldFile opened, std::shared_ptr<CardBatch> batch) {
  FileSnapshot snapshot =
      ReadFileSnapshot(PathFromUtf8(path), kMaxCardFileBytes, std::move(opened));
  if (!snapshot.status.Ok()) throw StoreError(name, snapshot.status.Reason());
  if (const std::size_t cards = FindCards(snapshot.bytes).size(); cards > 1) {
    throw StoreError(name, "it now holds " + std::to_string(cards) + " cards, not one");
  }
  return SingleCard(path, name, std::move(snapshot), std::move(batch));
}

VCardItems::VCardItems(std::string path, std::vector<std::string> names, bool more,
                       std::size_t card_batch, CardNaming naming, std::shared_ptr<CardFiles> files,
                       std::shared_ptr<CardBatch> batch)
    : m_path(std::move(path)),
      m_names(std::move(names)),
      m_more(more),
      m_card_batch(card_batch),
      m_naming(naming),
      m_files(std::move(files)),
      m_batch(std::move(batch)) {}

std::unique_ptr<ContactItem> VCardItems::Next() {
  if (m_cards) {
    if (std::unique_ptr<ContactItem> item = m_cards->Next()) return item;
    m_cards.reset();
  }
  if (m_next >= m_names.size() && !ListMore()) return nullptr;
  const std::string& name = m_names[m_next++];
  std::string path = m_path + "/" + name;
  FileSnapshot snapshot = ReadFileSnapshot(PathFromUtf8(path), kMaxCardFileBytes);
  if (!snapshot.status.Ok()) throw StoreError(name, snapshot.status.Reason());
  std::vector<CardSpan> cards = FindCards(snapshot.bytes);
  if (cards.size() > 1) {
    // Read again card by card, as the file store reads its file, not held whole.
    snapshot = {};
    m_cards = m_files->Items(std::move(path), name);
    return Next();
  }
  return SingleCard(std::move(path), name, std::move(snapshot), m_batch);
}

bool VCardItems::ListMore() {
  if (!m_more || m_names.empty()) return false;
  m_more = false;
  const std::string after = std::move(m_names.back());
  m_names.clear();
  SmallestNames batch(m_card_batch);
  // Nothing is removed and no note is made again: the first listing did that.
  Walk quiet;
  std::vector<StoreNote> notes;
  try {
    ReadFolder(m_path, after, quiet, notes, [&](std::string_view name) {
      if (name > after && IsCardName(name, m_naming)) batch.Offer(name);
    });
  } catch (const StoreError& error) {
    throw StoreError(after, "the cards after it cannot be listed: " + error.Reason());
  }
  m_more = batch.LeftOut();
  m_names = batch.Take();
  m_next = 0;
  return !m_names.empty();
}

}  // namespace dialmend
