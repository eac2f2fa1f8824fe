#include "stores/vcard_file/card_file.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>

#include "platform/utf8_path.h"
#include "stores/vcard/card_contact.h"
#include "stores/vcard/vcard.h"
#include "stores/vcard_file/found_cards.h"

namespace dialmend {

namespace {

// The number by which Flush() names the save of card `index` of file `serial`.
std::uint64_t CardTicket(std::uint32_t serial, std::size_t index) {
  return (std::uint64_t{serial} << 32) | static_cast<std::uint32_t>(index);
}

// The cards saved since the last write, in file order, kept as the gaps between them in a
// byte or two each: a million saves would take 8 MiB as numbers.
class SavedCards {
 public:
  void Add(std::size_t index) {
    std::size_t gap = index - m_last;
    while (gap >= 0x80) {
      m_gaps.push_back(static_cast<char>(0x80 | (gap & 0x7F)));
      gap >>= 7;
    }
    m_gaps.push_back(static_cast<char>(gap));
    m_last = index;
    ++m_count;
  }

  [[nodiscard]] std::size_t Count() const { return m_count; }

  // The saves' numbers, as Hold() gave them.
  [[nodiscard]] std::vector<std::uint64_t> Tickets(std::uint32_t serial) const {
    std::vector<std::uint64_t> tickets;
    tickets.reserve(m_count);
    std::size_t index = kNone;
    for (std::size_t at = 0; at < m_gaps.size();) {
      std::size_t gap = 0;
      for (int shift = 0;; shift += 7) {
        const auto byte = static_cast<unsigned char>(m_gaps[at++]);
        gap |= static_cast<std::size_t>(byte & 0x7F) << shift;
        if (byte < 0x80) break;
      }
      index += gap;
      tickets.push_back(CardTicket(serial, index));
    }
    return tickets;
  }

 private:
  // One before card 0, so the first gap is the first index plus one (unsigned wrap).
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::string m_gaps;
  std::size_t m_last = kNone;
  std::size_t m_count = 0;
};

}  // namespace

// One file of many cards, read card by card. Its saves go, in file order, into the temporary
// file of a streamed replace: the bytes between saved cards are copied from the file, so a
// card that was not saved, or could not be parsed, is kept byte for byte. Flush() copies the
// rest and swaps the new file in.
class CardFile {
 public:
  CardFile(std::string path, std::string name, std::unique_ptr<OpenedFile> file,
           std::uint32_t serial, std::function<void(std::size_t)> at_end)
      : m_path(std::move(path)),
        m_name(std::move(name)),
        m_read(std::move(file)),
        m_serial(serial),
        m_at_end(std::move(at_end)),
        m_scanner([this](char* buffer, std::size_t size,
                         std::string& reason) { return ReadBlock(buffer, size, reason); },
                  kCardReadBlock),
        m_hash_reads(!m_read->SettledChange()) {
    m_base = m_read.get();
    m_base_as_read = {m_read->Stamp(), m_read->SettledChange(), std::nullopt};
  }

  [[nodiscard]] const std::string& Name() const { return m_name; }
  [[nodiscard]] const std::string& Path() const { return m_path; }
  [[nodiscard]] bool HoldsSaves() const { return m_saves.Count() != 0; }

  // The next card's index and bytes, valid until the next call; std::nullopt after the last.
  // Throws StoreError, once, when the file cannot be read to its end.
  std::optional<std::pair<std::size_t, std::string_view>> NextCard() {
    if (m_done) return std::nullopt;
    std::optional<ScannedCard> card = m_scanner.Next();
    if (!card) {
      m_done = true;
      if (!m_scanner.Failure().empty()) {
        m_lost = "it could not be read to its end: " + m_scanner.Failure();
        throw StoreError(m_name, m_lost);
      }
      if (m_at_end) m_at_end(m_count);
      return std::nullopt;
    }
    m_current = m_count++;
    m_current_span = card->span;
    return std::make_pair(m_current, card->bytes);
  }

  // How many cards were read so far.
  [[nodiscard]] std::size_t CardsRead() const { return m_count; }

  // Keeps `bytes` as card `index`'s content for the next Write(); gives the save's number.
  // Throws StoreError when the card is not the one read last.
  std::uint64_t Hold(std::size_t index, std::string bytes) {
    if (m_pending && m_pending->card == index) {
      m_pending->bytes = std::move(bytes);
      return Ticket(index);
    }
    if (m_count == 0 || index != m_current) {
      throw StoreError(
          m_name, "card " + std::to_string(index + 1) + " was saved after a later card was read");
    }
    EmitPending();
    m_pending = Held{index, m_current_span, std::move(bytes)};
    m_saves.Add(index);
    return Ticket(index);
  }

  // Writes the file with every held card in place, or says why not; the held cards are let go
  // either way.
  std::optional<Folder::FlushFailure> Write() {
    if (m_saves.Count() == 0) return std::nullopt;
    const SavedCards saves = std::exchange(m_saves, {});
    EmitPending();
    // The temporary file goes with `replace` whatever happens below, unless swapped in.
    const std::unique_ptr<StreamedReplace> replace = std::exchange(m_replace, nullptr);
    const auto failed = [&](std::string reason) {
      return Folder::FlushFailure{m_name, std::move(reason), saves.Tickets(m_serial)};
    };
    if (!m_lost.empty()) return failed(m_lost);
    if (!m_failure.empty()) return failed(std::exchange(m_failure, {}));
    const std::optional<std::uint64_t> size = CopyBase(*replace, m_copied, std::nullopt);
    if (!size) return failed(std::exchange(m_failure, {}));
    // Saved cards whose bytes did not change leave the file as it is.
    if (!m_changed) return std::nullopt;
    std::optional<std::uint64_t> content_hash;
    if (m_base == m_read.get() && m_hash_reads) {
      if (!HashRestOfRead()) return failed(std::exchange(m_failure, {}));
      content_hash = m_read_hash.Value();
    }
    const Status status = replace->Commit(content_hash);
    if (!status.Ok()) return failed(status.Reason());
    Rewritten(*size);
    return std::nullopt;
  }

 private:
  struct Held {
    std::size_t card = 0;
    CardSpan span;
    std::string bytes;
  };

  [[nodiscard]] std::uint64_t Ticket(std::size_t index) const {
    return CardTicket(m_serial, index);
  }

  std::optional<std::size_t> ReadBlock(char* buffer, std::size_t size, std::string& reason) {
    const std::optional<std::size_t> got = m_read->ReadAt(m_read_offset, buffer, size, reason);
    if (got) {
      m_read_offset += *got;
      if (m_hash_reads && !m_read_hashed) m_read_hash.Add(std::string_view(buffer, *got));
    }
    return got;
  }

  // Hashes what the scan has not read yet of the file as read, for the check before the swap.
  bool HashRestOfRead() {
    if (m_read_hashed) return true;
    std::vector<char> block(kCardReadBlock);
    for (;;) {
      std::string reason;
      const std::optional<std::size_t> got =
          m_read->ReadAt(m_read_offset, block.data(), block.size(), reason);
      if (!got) {
        m_failure = "it could not be read again: " + reason;
        return false;
      }
      if (*got == 0) break;
      m_read_offset += *got;
      m_read_hash.Add(std::string_view(block.data(), *got));
    }
    m_read_hashed = true;
    return true;
  }

  // Writes the pending card into the temporary file, after what comes before it in the file.
  void EmitPending() {
    if (!m_pending) return;
    Held held = std::move(*m_pending);
    m_pending.reset();
    if (!m_lost.empty() || !m_failure.empty()) return;
    if (!m_replace) {
      m_replace =
          std::make_unique<StreamedReplace>(PathFromUtf8(m_path), m_base_as_read, &m_base->Held());
      m_copied = 0;
      m_out_size = 0;
      m_written = {};
      m_changed = false;
      if (const Status begun = m_replace->Begin(); !begun.Ok()) {
        m_failure = begun.Reason();
        return;
      }
    }
    const std::uint64_t begin = held.span.begin + m_shift;
    const std::uint64_t end = held.span.end + m_shift;
    if (!CopyBase(*m_replace, m_copied, begin)) return;
    if (!m_changed) m_changed = !SameAsBase(begin, end, held.bytes);
    if (!Append(*m_replace, held.bytes)) return;
    m_copied = end;
  }

  // Whether the file holds exactly `bytes` from `begin` to `end`.
  bool SameAsBase(std::uint64_t begin, std::uint64_t end, std::string_view bytes) {
    if (end - begin != bytes.size()) return false;
    std::string old(bytes.size(), '\0');
    std::size_t got = 0;
    while (got < old.size()) {
      std::string reason;
      const std::optional<std::size_t> n =
          m_base->ReadAt(begin + got, old.data() + got, old.size() - got, reason);
      if (!n || *n == 0) return false;
      got += *n;
    }
    return old == bytes;
  }

  bool Append(StreamedReplace& replace, std::string_view bytes) {
    m_written.Add(bytes);
    m_out_size += bytes.size();
    if (replace.Append(bytes)) return true;
    // The write's own reason comes from the commit.
    m_failure = replace.Commit().Reason();
    return false;
  }

  // Copies the file from `from` to `to` (to its end when not given) into the temporary file;
  // the offset it stopped at, or std::nullopt with m_failure set.
  std::optional<std::uint64_t> CopyBase(StreamedReplace& replace, std::uint64_t from,
                                        std::optional<std::uint64_t> to) {
    if (m_copy.empty()) m_copy.resize(kCardReadBlock);
    while (!to || from < *to) {
      const std::size_t want =
          to ? static_cast<std::size_t>(std::min<std::uint64_t>(m_copy.size(), *to - from))
             : m_copy.size();
      std::string reason;
      const std::optional<std::size_t> got = m_base->ReadAt(from, m_copy.data(), want, reason);
      if (!got) {
        m_failure = "it could not be read again: " + reason;
        return std::nullopt;
      }
      if (*got == 0) {
        if (!to) break;
        m_failure = "it became shorter while it was being saved";
        return std::nullopt;
      }
      if (!Append(replace, std::string_view(m_copy.data(), *got))) return std::nullopt;
      from += *got;
    }
    return from;
  }

  // After a write: the new file is what the next write copies from and checks against, and
  // each card still to be read lies `shift` bytes further on in it than in the file read.
  void Rewritten(std::uint64_t base_size) {
    const std::uint64_t size = m_out_size;
    m_shift += static_cast<std::int64_t>(size) - static_cast<std::int64_t>(base_size);
    auto now = std::make_unique<OpenedFile>();
    const Status opened = now->Open(PathFromUtf8(m_path));
    if (!opened.Ok()) {
      m_lost = "it cannot be read again after it was written: " + opened.Reason();
    } else if (now->Stamp().size != size) {
      m_lost = "another program changed it after it was written";
    } else {
      // A later write (after a pause) checks against what this one wrote.
      m_base_as_read = {now->Stamp(), std::nullopt, m_written.Value()};
      m_rewritten = std::move(now);
      m_base = m_rewritten.get();
    }
  }

  std::string m_path;
  std::string m_name;
  // The file as read, open until the file goes, so the write compares with that very file.
  std::unique_ptr<OpenedFile> m_read;
  std::uint32_t m_serial = 0;
  std::function<void(std::size_t)> m_at_end;
  std::uint64_t m_read_offset = 0;
  CardScanner m_scanner;
  // Whether what the scan reads is hashed: a file read in the tick it last changed is compared
  // by its content before the swap.
  bool m_hash_reads = false;
  ContentHasher m_read_hash;
  // Whether m_read_hash covers the whole file as read.
  bool m_read_hashed = false;
  bool m_done = false;
  std::size_t m_count = 0;
  std::size_t m_current = 0;
  CardSpan m_current_span;

  // What the next write copies from and is checked against: the file as read, or as last
  // written by us; and how far a card of the file as read lies from its place in it.
  OpenedFile* m_base = nullptr;
  AsRead m_base_as_read;
  std::unique_ptr<OpenedFile> m_rewritten;
  std::int64_t m_shift = 0;

  // The write in progress: the card saved last, not yet written; how far the file is copied;
  // what was written; whether any card changed; the saves it holds.
  std::optional<Held> m_pending;
  std::unique_ptr<StreamedReplace> m_replace;
  std::uint64_t m_copied = 0;
  std::uint64_t m_out_size = 0;
  ContentHasher m_written;
  bool m_changed = false;
  SavedCards m_saves;
  std::vector<char> m_copy;
  // Why the write in progress fails, once known.
  std::string m_failure;
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

  void SetPhone(std::size_t index, std::string number) override {
    m_numbers.emplace_back(index, number);
    CardContact::SetPhone(index, std::move(number));
  }

  std::optional<std::uint64_t> HeldSave() override { return m_held; }
  bool SaveIsHeld() override { return true; }

  // Its place, and its key: an export written again may move it.
  ContactIdentity Identity() override {
    std::vector<PhoneValue> phones = Phones();
    for (const auto& [index, number] : m_numbers) {
      if (index < phones.size()) phones[index].number = number;
    }
    return {RecordedPath(m_file->Path()),
            static_cast<std::int64_t>(m_index),
            {},
            CardKey(Card().Bytes(), FileAs(), phones)};
  }

 private:
  std::shared_ptr<CardFile> m_file;
  std::size_t m_index;
  std::optional<std::uint64_t> m_held;
  // The numbers given since it was read, as the update leaves them.
  std::vector<std::pair<std::size_t, std::string>> m_numbers;
};

class CardItems : public ItemCursor {
 public:
  explicit CardItems(std::shared_ptr<CardFile> file) : m_file(std::move(file)) {}

  std::unique_ptr<ContactItem> Next() override {
    const auto card = m_file->NextCard();
    if (!card) return nullptr;
    ParsedVCard parsed = ParseVCard(card->second);
    if (!parsed) {
      throw StoreError("card " + std::to_string(card->first + 1) + " of " + m_file->Name(),
                       parsed.error);
    }
    return std::make_unique<CardItem>(m_file, card->first, std::move(*parsed.card));
  }

 private:
  std::shared_ptr<CardFile> m_file;
};

// Opens the file at `path` to be read card by card; throws StoreError naming `name`.
std::unique_ptr<OpenedFile> OpenCardFile(const std::string& path, const std::string& name) {
  auto file = std::make_unique<OpenedFile>();
  if (const Status opened = file->Open(PathFromUtf8(path)); !opened.Ok()) {
    throw StoreError(name, opened.Reason());
  }
  return file;
}

}  // namespace

CardFiles::CardFiles() = default;
CardFiles::~CardFiles() = default;

std::unique_ptr<ItemCursor> CardFiles::Items(std::string path, std::string name,
                                             std::function<void(std::size_t cards)> at_end) {
  std::unique_ptr<OpenedFile> opened = OpenCardFile(path, name);
  auto file = std::make_shared<CardFile>(std::move(path), std::move(name), std::move(opened),
                                         m_serial++, std::move(at_end));
  m_files.push_back(file);
  return std::make_unique<CardItems>(std::move(file));
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

}  // namespace dialmend
