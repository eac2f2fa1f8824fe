#include "stores/vcard_file/found_cards.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <utility>

#include "platform/utf8.h"
#include "platform/utf8_path.h"
#include "stores/vcard/card_contact.h"
#include "stores/vcard/vcard.h"
#include "stores/vcard_file/card_file.h"
#include "stores/vcard_file/card_spans.h"

namespace dialmend {
namespace {

// How many restored cards an undo holds before it asks for them to be written: their bytes wait
// in a temporary file, and a few dozen bytes each in memory.
constexpr std::size_t kHeldCardsDue = 65536;

std::uint64_t Hash(std::string_view text) {
  ContentHasher hasher;
  hasher.Add(text);
  // 0 stands for "none" in a key: a text that hashes to it moves aside.
  return hasher.Value() == 0 ? 1 : hasher.Value();
}

std::string Hex(std::uint64_t value) {
  constexpr char kHex[] = "0123456789abcdef";
  std::string hex(16, '0');
  for (int i = 0; i < 16; ++i) hex[15 - i] = kHex[(value >> (4 * i)) & 0xF];
  return hex;
}

// The value of the card's first UID property, unfolded; empty when it has none.
std::string CardUid(std::string_view bytes) {
  std::size_t depth = 0;
  for (std::size_t at = 0; at < bytes.size();) {
    std::size_t end = bytes.find_first_of("\r\n", at);
    std::string line(bytes.substr(at, end == std::string_view::npos ? end : end - at));
    // Unfolds: a line end followed by a space or a tab goes on with what follows it.
    for (;;) {
      std::size_t next = end;
      while (next < bytes.size() && (bytes[next] == '\r' || bytes[next] == '\n')) ++next;
      if (next >= bytes.size() || (bytes[next] != ' ' && bytes[next] != '\t')) {
        at = next;
        break;
      }
      end = bytes.find_first_of("\r\n", next + 1);
      line += bytes.substr(next + 1, end == std::string_view::npos ? end : end - next - 1);
    }
    const std::size_t colon = line.find(':');
    std::string name = AsciiLower(line.substr(0, std::min(colon, line.find(';'))));
    if (const std::size_t dot = name.rfind('.'); dot != std::string::npos) name.erase(0, dot + 1);
    const std::string value = colon == std::string::npos ? "" : AsciiLower(line.substr(colon + 1));
    if (name == "begin" && value == "vcard") ++depth;
    if (name == "end" && value == "vcard" && depth > 0) --depth;
    // A card within the card (a 2.1 AGENT) has a UID of its own.
    if (name == "uid" && depth == 1 && colon != std::string::npos) return line.substr(colon + 1);
    if (end == std::string_view::npos) break;
  }
  return {};
}

std::uint64_t NumbersDigest(std::string_view name, const std::vector<PhoneValue>& phones) {
  ContentHasher hasher;
  hasher.Add(name);
  for (const PhoneValue& phone : phones) {
    hasher.Add(std::string_view("\0", 1));
    hasher.Add(phone.number);
  }
  return hasher.Value() == 0 ? 1 : hasher.Value();
}

// What a key says, or nothing when it is empty (a record of an earlier version) or not one.
struct KeyParts {
  std::uint64_t digest = 0;
  std::uint64_t name = 0;  // 0: the card has no name
  std::string uid;
};

std::optional<KeyParts> ParseKey(const std::string& key) {
  if (key.size() < 32) return std::nullopt;
  KeyParts parts;
  for (int i = 0; i < 32; ++i) {
    const char c = key[i];
    const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (digit < 0) return std::nullopt;
    std::uint64_t& part = i < 16 ? parts.digest : parts.name;
    part = (part << 4) | static_cast<std::uint64_t>(digit);
  }
  parts.uid = key.substr(32);
  return parts;
}

class FoundCardFile;

// A card of a file of many, found again; its save is held by its file.
class FoundCardItem : public CardContact {
 public:
  FoundCardItem(std::shared_ptr<FoundCardFile> file, std::size_t index, VCard card)
      : CardContact(std::move(card)), m_file(std::move(file)), m_index(index) {}

  void Save() override;
  std::optional<std::uint64_t> HeldSave() override { return m_held; }
  bool SaveIsHeld() override { return true; }

 private:
  std::shared_ptr<FoundCardFile> m_file;
  std::size_t m_index;
  std::optional<std::uint64_t> m_held;
};

}  // namespace

std::string CardKey(std::string_view bytes, std::string_view name,
                    const std::vector<PhoneValue>& phones) {
  return Hex(NumbersDigest(name, phones)) + Hex(name.empty() ? 0 : Hash(name)) + CardUid(bytes);
}

namespace {

// One file of many cards an undo finds cards in. Its cards are indexed once, when it is first
// asked for one: where each lies, and the hashes of its UID, its name and numbers, and its name.
// A restored card's bytes are held until Write(), which writes them all into the file at once,
// in file order, whatever order they were found in.
class FoundCardFile : public std::enable_shared_from_this<FoundCardFile> {
 public:
  FoundCardFile(std::string path, std::string name, CardFileOpener open, std::uint32_t serial)
      : m_path(std::move(path)),
        m_name(std::move(name)),
        m_open(std::move(open)),
        m_serial(serial) {}

  [[nodiscard]] const std::string& Path() const { return m_path; }
  [[nodiscard]] const std::string& Name() const { return m_name; }
  [[nodiscard]] std::size_t HeldCards() const { return m_held.size(); }

  // The card `identity` names. Throws StoreError when the file cannot be read or holds no card
  // that is the one recorded.
  std::unique_ptr<ContactItem> Find(const ContactIdentity& identity) {
    if (!m_read) Open();
    const std::size_t index = Lookup(identity);
    m_taken[index] = true;
    const Entry& entry = m_entries[index];
    if (entry.size > kMaxVCardBytes) {
      throw StoreError("card " + std::to_string(index + 1) + " of " + m_name,
                       "it is larger than " + std::to_string(kMaxVCardBytes >> 20) + " MiB");
    }
    std::string bytes(entry.size, '\0');
    const std::uint64_t begin = entry.begin + Shift(index);
    for (std::size_t got = 0; got < bytes.size();) {
      std::string reason;
      const auto n = m_base->ReadAt(begin + got, bytes.data() + got, bytes.size() - got, reason);
      if (!n || *n == 0) throw StoreError(m_name, "it could not be read again: " + reason);
      got += *n;
    }
    ParsedVCard parsed = ParseVCard(bytes);
    if (!parsed)
      throw StoreError("card " + std::to_string(index + 1) + " of " + m_name, parsed.error);
    return std::make_unique<FoundCardItem>(shared_from_this(), index, std::move(*parsed.card));
  }

  // Keeps `bytes` as card `index`'s content for the next Write(); gives the save's number.
  // Throws StoreError when they cannot be kept.
  std::uint64_t Hold(std::size_t index, std::string_view bytes) {
    if (!m_spill) m_spill.reset(std::tmpfile());
    const long at =
        m_spill && std::fseek(m_spill.get(), 0, SEEK_END) == 0 ? std::ftell(m_spill.get()) : -1;
    if (at < 0 || std::fwrite(bytes.data(), 1, bytes.size(), m_spill.get()) != bytes.size()) {
      throw StoreError(m_name, "its card could not be kept for writing in a temporary file");
    }
    m_held[index] = {static_cast<std::uint64_t>(at), static_cast<std::uint32_t>(bytes.size())};
    return Ticket(index);
  }

  // Writes the file with every held card in place, or says why not; the held cards are let go
  // either way.
  std::optional<Folder::FlushFailure> Write();

 private:
  struct Entry {
    std::uint64_t begin = 0;
    std::uint32_t size = 0;
  };
  // Each held card's bytes: where they lie in the temporary file.
  struct Held {
    std::uint64_t offset = 0;
    std::uint32_t size = 0;
  };

  // Hashes of the cards, each with its card's index, in hash order.
  using Hashes = std::vector<std::pair<std::uint64_t, std::uint32_t>>;

  [[nodiscard]] std::uint64_t Ticket(std::size_t index) const {
    return (std::uint64_t{m_serial} << 32) | static_cast<std::uint32_t>(index);
  }

  void Open() {
    auto read = std::make_unique<OpenedFile>();
    if (const Status opened = read->Open(PathFromUtf8(m_path), m_open(m_path, m_name));
        !opened.Ok()) {
      throw StoreError(m_name, opened.Reason());
    }
    m_read = std::move(read);
    m_base = m_read.get();
    m_base_as_read = {m_read->Stamp(), m_read->SettledChange(), std::nullopt};
    Index();
  }

  void Index();
  std::size_t Lookup(const ContactIdentity& identity);
  // The free card among `hashes` equal to `hash` nearest to `index`.
  std::optional<std::size_t> Nearest(const Hashes& hashes, std::uint64_t hash,
                                     std::size_t index) const;
  // How far card `index` lies from its place in the file as read, after the writes so far.
  [[nodiscard]] std::int64_t Shift(std::size_t index) const;
  // Hands the file's bytes from `from` to `to` (to its end when not given) to `sink`; false,
  // with `failure` set when the file fails, when it or `sink` fails.
  // After a write of `size` bytes hashing to `hash` with `held` in place: each card still to
  // be read lies where the sizes of those before it moved it, and the file written is what the
  // next write copies from and checks against.
  void Rewritten(const std::map<std::size_t, Held>& held, std::uint64_t size, std::uint64_t hash);
  bool CopyBase(std::uint64_t from, std::optional<std::uint64_t> to,
                const std::function<bool(std::string_view)>& sink, std::string& failure);

  std::string m_path;
  std::string m_name;
  CardFileOpener m_open;
  std::uint32_t m_serial;
  std::unique_ptr<OpenedFile> m_read;
  std::vector<Entry> m_entries;
  std::vector<bool> m_taken;
  Hashes m_uids;
  Hashes m_digests;
  Hashes m_names;
  // What a write copies from and is checked against: the file as read, or as last written.
  OpenedFile* m_base = nullptr;
  AsRead m_base_as_read;
  std::unique_ptr<OpenedFile> m_rewritten;
  // The cards written whose size changed, in index order, and the sum of the changes before
  // each.
  std::vector<std::pair<std::size_t, std::int64_t>> m_deltas;
  std::vector<std::int64_t> m_shift_before{0};
  struct Closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  std::map<std::size_t, Held> m_held;
  std::unique_ptr<std::FILE, Closer> m_spill;
  std::string m_lost;
};

void FoundCardItem::Save() {
  std::optional<std::string> bytes = RewrittenCard(m_file->Name());
  ClearChanges();
  if (bytes) m_held = m_file->Hold(m_index, *bytes);
}

void FoundCardFile::Index() {
  std::uint64_t offset = 0;
  CardScanner scanner(
      [this, &offset](char* buffer, std::size_t size, std::string& reason) {
        const auto got = m_read->ReadAt(offset, buffer, size, reason);
        if (got) offset += *got;
        return got;
      },
      kCardReadBlock);
  for (std::optional<ScannedCard> card; (card = scanner.Next());) {
    const auto index = static_cast<std::uint32_t>(m_entries.size());
    m_entries.push_back({card->span.begin, static_cast<std::uint32_t>(card->bytes.size())});
    if (const std::string uid = CardUid(card->bytes); !uid.empty()) {
      m_uids.emplace_back(Hash(uid), index);
    }
    // A card that cannot be parsed is found by its place alone, and refused then.
    if (ParsedVCard parsed = ParseVCard(card->bytes)) {
      std::vector<PhoneValue> phones;
      for (const PhoneEntry& entry : parsed.card->Phones()) {
        phones.push_back({entry.field, entry.number});
      }
      const std::string& name = parsed.card->FileAs();
      m_digests.emplace_back(NumbersDigest(name, phones), index);
      if (!name.empty()) m_names.emplace_back(Hash(name), index);
    }
  }
  if (!scanner.Failure().empty()) {
    throw StoreError(m_name, "it could not be read to its end: " + scanner.Failure());
  }
  m_taken.assign(m_entries.size(), false);
  for (Hashes* hashes : {&m_uids, &m_digests, &m_names}) std::sort(hashes->begin(), hashes->end());
}

std::optional<std::size_t> FoundCardFile::Nearest(const Hashes& hashes, std::uint64_t hash,
                                                  std::size_t index) const {
  const auto [first, last] =
      std::equal_range(hashes.begin(), hashes.end(), std::make_pair(hash, std::uint32_t{0}),
                       [](const auto& a, const auto& b) { return a.first < b.first; });
  std::optional<std::size_t> nearest;
  const auto distance = [index](std::size_t i) { return i > index ? i - index : index - i; };
  for (auto it = first; it != last; ++it) {
    if (m_taken[it->second]) continue;
    if (!nearest || distance(it->second) < distance(*nearest)) nearest = it->second;
  }
  return nearest;
}

std::size_t FoundCardFile::Lookup(const ContactIdentity& identity) {
  const std::optional<KeyParts> key = ParseKey(identity.key);
  const auto index = static_cast<std::size_t>(identity.card);
  const bool there = index < m_entries.size() && !m_taken[index];
  // A record of an earlier version knows the place alone.
  if (!key) {
    if (there) return index;
    throw StoreError(m_name, "it no longer holds a card " + std::to_string(index + 1) +
                                 " (it holds " + std::to_string(m_entries.size()) + ")");
  }
  if (!key->uid.empty()) {
    // Of two cards with one UID (a file joined from two exports), the one as the update left it.
    const std::uint64_t uid = Hash(key->uid);
    const auto [first, last] =
        std::equal_range(m_uids.begin(), m_uids.end(), std::make_pair(uid, std::uint32_t{0}),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
    const auto as_left = Nearest(m_digests, key->digest, index);
    for (auto it = first; it != last && as_left; ++it) {
      if (it->second == *as_left) return *as_left;
    }
    if (const auto found = Nearest(m_uids, uid, index)) return *found;
    throw StoreError(m_name, "no card of it has the UID \"" + key->uid + "\" any more");
  }
  if (const auto found = Nearest(m_digests, key->digest, index)) return *found;
  if (key->name != 0) {
    // Changed since the update: the card of that name, for the undo to say what it holds.
    if (const auto found = Nearest(m_names, key->name, index)) return *found;
    throw StoreError(m_name, "no card of it has the name recorded any more");
  }
  // Nothing but its place identifies a card without UID or name.
  if (there) return index;
  throw StoreError(m_name, "it no longer holds a card " + std::to_string(index + 1));
}

std::int64_t FoundCardFile::Shift(std::size_t index) const {
  const auto after =
      std::lower_bound(m_deltas.begin(), m_deltas.end(), std::make_pair(index, std::int64_t{0}),
                       [](const auto& a, const auto& b) { return a.first < b.first; });
  return m_shift_before[static_cast<std::size_t>(after - m_deltas.begin())];
}

bool FoundCardFile::CopyBase(std::uint64_t from, std::optional<std::uint64_t> to,
                             const std::function<bool(std::string_view)>& sink,
                             std::string& failure) {
  std::vector<char> block(kCardReadBlock);
  while (!to || from < *to) {
    const std::size_t want =
        to ? static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), *to - from))
           : block.size();
    std::string reason;
    const std::optional<std::size_t> got = m_base->ReadAt(from, block.data(), want, reason);
    if (!got) {
      failure = "it could not be read again: " + reason;
      return false;
    }
    if (*got == 0) {
      if (!to) return true;
      failure = "it became shorter while it was being saved";
      return false;
    }
    if (!sink(std::string_view(block.data(), *got))) return false;
    from += *got;
  }
  return true;
}

void FoundCardFile::Rewritten(const std::map<std::size_t, Held>& held, std::uint64_t size,
                              std::uint64_t hash) {
  for (const auto& [index, card] : held) {
    const std::int64_t delta =
        static_cast<std::int64_t>(card.size) - static_cast<std::int64_t>(m_entries[index].size);
    if (delta != 0) m_deltas.emplace_back(index, delta);
  }
  std::sort(m_deltas.begin(), m_deltas.end());
  m_shift_before.assign(1, 0);
  for (const auto& [index, delta] : m_deltas) {
    m_shift_before.push_back(m_shift_before.back() + delta);
  }
  // The next write copies from this one and checks against it.
  auto now = std::make_unique<OpenedFile>();
  Status opened;
  try {
    opened = now->Open(PathFromUtf8(m_path), m_open(m_path, m_name));
  } catch (const StoreError& error) {
    opened = Status::Failure(error.Reason(), error.Reason());
  }
  if (!opened.Ok()) {
    m_lost = "it cannot be read again after it was written: " + opened.Reason();
  } else if (now->Stamp().size != size) {
    m_lost = "another program changed it after it was written";
  } else {
    m_base_as_read = {now->Stamp(), std::nullopt, hash};
    m_rewritten = std::move(now);
    m_base = m_rewritten.get();
  }
}

std::optional<Folder::FlushFailure> FoundCardFile::Write() {
  if (m_held.empty()) return std::nullopt;
  const std::map<std::size_t, Held> held = std::exchange(m_held, {});
  // The temporary file starts afresh for the next holds.
  const std::unique_ptr<std::FILE, Closer> spill = std::move(m_spill);
  const auto failed = [&](std::string reason) {
    std::vector<std::uint64_t> tickets;
    for (const auto& [index, card] : held) tickets.push_back(Ticket(index));
    return Folder::FlushFailure{m_name, std::move(reason), std::move(tickets)};
  };
  if (!m_lost.empty()) return failed(m_lost);
  AsRead as_read = m_base_as_read;
  std::string failure;
  if (!as_read.change_ns && !as_read.content_hash) {
    // Read in the tick it last changed: its content is what the swap compares.
    ContentHasher hasher;
    const auto hash = [&hasher](std::string_view piece) {
      hasher.Add(piece);
      return true;
    };
    if (!CopyBase(0, std::nullopt, hash, failure)) return failed(failure);
    as_read.content_hash = hasher.Value();
  }
  StreamedReplace replace(PathFromUtf8(m_path), as_read, &m_base->Held());
  if (const Status begun = replace.Begin(); !begun.Ok()) return failed(begun.Reason());
  ContentHasher written;
  std::uint64_t size = 0;
  // A write that fails is said by the commit.
  const auto append = [&](std::string_view piece) {
    written.Add(piece);
    size += piece.size();
    return replace.Append(piece);
  };
  std::uint64_t copied = 0;
  bool whole = true;
  std::string bytes;
  for (const auto& [index, card] : held) {
    const std::uint64_t begin = m_entries[index].begin + Shift(index);
    bytes.resize(card.size);
    if (std::fseek(spill.get(), static_cast<long>(card.offset), SEEK_SET) != 0 ||
        std::fread(bytes.data(), 1, bytes.size(), spill.get()) != bytes.size()) {
      failure = "its restored cards could not be read back from their temporary file";
    }
    whole = failure.empty() && CopyBase(copied, begin, append, failure) && append(bytes);
    if (!whole) break;
    copied = begin + m_entries[index].size;
  }
  if (whole) (void)CopyBase(copied, std::nullopt, append, failure);
  // A part that could not be copied leaves the file as it was: the temporary file goes.
  if (!failure.empty()) return failed(failure);
  if (const Status committed = replace.Commit(); !committed.Ok()) {
    return failed(committed.Reason());
  }
  Rewritten(held, size, written.Value());
  return std::nullopt;
}

class FoundCards : public ItemCursor {
 public:
  FoundCards(std::unique_ptr<IdentityCursor> identities,
             std::vector<std::shared_ptr<FoundCardFile>>& files, CardFileOpener open,
             SingleCardReader single)
      : m_identities(std::move(identities)),
        m_files(files),
        m_open(std::move(open)),
        m_single(std::move(single)) {}

  std::unique_ptr<ContactItem> Next() override {
    const std::unique_ptr<ContactIdentity> next = m_identities->Next();
    if (!next) return nullptr;
    const ContactIdentity& identity = *next;
    const std::string name = Utf8FromPath(PathFromUtf8(identity.where).filename());
    if (identity.card < 0) {
      if (!m_single) throw StoreError(name, "this store holds no file of one card");
      return m_single(identity.where, name);
    }
    auto file = std::find_if(m_files.begin(), m_files.end(),
                             [&identity](const std::shared_ptr<FoundCardFile>& f) {
                               return f->Path() == identity.where;
                             });
    if (file == m_files.end()) {
      m_files.push_back(std::make_shared<FoundCardFile>(
          identity.where, name, m_open, static_cast<std::uint32_t>(m_files.size())));
      file = std::prev(m_files.end());
    }
    return (*file)->Find(identity);
  }

 private:
  std::unique_ptr<IdentityCursor> m_identities;
  std::vector<std::shared_ptr<FoundCardFile>>& m_files;
  CardFileOpener m_open;
  SingleCardReader m_single;
};

class NoSubfolders : public FolderCursor {
 public:
  std::unique_ptr<Folder> Next() override { return nullptr; }
};

class FoundFolder : public Folder {
 public:
  FoundFolder(std::string name, std::unique_ptr<IdentityCursor> identities, CardFileOpener open,
              SingleCardReader single)
      : m_name(std::move(name)),
        m_identities(std::move(identities)),
        m_open(std::move(open)),
        m_single(std::move(single)) {}

  std::string Name() override { return m_name; }
  FolderKind Kind() override { return FolderKind::Contacts; }
  std::unique_ptr<ItemCursor> Items() override {
    return std::make_unique<FoundCards>(std::move(m_identities), m_files, m_open, m_single);
  }
  std::unique_ptr<FolderCursor> Folders() override { return std::make_unique<NoSubfolders>(); }

  std::vector<FlushFailure> Flush() override {
    std::vector<FlushFailure> failures;
    for (const std::shared_ptr<FoundCardFile>& file : m_files) {
      if (auto failure = file->Write()) failures.push_back(std::move(*failure));
    }
    return failures;
  }

  bool FlushDue() override {
    std::size_t held = 0;
    for (const std::shared_ptr<FoundCardFile>& file : m_files) held += file->HeldCards();
    return held >= kHeldCardsDue;
  }

 private:
  std::string m_name;
  std::unique_ptr<IdentityCursor> m_identities;
  CardFileOpener m_open;
  SingleCardReader m_single;
  std::vector<std::shared_ptr<FoundCardFile>> m_files;
};

}  // namespace

std::unique_ptr<Folder> FoundCardsFolder(std::string name,
                                         std::unique_ptr<IdentityCursor> identities,
                                         CardFileOpener open, SingleCardReader single) {
  return std::make_unique<FoundFolder>(std::move(name), std::move(identities), std::move(open),
                                       std::move(single));
}

}  // namespace dialmend
