#include "stores/vcard_file/card_file.h"

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>

#include "platform/utf8_path.h"
#include "stores/vcard/card_contact.h"
#include "stores/vcard/vcard.h"

namespace dialmend {

// One file of many cards: its bytes as read (or as last written by us), and the new bytes of
// each card saved since the last write.
class CardFile {
 public:
  CardFile(std::string path, std::string name, FileSnapshot snapshot, std::vector<CardSpan> cards,
           std::uint32_t serial)
      : m_path(std::move(path)),
        m_name(std::move(name)),
        m_bytes(std::move(snapshot.bytes)),
        m_stamp(snapshot.stamp),
        m_file(std::move(snapshot.file)),
        m_cards(std::move(cards)),
        m_serial(serial) {}

  [[nodiscard]] const std::string& Name() const { return m_name; }
  [[nodiscard]] const std::string& Path() const { return m_path; }
  [[nodiscard]] std::size_t CardCount() const { return m_cards.size(); }
  [[nodiscard]] std::string_view Card(std::size_t index) const {
    const CardSpan& span = m_cards[index];
    return std::string_view(m_bytes).substr(span.begin, span.end - span.begin);
  }
  [[nodiscard]] bool HoldsSaves() const { return !m_held.empty(); }

  // Keeps `bytes` as card `index`'s content for the next Write(); gives the save's number.
  std::uint64_t Hold(std::size_t index, std::string bytes) {
    if (!m_held.empty() && m_held.back().card == index) {
      m_held.back().bytes = std::move(bytes);
    } else {
      m_held.push_back({index, std::move(bytes)});
    }
    return Ticket(index);
  }

  // Writes the file with every held card in place, or says why not; the held cards are let go
  // either way.
  std::optional<Folder::FlushFailure> Write() {
    if (m_held.empty()) return std::nullopt;
    std::vector<Held> held = std::exchange(m_held, {});
    // A card saved twice keeps its last bytes: the sort is stable and the last one wins below.
    std::stable_sort(held.begin(), held.end(),
                     [](const Held& a, const Held& b) { return a.card < b.card; });
    std::vector<std::uint64_t> saves;
    for (std::size_t i = 0; i < held.size(); ++i) {
      if (i + 1 == held.size() || held[i + 1].card != held[i].card) {
        saves.push_back(Ticket(held[i].card));
      }
    }
    if (!m_lost.empty()) return Folder::FlushFailure{m_name, m_lost, std::move(saves)};

    std::size_t extra = 0;
    for (const Held& h : held) extra += h.bytes.size();
    std::string out;
    out.reserve(m_bytes.size() + extra);
    std::vector<CardSpan> cards;
    cards.reserve(m_cards.size());
    std::size_t copied = 0;  // m_bytes before this are in `out`
    std::size_t next_held = 0;
    for (std::size_t index = 0; index < m_cards.size(); ++index) {
      const CardSpan& span = m_cards[index];
      while (next_held + 1 < held.size() && held[next_held + 1].card == held[next_held].card) {
        ++next_held;
      }
      if (next_held < held.size() && held[next_held].card == index) {
        out.append(m_bytes, copied, span.begin - copied);
        const std::size_t begin = out.size();
        out += held[next_held].bytes;
        cards.push_back({begin, out.size()});
        copied = span.end;
        ++next_held;
      } else {
        const std::size_t shift = out.size() + (span.begin - copied);
        cards.push_back({shift, shift + (span.end - span.begin)});
      }
    }
    out.append(m_bytes, copied);
    if (out == m_bytes) return std::nullopt;

    Status status = WriteFileAtomically(PathFromUtf8(m_path), out, m_stamp, m_bytes, &m_file);
    if (!status.Ok()) return Folder::FlushFailure{m_name, status.Reason(), std::move(saves)};
    m_bytes = std::move(out);
    m_cards = std::move(cards);
    // A later write (after a pause) checks against this one: take its stamp, and the file
    // itself, from the file as it now is.
    FileSnapshot now = ReadFileSnapshot(PathFromUtf8(m_path), kMaxCardFileBytes);
    if (!now.status.Ok()) {
      m_lost = "it cannot be read again after it was written: " + now.status.Reason();
    } else if (now.bytes != m_bytes) {
      m_lost = "another program changed it after it was written";
    } else {
      m_stamp = now.stamp;
      m_file = std::move(now.file);
    }
    return std::nullopt;
  }

 private:
  struct Held {
    std::size_t card = 0;
    std::string bytes;
  };

  [[nodiscard]] std::uint64_t Ticket(std::size_t index) const {
    return (std::uint64_t{m_serial} << 32) | static_cast<std::uint32_t>(index);
  }

  std::string m_path;
  std::string m_name;
  std::string m_bytes;
  FileStamp m_stamp;
  // The file as read, open until the file goes, so the write compares with that very file.
  HeldFile m_file;
  std::vector<CardSpan> m_cards;
  std::uint32_t m_serial = 0;
  std::vector<Held> m_held;
  // Why the file may not be written again, once that is known.
  std::string m_lost;
};

namespace {

class CardItem : public CardContact {
 public:
  CardItem(std::shared_ptr<CardFile> file, std::size_t index, VCard card)
      : CardContact(std::move(card)), m_file(std::move(file)), m_index(index) {}

  void Save() override {
    std::optional<std::string> bytes = RewrittenCard(m_file->Name());
    ClearChanges();
    if (bytes) m_held = m_file->Hold(m_index, std::move(*bytes));
  }

  std::optional<std::uint64_t> HeldSave() override { return m_held; }
  bool SaveIsHeld() override { return true; }
  ContactIdentity Identity() override {
    return {RecordedPath(m_file->Path()), static_cast<std::int64_t>(m_index), {}};
  }

 private:
  std::shared_ptr<CardFile> m_file;
  std::size_t m_index;
  std::optional<std::uint64_t> m_held;
};

class CardItems : public ItemCursor {
 public:
  explicit CardItems(std::shared_ptr<CardFile> file) : m_file(std::move(file)) {}

  std::unique_ptr<ContactItem> Next() override {
    if (m_next >= m_file->CardCount()) return nullptr;
    const std::size_t index = m_next++;
    ParsedVCard parsed = ParseVCard(m_file->Card(index));
    if (!parsed) {
      throw StoreError("card " + std::to_string(index + 1) + " of " + m_file->Name(), parsed.error);
    }
    return std::make_unique<CardItem>(m_file, index, std::move(*parsed.card));
  }

 private:
  std::shared_ptr<CardFile> m_file;
  std::size_t m_next = 0;
};

}  // namespace

CardFiles::CardFiles() = default;
CardFiles::~CardFiles() = default;

std::unique_ptr<ItemCursor> CardFiles::Items(std::string path, std::string name,
                                             FileSnapshot snapshot, std::vector<CardSpan> cards) {
  auto file = std::make_shared<CardFile>(std::move(path), std::move(name), std::move(snapshot),
                                         std::move(cards), m_serial++);
  m_files.push_back(file);
  return std::make_unique<CardItems>(std::move(file));
}

std::unique_ptr<ContactItem> CardFiles::Item(const std::string& path, const std::string& name,
                                             std::size_t index) {
  auto file =
      std::find_if(m_files.begin(), m_files.end(),
                   [&path](const std::shared_ptr<CardFile>& f) { return f->Path() == path; });
  if (file == m_files.end()) {
    FileSnapshot snapshot = ReadFileSnapshot(PathFromUtf8(path), kMaxCardFileBytes);
    if (!snapshot.status.Ok()) throw StoreError(name, snapshot.status.Reason());
    std::vector<CardSpan> cards = FindCards(snapshot.bytes);
    m_files.push_back(
        std::make_shared<CardFile>(path, name, std::move(snapshot), std::move(cards), m_serial++));
    file = std::prev(m_files.end());
  }
  const std::shared_ptr<CardFile>& found = *file;
  if (index >= found->CardCount()) {
    throw StoreError(name, "it no longer holds a card " + std::to_string(index + 1) +
                               " (it holds " + std::to_string(found->CardCount()) + ")");
  }
  ParsedVCard parsed = ParseVCard(found->Card(index));
  if (!parsed) {
    throw StoreError("card " + std::to_string(index + 1) + " of " + name, parsed.error);
  }
  return std::make_unique<CardItem>(found, index, std::move(*parsed.card));
}

std::vector<Folder::FlushFailure> CardFiles::Flush() {
  std::vector<Folder::FlushFailure> failures;
  for (const std::shared_ptr<CardFile>& file : m_files) {
    if (auto failure = file->Write()) failures.push_back(std::move(*failure));
  }
  // A file nobody reads any more and that holds nothing is done with: its bytes can go.
  std::erase_if(m_files, [](const std::shared_ptr<CardFile>& file) {
    return file.use_count() == 1 && !file->HoldsSaves();
  });
  return failures;
}

std::string RecordedPath(const std::string& path) {
  namespace fs = std::filesystem;
  const fs::path given = PathFromUtf8(path);
  std::error_code error;
  fs::path folder = fs::weakly_canonical(fs::absolute(given, error).parent_path(), error);
  if (error) folder = fs::absolute(given, error).parent_path();
  return Utf8FromPath(folder / given.filename());
}

namespace {

class FoundCards : public ItemCursor {
 public:
  FoundCards(std::vector<ContactIdentity> identities, CardFiles& files,
             std::function<bool(const std::string&)> allowed, SingleCardReader single)
      : m_identities(std::move(identities)),
        m_files(files),
        m_allowed(std::move(allowed)),
        m_single(std::move(single)) {}

  std::unique_ptr<ContactItem> Next() override {
    if (m_next >= m_identities.size()) return nullptr;
    const ContactIdentity& identity = m_identities[m_next++];
    const std::string name = Utf8FromPath(PathFromUtf8(identity.where).filename());
    if (identity.where.empty() || !m_allowed(identity.where)) {
      throw StoreError(identity.where, "it is not a card of this store");
    }
    if (identity.card < 0) {
      if (!m_single) throw StoreError(name, "this store holds no file of one card");
      return m_single(identity.where, name);
    }
    return m_files.Item(identity.where, name, static_cast<std::size_t>(identity.card));
  }

 private:
  std::vector<ContactIdentity> m_identities;
  std::size_t m_next = 0;
  CardFiles& m_files;
  std::function<bool(const std::string&)> m_allowed;
  SingleCardReader m_single;
};

class NoSubfolders : public FolderCursor {
 public:
  std::unique_ptr<Folder> Next() override { return nullptr; }
};

class FoundFolder : public Folder {
 public:
  FoundFolder(std::string name, std::vector<ContactIdentity> identities,
              std::function<bool(const std::string&)> allowed, SingleCardReader single)
      : m_name(std::move(name)),
        m_identities(std::move(identities)),
        m_allowed(std::move(allowed)),
        m_single(std::move(single)) {}

  std::string Name() override { return m_name; }
  FolderKind Kind() override { return FolderKind::Contacts; }
  std::unique_ptr<ItemCursor> Items() override {
    return std::make_unique<FoundCards>(std::move(m_identities), m_files, m_allowed, m_single);
  }
  std::unique_ptr<FolderCursor> Folders() override { return std::make_unique<NoSubfolders>(); }
  std::vector<FlushFailure> Flush() override { return m_files.Flush(); }

 private:
  std::string m_name;
  std::vector<ContactIdentity> m_identities;
  std::function<bool(const std::string&)> m_allowed;
  SingleCardReader m_single;
  CardFiles m_files;
};

}  // namespace

std::unique_ptr<Folder> FoundCardsFolder(std::string name, std::vector<ContactIdentity> identities,
                                         std::function<bool(const std::string& path)> allowed,
                                         SingleCardReader single) {
  return std::make_unique<FoundFolder>(std::move(name), std::move(identities), std::move(allowed),
                                       std::move(single));
}

}  // namespace dialmend
