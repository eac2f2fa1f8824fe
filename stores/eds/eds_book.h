#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "contacts/contact_store.h"
#include "platform/result.h"
#include "stores/eds/eds_session.h"
#include "stores/eds/eds_store.h"
#include "stores/vcard/vcard.h"

// One EDS address book: its connection, reading its cards by UID, and writing them back without
// overwriting another program's edit. Internal to the EDS store; every call may throw StoreError.

namespace dialmend {

class EdsBook;

// A card of a book as EDS gave it, or why it did not come or cannot be read.
struct EdsFetched {
  std::string uid;
  std::optional<VCard> card;
  std::string problem;
  // Whether the book has the card at all.
  bool there = true;
};

// A save of a book on this computer, written with the rest of its batch at the folder's Flush().
struct EdsHeldSave {
  std::shared_ptr<EdsBook> book;
  std::uint64_t number = 0;
  std::string uid;
  // The card's text as it was read, and as it is to be.
  std::string read;
  std::string rewritten;
};
using EdsHeldSaves = std::vector<EdsHeldSave>;

class EdsBook {
 public:
  // `source` is referenced, not taken; `name` is the book's folder name.
  EdsBook(std::shared_ptr<EdsSession> session, ESource* source, std::string name,
          const EdsSettings& settings);
  ~EdsBook();
  EdsBook(const EdsBook&) = delete;
  EdsBook& operator=(const EdsBook&) = delete;

  [[nodiscard]] const std::string& Name() const { return m_name; }
  [[nodiscard]] const std::string& SourceUid() const { return m_source_uid; }
  [[nodiscard]] EdsSession& Session() const { return *m_session; }
  [[nodiscard]] std::size_t BatchSize() const { return m_batch_size; }
  // A book kept by a server (CardDAV, an online account) rather than on this computer.
  [[nodiscard]] bool OnServer() const { return m_on_server; }

  // Why a run may not walk this book at all, or, when `writing`, may not write to it; empty
  // when it may. Connects to EDS first; a run that writes waits for a book on a server to connect.
  [[nodiscard]] std::string Refusal(bool writing);

  // The UIDs of its contacts and groups, in byte order.
  [[nodiscard]] std::vector<std::string> ListUids();
  // The cards of `uids`, in that order, read; a card not there or not readable comes with its
  // problem. Throws StoreError naming the book when EDS gives none.
  [[nodiscard]] std::vector<EdsFetched> Fetch(const std::vector<std::string>& uids);

  // Writes a card of a book on a server at once, if it still reads as `read`, with EDS's
  // conflict check on. Throws StoreError naming `uid`, with the reason, when it is not written.
  void SaveNow(const std::string& uid, const std::string& read, const std::string& rewritten);
  // Writes the held saves of this book; the card of any that no longer reads as it did is left.
  // Gives a failure for each save not written. Never throws.
  [[nodiscard]] std::vector<Folder::FlushFailure> WriteHeld(const EdsHeldSaves& saves);

 private:
  // The connected client; throws StoreError naming the book.
  EBookClient* Client();
  // Whether EDS is connected to the book's server now.
  [[nodiscard]] bool Connected() const;
  // Modifies `contacts` in one call, or says why not.
  [[nodiscard]] Status Modify(GSList* contacts, bool check_conflict);

  std::shared_ptr<EdsSession> m_session;
  GObjectPtr<ESource> m_source;
  std::string m_name;
  std::string m_source_uid;
  bool m_on_server = false;
  int m_connect_seconds;
  std::size_t m_batch_size;
  GObjectPtr<EBookClient> m_client;
  bool m_waited = false;
};

// The item for a card EDS gave, sharing `held` with its folder; throws StoreError naming the
// card when it did not come or cannot be read.
[[nodiscard]] std::unique_ptr<ContactItem> MakeEdsCard(std::shared_ptr<EdsBook> book,
                                                       EdsFetched fetched,
                                                       std::shared_ptr<EdsHeldSaves> held);

// Writes each book's run of `held`, in order, and empties it; the failures of them all.
[[nodiscard]] std::vector<Folder::FlushFailure> WriteHeldSaves(EdsHeldSaves& held);

}  // namespace dialmend
