#include "stores/vcard_folder/vcard_folder_store.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <system_error>
#include <unordered_set>
#include <utility>

#ifndef _WIN32
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "engine/utf8.h"
#include "platform/atomic_file.h"
#include "platform/reason.h"
#include "platform/user_name.h"
#include "platform/utf8_path.h"
#include "stores/vcard/card_contact.h"
#include "stores/vcard/vcard.h"
#include "stores/vcard_file/card_file.h"

namespace dialmend {
namespace {

// The first line of a folder's `displayname` is its name; more than this is not a name, and
// reading no further keeps a huge or endless file from costing memory.
constexpr std::size_t kMaxDisplayNameBytes = 4096;

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

bool Hidden(std::string_view name) {
  return name.empty() || name[0] == '.';
}

// Editors' and sync tools' leftovers, which are never cards of their own.
bool Temporary(std::string_view name) {
  return name.ends_with("~") || name.ends_with(".tmp") || name.ends_with(".swp");
}

// Whether `name` ends in `extension` (".vcf"), in any case, after at least one character.
bool HasExtension(std::string_view name, std::string_view extension) {
  return name.size() > extension.size() &&
         AsciiLower(name.substr(name.size() - extension.size())) == extension;
}

bool IsCardName(std::string_view name) {
  return HasExtension(name, ".vcf");
}

// The smallest names offered, at most `limit` of them: a folder of any size is walked in byte
// order of its card names while holding only one batch of them. A max-heap, so the largest
// name kept is the one to drop, its buffer reused for the newcomer.
class SmallestNames {
 public:
  explicit SmallestNames(std::size_t limit) : m_limit(std::max<std::size_t>(limit, 1)) {}

  void Offer(std::string_view name) {
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

  // Whether any name offered is not among those kept.
  [[nodiscard]] bool LeftOut() const { return m_left_out; }

  // The names kept, in byte order.
  [[nodiscard]] std::vector<std::string> Take() {
    std::sort_heap(m_heap.begin(), m_heap.end());
    return std::move(m_heap);
  }

 private:
  std::size_t m_limit;
  std::vector<std::string> m_heap;
  bool m_left_out = false;
};

// What an entry is once a link is followed.
enum class EntryKind {
  File,
  Folder,
  Fifo,
  Device,
  Socket,
  DanglingLink,
  LinkLoop,
  Unreadable,
  Other
};

// One entry of a folder that is neither hidden nor temporary.
struct Entry {
  std::string name;
  EntryKind kind = EntryKind::Other;
  // The folder's identity for a folder; why it cannot be looked at for Unreadable.
  std::string detail;
};

// What an entry that is not a file or folder is, in words.
std::string KindText(const Entry& entry) {
  switch (entry.kind) {
    case EntryKind::Folder:
      return "it is a folder, not a file";
    case EntryKind::Fifo:
      return "it is a FIFO, not a file";
    case EntryKind::Device:
      return "it is a device, not a file";
    case EntryKind::Socket:
      return "it is a socket, not a file";
    case EntryKind::DanglingLink:
      return "it is a dangling link (what it names does not exist)";
    case EntryKind::LinkLoop:
      return "it is a link that leads round in a circle";
    case EntryKind::Unreadable:
      return "it cannot be looked at: " + entry.detail;
    default:
      return "it is not a file";
  }
}

// Counts a leftover temporary file of ours as removed, or notes why it could not be.
void CountRemoval(std::string name, const std::error_code& error, Walk& walk,
                  std::vector<StoreNote>& notes) {
  if (!error) {
    ++walk.removed;
  } else {
    notes.push_back(
        {std::move(name),
         "could not remove this temporary file left by an earlier run: " + ErrorText(error)});
  }
}

#ifndef _WIN32

std::string ReasonOf(int error) {
  return ErrorText(std::error_code(error, std::generic_category()));
}

std::string IdentityOf(const struct stat& info) {
  return std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
}

EntryKind KindOf(mode_t mode) {
  if (S_ISREG(mode)) return EntryKind::File;
  if (S_ISDIR(mode)) return EntryKind::Folder;
  if (S_ISFIFO(mode)) return EntryKind::Fifo;
  if (S_ISCHR(mode) || S_ISBLK(mode)) return EntryKind::Device;
  if (S_ISSOCK(mode)) return EntryKind::Socket;
  return EntryKind::Other;
}

// The folder's identity, or throws StoreError.
std::string FolderIdentity(const std::string& path, const std::string& subject) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) throw StoreError(subject, ReasonOf(errno));
  return IdentityOf(info);
}

// What ReadFolder hands each regular file (or link to one) to, by name: files are the bulk of a
// folder, and the caller keeps only those it wants.
using FileNameSink = std::function<void(std::string_view name)>;

// Lists the folder, the notes for what it passes over going to `notes`: one stat for an entry whose
// type the listing does not give (a link, or a file system that gives none) and for a folder, whose
// identity the walk needs; none for a plain file. Regular files go to `files`; every other entry
// is returned. Hidden and temporary entries are passed over; a leftover of ours is removed when
// the walk writes. Throws StoreError when the folder cannot be listed.
std::vector<Entry> ReadFolder(const std::string& path, const std::string& subject, Walk& walk,
                              std::vector<StoreNote>& notes, const FileNameSink& files) {
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(path.c_str()), ::closedir);
  if (!dir) throw StoreError(subject, ReasonOf(errno));
  const int fd = ::dirfd(dir.get());
  std::vector<Entry> entries;
  for (;;) {
    errno = 0;
    const dirent* listed = ::readdir(dir.get());
    if (listed == nullptr) break;
    const std::string_view name = listed->d_name;
    if (name == "." || name == "..") continue;
    const unsigned char type = listed->d_type;
    struct stat info;
    if (Hidden(name)) {
      // Only a regular file of ours, never what a link of that name leads to.
      if (!walk.writing || !IsAtomicTempName(name)) continue;
      if (type == DT_UNKNOWN) {
        if (::fstatat(fd, listed->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(info.st_mode)) {
          continue;
        }
      } else if (type != DT_REG) {
        continue;
      }
      const int result = ::unlinkat(fd, listed->d_name, 0) == 0 ? 0 : errno;
      if (result != ENOENT) {
        CountRemoval(std::string(name), std::error_code(result, std::generic_category()), walk,
                     notes);
      }
      continue;
    }
    if (Temporary(name)) continue;
    if (type == DT_REG) {
      files(name);
      continue;
    }
    Entry entry{std::string(name), EntryKind::Other, {}};
    switch (type) {
      case DT_FIFO:
        entry.kind = EntryKind::Fifo;
        break;
      case DT_CHR:
      case DT_BLK:
        entry.kind = EntryKind::Device;
        break;
      case DT_SOCK:
        entry.kind = EntryKind::Socket;
        break;
      default:
        if (::fstatat(fd, listed->d_name, &info, 0) == 0) {
          entry.kind = KindOf(info.st_mode);
          if (entry.kind == EntryKind::Folder) entry.detail = IdentityOf(info);
        } else if (errno == ELOOP) {
          entry.kind = EntryKind::LinkLoop;
        } else if (errno == ENOENT) {
          // Gone since the listing, unless a link that leads nowhere is still there.
          if (type == DT_DIR) continue;
          if (type == DT_UNKNOWN &&
              (::fstatat(fd, listed->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 ||
               !S_ISLNK(info.st_mode))) {
            continue;
          }
          entry.kind = EntryKind::DanglingLink;
        } else {
          entry.kind = EntryKind::Unreadable;
          entry.detail = ReasonOf(errno);
        }
    }
    if (entry.kind == EntryKind::File) {
      files(entry.name);
    } else {
      entries.push_back(std::move(entry));
    }
  }
  if (errno != 0) throw StoreError(subject, ReasonOf(errno));
  return entries;
}

// The first line of the folder's displayname file. Opened without waiting and read only when
// it is a regular file: a FIFO or a device there would block the walk or never end.
// `why_not` says why a displayname that is there was not used.
std::string ReadDisplayName(const std::string& folder, std::string& why_not) {
  const int fd =
      ::open((folder + "/displayname").c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    if (errno != ENOENT) why_not = "it cannot be read: " + ReasonOf(errno);
    return {};
  }
  const struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat info;
  if (::fstat(fd, &info) != 0) {
    why_not = "it cannot be read: " + ReasonOf(errno);
    return {};
  }
  if (!S_ISREG(info.st_mode)) {
    why_not = KindText({{}, KindOf(info.st_mode), {}});
    return {};
  }
  std::string bytes(kMaxDisplayNameBytes, '\0');
  std::size_t total = 0;
  while (total < bytes.size()) {
    const ssize_t got = ::read(fd, bytes.data() + total, bytes.size() - total);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      why_not = "it cannot be read: " + ReasonOf(errno);
      return {};
    }
    if (got == 0) break;
    total += static_cast<std::size_t>(got);
  }
  bytes.resize(total);
  const std::size_t end = bytes.find('\n');
  if (end == std::string::npos && total == kMaxDisplayNameBytes &&
      static_cast<std::uint64_t>(info.st_size) > kMaxDisplayNameBytes) {
    why_not = "its first line is longer than 4 KiB";
    return {};
  }
  if (end != std::string::npos) bytes.resize(end);
  return bytes;
}

#else

// Windows has no FIFOs or devices in a folder, and no inode numbers in the standard library:
// a folder is known by its path with every link resolved.
std::string FolderIdentity(const std::string& path, const std::string& subject) {
  std::error_code error;
  const std::filesystem::path resolved = std::filesystem::canonical(PathFromUtf8(path), error);
  if (error) throw StoreError(subject, ErrorText(error));
  return Utf8FromPath(resolved);
}

using FileNameSink = std::function<void(std::string_view name)>;

std::vector<Entry> ReadFolder(const std::string& path, const std::string& subject, Walk& walk,
                              std::vector<StoreNote>& notes, const FileNameSink& files) {
  namespace fs = std::filesystem;
  std::error_code error;
  fs::directory_iterator it(PathFromUtf8(path), error);
  if (error) throw StoreError(subject, ErrorText(error));
  std::vector<Entry> entries;
  for (; it != fs::directory_iterator(); it.increment(error)) {
    std::string name = Utf8FromPath(it->path().filename());
    std::error_code type_error;
    if (Hidden(name)) {
      if (walk.writing && IsAtomicTempName(name) && it->is_regular_file(type_error) &&
          !it->is_symlink(type_error)) {
        std::error_code removal;
        fs::remove(it->path(), removal);
        CountRemoval(name, removal, walk, notes);
      }
      continue;
    }
    if (Temporary(name)) continue;
    Entry entry{std::move(name), EntryKind::Other, {}};
    const fs::file_status status = it->status(type_error);
    if (type_error || !fs::exists(status)) {
      // Gone since the listing, unless a link that leads nowhere is still there.
      if (!it->is_symlink(type_error)) continue;
      entry.kind = EntryKind::DanglingLink;
    } else if (fs::is_directory(status)) {
      const fs::path resolved = fs::canonical(it->path(), type_error);
      entry.kind = type_error ? EntryKind::Unreadable : EntryKind::Folder;
      entry.detail = type_error ? ErrorText(type_error) : Utf8FromPath(resolved);
    } else if (fs::is_regular_file(status)) {
      files(entry.name);
      continue;
    }
    entries.push_back(std::move(entry));
  }
  if (error) throw StoreError(subject, ErrorText(error));
  return entries;
}

std::string ReadDisplayName(const std::string& folder, std::string& why_not) {
  const std::filesystem::path path = PathFromUtf8(folder) / "displayname";
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(path, error);
  if (!std::filesystem::exists(status)) return {};
  if (!std::filesystem::is_regular_file(status)) {
    why_not = "it is not a file";
    return {};
  }
  std::ifstream in(path, std::ios::binary);
  std::string bytes(kMaxDisplayNameBytes, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  if (in.bad()) {
    why_not = "it cannot be read";
    return {};
  }
  const std::size_t end = bytes.find('\n');
  if (end == std::string::npos && bytes.size() == kMaxDisplayNameBytes && in.peek() != EOF) {
    why_not = "its first line is longer than 4 KiB";
    return {};
  }
  if (end != std::string::npos) bytes.resize(end);
  return bytes;
}

#endif

// Lists the folder for the walk. A subfolder that leads to a folder the walk has already taken
// on is passed over with a note, so links back up the tree cannot make the walk endless; names
// are taken in byte order so which of two links to one folder is walked never varies.
// Only the first `card_batch` card names are kept; the walk lists the rest as it gets to them.
Listing List(const std::string& path, const std::string& subject, Walk& walk,
             std::size_t card_batch) {
  Listing listing;
  SmallestNames cards(card_batch);
  std::vector<Entry> entries =
      ReadFolder(path, subject, walk, listing.notes, [&](std::string_view name) {
        if (IsCardName(name)) {
          cards.Offer(name);
        } else if (HasExtension(name, ".ics")) {
          listing.has_calendar_items = true;
        }
      });
  listing.more_cards = cards.LeftOut();
  listing.cards = cards.Take();
  std::sort(entries.begin(), entries.end(),
            [](const Entry& a, const Entry& b) { return a.name < b.name; });
  for (Entry& entry : entries) {
    if (entry.kind == EntryKind::Folder) {
      if (walk.folders.insert(entry.detail).second) {
        listing.folders.push_back(std::move(entry.name));
      } else {
        listing.notes.push_back(
            {std::move(entry.name), "passed over: it leads back to a folder already walked"});
      }
    } else if (IsCardName(entry.name) || entry.kind == EntryKind::Unreadable) {
      // Anything else of a card's name is said; other entries are not the store's.
      listing.notes.push_back({entry.name, "passed over: " + KindText(entry)});
    }
  }
  std::stable_sort(listing.notes.begin(), listing.notes.end(),
                   [](const StoreNote& a, const StoreNote& b) { return a.subject < b.subject; });
  return listing;
}

// How many saves of single cards a folder holds before the walk should write them: enough that
// the two flushes of a batch cost little per card, few enough that the two files each keeps
// open stay well within the usual limit of 1,024.
constexpr std::size_t kBatchSaves = 256;

// The saves of a folder's single cards, held and then written together as one SaveBatch.
class CardBatch {
 public:
  // Holds the save of the card at `path`; gives the number HeldSave() names it by.
  std::uint64_t Hold(const std::string& path, std::string bytes, AsRead as_read, HeldFile file) {
    const std::uint64_t save = m_first_save + m_batch.Size();
    m_batch.Add(PathFromUtf8(path), std::move(bytes), as_read, std::move(file));
    return save;
  }

  [[nodiscard]] bool Full() const { return m_batch.Size() >= kBatchSaves; }

  // Writes the held saves; each that fails is named by its HeldSave() number alone, so the run
  // reports it as the failed save of that contact.
  void Commit(std::vector<Folder::FlushFailure>& failures) {
    if (m_batch.Size() == 0) return;
    const std::vector<Status> results = m_batch.Commit();
    for (std::size_t i = 0; i < results.size(); ++i) {
      if (!results[i].Ok()) failures.push_back({{}, results[i].Reason(), {m_first_save + i}});
    }
    m_first_save += results.size();
  }

 private:
  // The number of the first save held now: apart from those of files of many cards (CardFiles),
  // which count up from 0 << 32.
  std::uint64_t m_first_save = std::uint64_t{0xFFFFFFFF} << 32;
  SaveBatch m_batch;
};

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

// A file of one card found again for an undo, its save held in `batch`.
std::unique_ptr<ContactItem> FindSingleCard(const std::string& path, const std::string& name,
                                            std::shared_ptr<CardBatch> batch) {
  FileSnapshot snapshot = ReadFileSnapshot(PathFromUtf8(path), kMaxCardFileBytes);
  if (!snapshot.status.Ok()) throw StoreError(name, snapshot.status.Reason());
  if (const std::size_t cards = FindCards(snapshot.bytes).size(); cards > 1) {
    throw StoreError(name, "it now holds " + std::to_string(cards) + " cards, not one");
  }
  return SingleCard(path, name, std::move(snapshot), std::move(batch));
}

// The folder's cards: a .vcf file of one card is one item, and each card of a file of many is
// one item in file order, its save held for the folder's Flush().
class VCardItems : public ItemCursor {
 public:
  // `names` is the folder's first batch of card names; with `more`, the rest are listed a batch
  // at a time as the walk gets to them.
  VCardItems(std::string path, std::vector<std::string> names, bool more, std::size_t card_batch,
             std::shared_ptr<CardFiles> files, std::shared_ptr<CardBatch> batch)
      : m_path(std::move(path)),
        m_names(std::move(names)),
        m_more(more),
        m_card_batch(card_batch),
        m_files(std::move(files)),
        m_batch(std::move(batch)) {}

  std::unique_ptr<ContactItem> Next() override {
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

 private:
  // Lists the next batch of card names, those after the last one handed out. Returns whether
  // there is any. A listing that fails is reported once, and the folder's walk ends there.
  bool ListMore() {
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
        if (name > after && IsCardName(name)) batch.Offer(name);
      });
    } catch (const StoreError& error) {
      throw StoreError(after, "the cards after it cannot be listed: " + error.Reason());
    }
    m_more = batch.LeftOut();
    m_names = batch.Take();
    m_next = 0;
    return !m_names.empty();
  }

  std::string m_path;
  std::vector<std::string> m_names;
  std::size_t m_next = 0;
  bool m_more;
  std::size_t m_card_batch;
  std::shared_ptr<CardFiles> m_files;
  std::shared_ptr<CardBatch> m_batch;
  // The cards of the file of many being read, if any.
  std::unique_ptr<ItemCursor> m_cards;
};

class VCardFolder;

// The top level of a store: folders made before the walk reaches them.
class ReadyFolders : public FolderCursor {
 public:
  explicit ReadyFolders(std::vector<std::unique_ptr<Folder>> folders)
      : m_folders(std::move(folders)) {}
  std::unique_ptr<Folder> Next() override {
    if (m_next >= m_folders.size()) return nullptr;
    return std::move(m_folders[m_next++]);
  }

 private:
  std::vector<std::unique_ptr<Folder>> m_folders;
  std::size_t m_next = 0;
};

class VCardFolders : public FolderCursor {
 public:
  VCardFolders(std::shared_ptr<Walk> walk, std::string path, std::vector<std::string> names)
      : m_walk(std::move(walk)), m_path(std::move(path)), m_names(std::move(names)) {}
  std::unique_ptr<Folder> Next() override;

 private:
  std::shared_ptr<Walk> m_walk;
  std::string m_path;
  std::vector<std::string> m_names;
  std::size_t m_next = 0;
};

class VCardFolder : public Folder {
 public:
  VCardFolder(std::shared_ptr<Walk> walk, std::string path, std::string dir_name)
      : m_walk(std::move(walk)), m_path(std::move(path)), m_dir_name(std::move(dir_name)) {}
  // A folder already listed: the profile's own cards, whose subfolders are books of their own.
  VCardFolder(std::shared_ptr<Walk> walk, std::string path, std::string dir_name, Listing listing)
      : m_walk(std::move(walk)),
        m_path(std::move(path)),
        m_dir_name(std::move(dir_name)),
        m_listing(std::move(listing)) {}

  std::string Name() override {
    // Read once: the walk asks again, and the file may be slow or changing.
    if (!m_name) {
      std::string why_not;
      std::string name = ReadDisplayName(m_path, why_not);
      while (!name.empty() && (name.back() == '\r' || name.back() == ' ' || name.back() == '\t')) {
        name.pop_back();
      }
      if (!why_not.empty()) {
        m_notes.push_back(
            {"displayname", "passed over: " + why_not + "; the folder's own name is used"});
      }
      m_name = name.empty() ? m_dir_name : std::move(name);
    }
    return *m_name;
  }

  FolderKind Kind() override {
    Entries();
    return m_kind;
  }

  std::unique_ptr<ItemCursor> Items() override {
    Listing& listing = Entries();
    return std::make_unique<VCardItems>(m_path, std::move(listing.cards), listing.more_cards,
                                        m_walk->card_batch, m_files, m_batch);
  }

  std::vector<FlushFailure> Flush() override {
    std::vector<FlushFailure> failures = m_files->Flush();
    m_batch->Commit(failures);
    return failures;
  }

  bool FlushDue() override { return m_batch->Full(); }

  std::unique_ptr<FolderCursor> Folders() override {
    return std::make_unique<VCardFolders>(m_walk, m_path, std::move(Entries().folders));
  }

  std::vector<StoreNote> TakeNotes() override {
    if (m_listing) {
      std::move(m_listing->notes.begin(), m_listing->notes.end(), std::back_inserter(m_notes));
      m_listing->notes.clear();
    }
    return std::exchange(m_notes, {});
  }

 private:
  Listing& Entries() {
    if (!m_listing) {
      m_listing = List(m_path, m_dir_name, *m_walk, m_walk->card_batch);
      // A calendar folder holds .ics items and no cards; its items are never read.
      m_kind = m_listing->cards.empty() && m_listing->has_calendar_items ? FolderKind::Other
                                                                         : FolderKind::Contacts;
    }
    return *m_listing;
  }

  std::shared_ptr<Walk> m_walk;
  std::string m_path;
  std::string m_dir_name;
  std::optional<std::string> m_name;
  std::optional<Listing> m_listing;
  std::vector<StoreNote> m_notes;
  FolderKind m_kind = FolderKind::Contacts;
  std::shared_ptr<CardFiles> m_files = std::make_shared<CardFiles>();
  std::shared_ptr<CardBatch> m_batch = std::make_shared<CardBatch>();
};

std::unique_ptr<Folder> VCardFolders::Next() {
  if (m_next >= m_names.size()) return nullptr;
  const std::string& name = m_names[m_next++];
  return std::make_unique<VCardFolder>(m_walk, m_path + "/" + name, name);
}

// The name a folder has on disk: the last part of its path.
std::string DirName(const std::string& path) {
  std::string name = Utf8FromPath(PathFromUtf8(path).filename());
  return name.empty() ? path : name;
}

// A folder as the undo record names it: absolute, every link resolved.
std::string RecordedFolder(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path absolute = fs::absolute(PathFromUtf8(path), error);
  const fs::path canonical = fs::weakly_canonical(absolute, error);
  return Utf8FromPath(error ? absolute : canonical);
}

// Whether `path` is a folder we may list, or why not.
Status CheckFolder(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::file_status status = fs::status(PathFromUtf8(path), error);
  if (error) return Status::Failure("\"" + path + "\": " + ErrorText(error));
  if (!fs::is_directory(status)) return Status::Failure("\"" + path + "\" is not a folder");
  // Listing it is the one test of access that holds on every system.
  fs::directory_iterator listing(PathFromUtf8(path), error);
  if (error) return Status::Failure("\"" + path + "\": " + ErrorText(error));
  return {};
}

// Adds the card files under `path` to `count` from the names alone, as the walk would take
// them: no file is opened and no entry but one of unknown type is looked at further, so the
// count costs a small part of the walk. Links to folders are not followed; a subfolder that
// cannot be listed counts nothing. False when `path` itself cannot be listed.
#ifndef _WIN32
bool CountCardFiles(const std::string& path, std::int64_t& count) {
  std::vector<std::string> folders{path};
  for (bool top = true; !folders.empty(); top = false) {
    const std::string folder = std::move(folders.back());
    folders.pop_back();
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir) {
      if (top) return false;
      continue;
    }
    const int fd = ::dirfd(dir.get());
    for (;;) {
      errno = 0;
      const dirent* entry = ::readdir(dir.get());
      if (entry == nullptr) break;
      const std::string_view name = entry->d_name;
      // "." and ".." are hidden too.
      if (Hidden(name)) continue;
      bool is_folder = entry->d_type == DT_DIR;
      if (entry->d_type == DT_UNKNOWN) {
        struct stat info;
        is_folder =
            ::fstatat(fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(info.st_mode);
      }
      if (is_folder) {
        folders.push_back(folder + "/" + entry->d_name);
      } else if (!Temporary(name) && IsCardName(name)) {
        ++count;
      }
    }
    if (errno != 0 && top) return false;
  }
  return true;
}
#else
bool CountCardFiles(const std::string& path, std::int64_t& count) {
  namespace fs = std::filesystem;
  std::error_code error;
  fs::recursive_directory_iterator it(PathFromUtf8(path),
                                      fs::directory_options::skip_permission_denied, error);
  if (error) return false;
  for (; it != fs::recursive_directory_iterator(); it.increment(error)) {
    const std::string name = Utf8FromPath(it->path().filename());
    if (Hidden(name)) {
      it.disable_recursion_pending();
    } else if (!Temporary(name) && IsCardName(name)) {
      ++count;
    }
  }
  return !error;
}
#endif

// The cards an undo finds again: the files of many save as the found folder does, the single
// cards in batches of their own, as in a walk.
class BatchedFolder : public Folder {
 public:
  BatchedFolder(std::unique_ptr<Folder> found, std::shared_ptr<CardBatch> batch)
      : m_found(std::move(found)), m_batch(std::move(batch)) {}

  std::string Name() override { return m_found->Name(); }
  FolderKind Kind() override { return m_found->Kind(); }
  std::unique_ptr<ItemCursor> Items() override { return m_found->Items(); }
  std::unique_ptr<FolderCursor> Folders() override { return m_found->Folders(); }
  std::vector<StoreNote> TakeNotes() override { return m_found->TakeNotes(); }

  std::vector<FlushFailure> Flush() override {
    std::vector<FlushFailure> failures = m_found->Flush();
    m_batch->Commit(failures);
    return failures;
  }

  bool FlushDue() override { return m_batch->Full(); }

 private:
  std::unique_ptr<Folder> m_found;
  std::shared_ptr<CardBatch> m_batch;
};

class VCardStore : public ContactStore {
 public:
  // With `books` empty the store is the folder `root`; else each of `books` is an address book.
  VCardStore(std::string root, std::vector<std::string> books, std::size_t card_batch)
      : m_root(std::move(root)), m_books(std::move(books)), m_card_batch(card_batch) {}

  void SetWriting(bool writing) override { m_writing = writing; }

  Status Open() override {
    if (m_books.empty()) return CheckFolder(m_root);
    for (const std::string& book : m_books) {
      if (Status status = CheckFolder(book); !status.Ok()) return status;
    }
    return {};
  }

  std::string CurrentUser() override { return LoggedInUserName(); }

  // Each call starts a walk afresh.
  std::unique_ptr<FolderCursor> Folders() override {
    m_walk = std::make_shared<Walk>();
    m_walk->writing = m_writing;
    m_walk->card_batch = m_card_batch;
    m_notes.clear();
    std::vector<std::unique_ptr<Folder>> top;
    if (!m_books.empty()) {
      for (const std::string& book : m_books) {
        std::string identity;
        try {
          identity = FolderIdentity(book, book);
        } catch (const StoreError& error) {
          m_notes.push_back({book, "passed over: " + error.Reason(), true});
          continue;
        }
        if (!m_walk->folders.insert(identity).second) {
          m_notes.push_back({book, "passed over: it is an address book already walked"});
          continue;
        }
        top.push_back(std::make_unique<VCardFolder>(m_walk, book, DirName(book)));
      }
      return std::make_unique<ReadyFolders>(std::move(top));
    }
    m_walk->folders.insert(FolderIdentity(m_root, m_root));
    Listing listing = List(m_root, m_root, *m_walk, m_card_batch);
    m_notes = std::move(listing.notes);
    // Cards in the profile folder itself (a khard or vdirsyncer collection) are one address
    // book, walked before the subfolders, each of which stays an address book of its own.
    if (!listing.cards.empty()) {
      Listing own;
      own.cards = std::move(listing.cards);
      own.more_cards = listing.more_cards;
      top.push_back(std::make_unique<VCardFolder>(m_walk, m_root, DirName(m_root), std::move(own)));
    }
    for (std::string& name : listing.folders) {
      top.push_back(std::make_unique<VCardFolder>(m_walk, m_root + "/" + name, name));
    }
    return std::make_unique<ReadyFolders>(std::move(top));
  }

  std::optional<std::int64_t> CountContacts() override {
    std::int64_t count = 0;
    if (m_books.empty()) return CountCardFiles(m_root, count) ? std::optional(count) : std::nullopt;
    for (const std::string& book : m_books) {
      if (!CountCardFiles(book, count)) return std::nullopt;
    }
    return count;
  }

  StoreIdentity Identity() override {
    if (m_books.empty()) return {"vCard folder", RecordedFolder(m_root)};
    std::string books;
    for (const std::string& book : m_books)
      books += (books.empty() ? "" : "\n") + RecordedFolder(book);
    return {"vCard books", books};
  }

  std::unique_ptr<Folder> FindContacts(std::vector<ContactIdentity> identities) override {
    std::vector<std::string> roots;
    for (const std::string& root : m_books.empty() ? std::vector<std::string>{m_root} : m_books) {
      roots.push_back(RecordedFolder(root));
    }
    auto batch = std::make_shared<CardBatch>();
    std::unique_ptr<Folder> found = FoundCardsFolder(
        DirName(m_root.empty() ? m_books.front() : m_root), std::move(identities),
        [roots](const std::string& path) {
          // Windows writes its own separator where a path was joined with "/".
          return std::any_of(roots.begin(), roots.end(), [&path](const std::string& root) {
            const auto separator = [](char c) { return c == '/' || c == '\\'; };
            return path.size() > root.size() && path.starts_with(root) &&
                   (separator(root.back()) || separator(path[root.size()]));
          });
        },
        [batch](const std::string& path, const std::string& name) {
          return FindSingleCard(path, name, batch);
        });
    return std::make_unique<BatchedFolder>(std::move(found), std::move(batch));
  }

  std::vector<StoreNote> TakeNotes() override {
    std::vector<StoreNote> notes = std::exchange(m_notes, {});
    if (m_walk && m_walk->removed > 0) {
      const std::size_t removed = std::exchange(m_walk->removed, 0);
      notes.push_back({{},
                       "Removed " + std::to_string(removed) +
                           (removed == 1 ? " temporary file" : " temporary files") +
                           " left by an earlier run that was stopped"});
    }
    return notes;
  }

 private:
  std::string m_root;
  std::vector<std::string> m_books;
  std::size_t m_card_batch;
  bool m_writing = false;
  std::shared_ptr<Walk> m_walk;
  std::vector<StoreNote> m_notes;
};

}  // namespace

namespace {

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

std::unique_ptr<ContactStore> MakeVCardStore(std::string root, std::size_t card_batch) {
  return std::make_unique<VCardStore>(WithoutTrailingSlash(std::move(root)),
                                      std::vector<std::string>{}, card_batch);
}

std::unique_ptr<ContactStore> MakeVCardBooksStore(std::vector<std::string> books) {
  for (std::string& book : books) book = WithoutTrailingSlash(std::move(book));
  return std::make_unique<VCardStore>(std::string(), std::move(books), kVCardNameBatch);
}

}  // namespace dialmend
