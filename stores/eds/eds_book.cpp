#include "stores/eds/eds_book.h"

#include <algorithm>
#include <chrono>
#include <unordered_map>
#include <utility>

#include "stores/vcard/card_contact.h"
#include "stores/vcard/vcard.h"

namespace dialmend {
namespace {

constexpr const char* kChangedSince =
    "another program changed it since it was read; it is left as it is";
constexpr const char* kRemovedSince = "it was removed from its address book since it was read";

// The query every card of a book matches.
GCharPtr EveryCard() {
  EBookQuery* query = e_book_query_any_field_contains("");
  GCharPtr text = TakeGChar(e_book_query_to_string(query));
  e_book_query_unref(query);
  return text;
}

// The query the cards of `uids` match.
GCharPtr CardsOf(const std::vector<std::string>& uids) {
  std::vector<EBookQuery*> tests;
  tests.reserve(uids.size());
  for (const std::string& uid : uids) {
    tests.push_back(e_book_query_field_test(E_CONTACT_UID, E_BOOK_QUERY_IS, uid.c_str()));
  }
  EBookQuery* query = e_book_query_or(static_cast<gint>(tests.size()), tests.data(), TRUE);
  GCharPtr text = TakeGChar(e_book_query_to_string(query));
  e_book_query_unref(query);
  return text;
}

bool SameValues(EVCardAttribute* a, EVCardAttribute* b) {
  GList* x = e_vcard_attribute_get_values(a);
  GList* y = e_vcard_attribute_get_values(b);
  for (; x != nullptr && y != nullptr; x = x->next, y = y->next) {
    if (g_strcmp0(static_cast<const char*>(x->data), static_cast<const char*>(y->data)) != 0) {
      return false;
    }
  }
  return x == nullptr && y == nullptr;
}

// The contact EDS is to store for `rewritten`. EDS keeps each number's digits in an
// X-EVOLUTION-E164 parameter and, on a book on a server, does not work them out again: the
// parameter of each TEL whose value changed goes, so no old number lingers there.
GObjectPtr<EContact> ContactToSave(const std::string& read, const std::string& rewritten) {
  const GObjectPtr<EContact> before(e_contact_new_from_vcard(read.c_str()));
  GObjectPtr<EContact> after(e_contact_new_from_vcard(rewritten.c_str()));
  // The rewrite changes values only, so the two cards' properties pair up in order.
  GList* old_property = e_vcard_get_attributes(E_VCARD(before.get()));
  GList* new_property = e_vcard_get_attributes(E_VCARD(after.get()));
  for (; old_property != nullptr && new_property != nullptr;
       old_property = old_property->next, new_property = new_property->next) {
    auto* old_tel = static_cast<EVCardAttribute*>(old_property->data);
    auto* new_tel = static_cast<EVCardAttribute*>(new_property->data);
    if (g_ascii_strcasecmp(e_vcard_attribute_get_name(new_tel), EVC_TEL) != 0) continue;
    if (!SameValues(old_tel, new_tel)) e_vcard_attribute_remove_param(new_tel, "X-EVOLUTION-E164");
  }
  return after;
}

// Why a save failed, in the words the other stores use where they mean the same.
std::string SaveFailure(const GErrorSlot& error) {
  if (error.Is(E_CLIENT_ERROR, E_CLIENT_ERROR_OUT_OF_SYNC)) {
    return "it was changed on the server since it was read; it is left as it is";
  }
  if (error.Is(E_BOOK_CLIENT_ERROR, E_BOOK_CLIENT_ERROR_CONTACT_NOT_FOUND)) return kRemovedSince;
  return "EDS could not save it: " + error.Text();
}

// The card in its text as EDS keeps it. The text is taken before anything else is asked of the
// contact: until then EDS holds it unparsed and gives it back as it came.
EdsFetched Read(EContact* contact) {
  const GCharPtr text = TakeGChar(e_vcard_to_string(E_VCARD(contact), EVC_FORMAT_VCARD_30));
  EdsFetched fetched;
  const std::string_view bytes = text ? std::string_view(text.get()) : std::string_view();
  if (bytes.size() > kMaxVCardBytes) {
    fetched.problem = "it is larger than " + std::to_string(kMaxVCardBytes >> 20) + " MiB";
  } else if (ParsedVCard parsed = ParseVCard(bytes); parsed) {
    fetched.uid = parsed.card->Uid();
    fetched.card = std::move(parsed.card);
  } else {
    fetched.problem = std::move(parsed.error);
  }
  if (fetched.uid.empty()) {
    const auto* uid = static_cast<const char*>(e_contact_get_const(contact, E_CONTACT_UID));
    fetched.uid = uid != nullptr ? uid : "";
  }
  return fetched;
}

// Why a card read again is not the card `read` any more, or nullptr when it is.
const char* Changed(const EdsFetched& now, const std::string& read) {
  if (!now.there) return kRemovedSince;
  return now.card && now.card->Bytes() == read ? nullptr : kChangedSince;
}

class EdsCard : public CardContact {
 public:
  EdsCard(std::shared_ptr<EdsBook> book, std::string uid, VCard card,
          std::shared_ptr<EdsHeldSaves> held)
      : CardContact(std::move(card)),
        m_book(std::move(book)),
        m_uid(std::move(uid)),
        m_held(std::move(held)) {}

  ContactIdentity Identity() override { return {m_book->SourceUid() + "/" + m_uid, -1, {}}; }
  bool SaveIsHeld() override { return !m_book->OnServer(); }
  std::optional<std::uint64_t> HeldSave() override { return m_held_number; }

  void Save() override {
    m_held_number.reset();
    std::optional<std::string> rewritten = RewrittenCard(m_uid);
    if (!rewritten) return;
    if (m_book->OnServer()) {
      m_book->SaveNow(m_uid, Card().Bytes(), *rewritten);
    } else {
      m_held_number = m_book->Session().NextSaveNumber();
      m_held->push_back({m_book, *m_held_number, m_uid, Card().Bytes(), std::move(*rewritten)});
    }
    ClearChanges();
  }

 private:
  std::shared_ptr<EdsBook> m_book;
  std::string m_uid;
  std::shared_ptr<EdsHeldSaves> m_held;
  std::optional<std::uint64_t> m_held_number;
};

}  // namespace

EdsBook::EdsBook(std::shared_ptr<EdsSession> session, ESource* source, std::string name,
                 const EdsSettings& settings)
    : m_session(std::move(session)),
      m_source(static_cast<ESource*>(g_object_ref(source))),
      m_name(std::move(name)),
      m_source_uid(e_source_get_uid(source)),
      m_connect_seconds(settings.connect_seconds),
      m_batch_size(std::max<std::size_t>(settings.batch_size, 1)) {
  auto* book =
      static_cast<ESourceBackend*>(e_source_get_extension(source, E_SOURCE_EXTENSION_ADDRESS_BOOK));
  m_on_server = g_strcmp0(e_source_backend_get_backend_name(book), "local") != 0;
}

EdsBook::~EdsBook() {
  const EdsSession::Scope scope = m_session->Enter();
  m_client.reset();
  m_source.reset();
  m_session->Pump();
}

EBookClient* EdsBook::Client() {
  if (m_client) return m_client.get();
  GErrorSlot error;
  // Not waiting here for a book on a server to connect: a blocking wait would wait its whole
  // time unless this thread's context were dispatched meanwhile, which Refusal() does.
  EClient* client =
      e_book_client_connect_sync(m_source.get(), static_cast<guint32>(-1), nullptr, error.Out());
  if (client == nullptr) throw StoreError(m_name, "EDS cannot open it: " + error.Text());
  m_client.reset(E_BOOK_CLIENT(client));
  return m_client.get();
}

bool EdsBook::Connected() const {
  return e_source_get_connection_status(m_source.get()) == E_SOURCE_CONNECTION_STATUS_CONNECTED;
}

namespace {

std::string NotConnectedReason(ESourceConnectionStatus status) {
  switch (status) {
    case E_SOURCE_CONNECTION_STATUS_AWAITING_CREDENTIALS:
      return "EDS is waiting for the password of its server: give it in GNOME Contacts or "
             "Evolution, then run again; it is left as it is";
    case E_SOURCE_CONNECTION_STATUS_SSL_FAILED:
      return "EDS did not accept its server's certificate: settle that in GNOME Contacts or "
             "Evolution, then run again; it is left as it is";
    default:
      return "EDS is not connected to its server, and would keep a change made now to send "
             "later or drop it: connect, then run again; it is left as it is";
  }
}

}  // namespace

std::string EdsBook::Refusal(bool writing) {
  const EdsSession::Scope scope = m_session->Enter();
  if (e_source_has_extension(m_source.get(), E_SOURCE_EXTENSION_WEBDAV_BACKEND)) {
    auto* webdav = static_cast<ESourceWebdav*>(
        e_source_get_extension(m_source.get(), E_SOURCE_EXTENSION_WEBDAV_BACKEND));
    if (e_source_webdav_get_avoid_ifmatch(webdav)) {
      return "EDS is set to save its cards on the server without If-Match (AvoidIfmatch=true), "
             "which would overwrite a change made there meanwhile; it is left as it is";
    }
  }
  EBookClient* client = Client();
  if (!writing) return {};
  if (m_on_server && !m_waited) {
    m_waited = true;
    (void)m_session->WaitUntil(
        [this] {
          const ESourceConnectionStatus status = e_source_get_connection_status(m_source.get());
          return status == E_SOURCE_CONNECTION_STATUS_CONNECTED ||
                 status == E_SOURCE_CONNECTION_STATUS_AWAITING_CREDENTIALS ||
                 status == E_SOURCE_CONNECTION_STATUS_SSL_FAILED;
        },
        std::chrono::seconds(m_connect_seconds));
  }
  // EDS holds a book it cannot reach read-only too: the connection is the reason to give.
  if (m_on_server && !Connected()) {
    return NotConnectedReason(e_source_get_connection_status(m_source.get()));
  }
  if (e_client_is_readonly(E_CLIENT(client))) return "EDS holds it read-only";
  return {};
}

std::vector<std::string> EdsBook::ListUids() {
  const EdsSession::Scope scope = m_session->Enter();
  GSList* uids = nullptr;
  GErrorSlot error;
  if (!e_book_client_get_contacts_uids_sync(Client(), EveryCard().get(), &uids, nullptr,
                                            error.Out())) {
    throw StoreError(m_name, "EDS cannot list its cards: " + error.Text());
  }
  std::vector<std::string> listed;
  for (GSList* at = uids; at != nullptr; at = at->next) {
    listed.emplace_back(static_cast<const char*>(at->data));
  }
  g_slist_free_full(uids, g_free);
  std::sort(listed.begin(), listed.end());
  return listed;
}

std::vector<EdsFetched> EdsBook::Fetch(const std::vector<std::string>& uids) {
  if (uids.empty()) return {};
  const EdsSession::Scope scope = m_session->Enter();
  GSList* contacts = nullptr;
  GErrorSlot error;
  if (!e_book_client_get_contacts_sync(Client(), CardsOf(uids).get(), &contacts, nullptr,
                                       error.Out())) {
    throw StoreError(m_name, "EDS cannot read its cards: " + error.Text());
  }
  std::unordered_map<std::string, EdsFetched> read;
  for (GSList* at = contacts; at != nullptr; at = at->next) {
    EdsFetched card = Read(static_cast<EContact*>(at->data));
    std::string uid = card.uid;
    read.emplace(std::move(uid), std::move(card));
  }
  g_slist_free_full(contacts, g_object_unref);
  std::vector<EdsFetched> fetched;
  fetched.reserve(uids.size());
  for (const std::string& uid : uids) {
    auto found = read.find(uid);
    if (found == read.end()) {
      fetched.push_back({uid, std::nullopt, "it is no longer in its address book", false});
    } else {
      fetched.push_back(std::move(found->second));
    }
  }
  return fetched;
}

Status EdsBook::Modify(GSList* contacts, bool check_conflict) {
  GErrorSlot error;
  const bool saved = e_book_client_modify_contacts_sync(
      Client(), contacts,
      check_conflict ? E_BOOK_OPERATION_FLAG_CONFLICT_FAIL : E_BOOK_OPERATION_FLAG_NONE, nullptr,
      error.Out());
  g_slist_free_full(contacts, g_object_unref);
  return saved ? Status{} : Status::Failure(SaveFailure(error));
}

void EdsBook::SaveNow(const std::string& uid, const std::string& read,
                      const std::string& rewritten) {
  const EdsSession::Scope scope = m_session->Enter();
  (void)Client();
  m_session->Pump();
  if (!Connected())
    throw StoreError(uid, NotConnectedReason(e_source_get_connection_status(m_source.get())));
  // EDS checks a save against the ETag of its own copy, which it may have refreshed from the
  // server since the card was read: the card must still read as it did.
  std::vector<EdsFetched> now = Fetch({uid});
  if (const char* changed = Changed(now.front(), read)) throw StoreError(uid, changed);
  // One card a call: EDS's conflict check is made for one card at a time.
  GSList* contacts = g_slist_prepend(nullptr, ContactToSave(read, rewritten).release());
  if (const Status saved = Modify(contacts, true); !saved.Ok()) {
    throw StoreError(uid, saved.Message());
  }
}

std::vector<Folder::FlushFailure> EdsBook::WriteHeld(const EdsHeldSaves& saves) {
  std::vector<Folder::FlushFailure> failures;
  const auto fail = [&failures](const EdsHeldSave& save, std::string reason) {
    failures.push_back({{}, std::move(reason), {save.number}});
  };
  std::vector<std::string> uids;
  uids.reserve(saves.size());
  for (const EdsHeldSave& save : saves) uids.push_back(save.uid);
  const EdsSession::Scope scope = m_session->Enter();
  // A book on this computer has no check of its own against another program's edit (unless its
  // revision guards are on, which is the user's choice): each card must read as it did.
  std::vector<EdsFetched> now;
  try {
    now = Fetch(uids);
  } catch (const StoreError& error) {
    for (const EdsHeldSave& save : saves) fail(save, error.Reason());
    return failures;
  }
  std::vector<const EdsHeldSave*> unchanged;
  for (std::size_t i = 0; i < saves.size(); ++i) {
    if (const char* changed = Changed(now[i], saves[i].read)) {
      fail(saves[i], changed);
    } else {
      unchanged.push_back(&saves[i]);
    }
  }
  const auto modify = [this](auto first, auto last) {
    GSList* contacts = nullptr;
    for (auto at = last; at != first;) {
      --at;
      contacts = g_slist_prepend(contacts, ContactToSave((*at)->read, (*at)->rewritten).release());
    }
    return Modify(contacts, false);
  };
  if (unchanged.empty()) return failures;
  const Status all = modify(unchanged.begin(), unchanged.end());
  if (all.Ok()) return failures;
  if (unchanged.size() == 1) {
    fail(*unchanged.front(), all.Message());
    return failures;
  }
  // EDS refused the batch: a call for each card names the ones it refuses.
  for (auto at = unchanged.begin(); at != unchanged.end(); ++at) {
    if (const Status one = modify(at, at + 1); !one.Ok()) fail(**at, one.Message());
  }
  return failures;
}

std::unique_ptr<ContactItem> MakeEdsCard(std::shared_ptr<EdsBook> book, EdsFetched fetched,
                                         std::shared_ptr<EdsHeldSaves> held) {
  if (!fetched.card) throw StoreError(fetched.uid, fetched.problem);
  return std::make_unique<EdsCard>(std::move(book), std::move(fetched.uid),
                                   std::move(*fetched.card), std::move(held));
}

std::vector<Folder::FlushFailure> WriteHeldSaves(EdsHeldSaves& held) {
  EdsHeldSaves saves = std::exchange(held, {});
  std::vector<Folder::FlushFailure> failures;
  for (auto first = saves.begin(); first != saves.end();) {
    auto last = std::find_if(
        first, saves.end(), [&first](const EdsHeldSave& save) { return save.book != first->book; });
    EdsHeldSaves run(std::make_move_iterator(first), std::make_move_iterator(last));
    std::vector<Folder::FlushFailure> written = run.front().book->WriteHeld(run);
    std::move(written.begin(), written.end(), std::back_inserter(failures));
    first = last;
  }
  return failures;
}

}  // namespace dialmend
