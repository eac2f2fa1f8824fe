#include "stores/carddav/carddav_cards.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "stores/carddav/dav_url.h"
#include "stores/carddav/dav_xml.h"
#include "stores/vcard/card_contact.h"
#include "stores/vcard/vcard.h"

namespace dialmend {
namespace {

// How a card's version reads in an undo record until its save is noted. A record that holds no
// later version (the run ended between the PUT and the note, or the PUT's answer was lost)
// names a card the update may or may not have written, so an undo looks at its numbers, not
// its version.
constexpr std::string_view kBeforeSave = "before-save ";

bool IsSuccess(long status) {
  return status >= 200 && status < 300;
}

std::string Gone() {
  return "it is no longer on the server (404 Not Found)";
}

// The address book holding the card at `href`.
std::string BookOf(const std::string& href) {
  const std::size_t slash = href.rfind('/', href.size() > 1 ? href.size() - 2 : 0);
  return slash == std::string::npos ? std::string("/") : href.substr(0, slash + 1);
}

// What one addressbook-multiget gave.
struct Multiget {
  // The cards sent, by decoded path.
  std::unordered_map<std::string, DavResource> by_path;
  // Why no card came, when none did.
  std::string problem;
  // The server answered, but not with the cards (a whole batch refused because one card of it
  // is gone, as SabreDAV does; an answer too large or not XML): each may be asked for alone.
  bool ask_singly = false;
};

Multiget AskMultiget(DavSession& session, const std::string& book,
                     const std::vector<std::string>& hrefs) {
  Multiget answer;
  std::vector<std::string> encoded;
  encoded.reserve(hrefs.size());
  for (const std::string& href : hrefs) encoded.push_back(EncodedPath(href));
  Result<HttpResponse> response = session.Send(
      "REPORT", book, {{"Depth", "1"}, {"Content-Type", "application/xml; charset=utf-8"}},
      MultigetReport(encoded));
  if (!response.Ok()) {
    answer.problem = response.Message();
    answer.ask_singly = session.LastFailure() == HttpFailure::TooLarge;
    return answer;
  }
  const HttpResponse& got = response.Value();
  if (got.status == 401) {
    answer.problem = session.LoginProblem();
    return answer;
  }
  answer.ask_singly = true;
  if (got.status != 207) {
    answer.problem = got.status == 404 && hrefs.size() == 1 ? Gone() : ServerSaid(got);
    return answer;
  }
  Result<std::vector<DavResource>> resources = ParseMultistatus(got.body);
  if (!resources.Ok()) {
    answer.problem = resources.Message();
    return answer;
  }
  answer.ask_singly = false;
  for (DavResource& resource : resources.Value()) {
    answer.by_path.emplace(DecodedPath(HrefPath(resource.href, book)), std::move(resource));
  }
  return answer;
}

// Whether two texts of one card give the same numbers in the same fields: a server may store a
// card in its own layout.
bool SameNumbers(const std::string& a, const std::string& b) {
  if (a == b) return true;
  ParsedVCard first = ParseVCard(a);
  ParsedVCard second = ParseVCard(b);
  if (!first || !second) return false;
  const std::vector<PhoneEntry>& x = first.card->Phones();
  const std::vector<PhoneEntry>& y = second.card->Phones();
  return std::equal(x.begin(), x.end(), y.begin(), y.end(),
                    [](const PhoneEntry& p, const PhoneEntry& q) {
                      return p.field == q.field && p.number == q.number;
                    });
}

class CardDavItem : public CardContact, public CardDavCard {
 public:
  CardDavItem(std::shared_ptr<DavSession> session, std::string href, std::string etag, VCard card)
      : CardContact(std::move(card)),
        m_session(std::move(session)),
        m_href(std::move(href)),
        m_etag(std::move(etag)) {}

  const std::string& Href() const override { return m_href; }

  ContactIdentity Identity() override {
    return {m_href, -1, m_saved ? SavedETag() : std::string(kBeforeSave) + m_etag};
  }

  std::string SavedETag() override {
    if (!m_etag_unknown) return m_etag;
    Result<std::vector<DavResource>> found = m_session->Propfind(m_href, 0, ETagPropfind());
    if (!found.Ok()) throw StoreError(LastSegment(m_href), found.Message());
    m_etag_unknown = false;
    for (const DavResource& resource : found.Value()) {
      if (!resource.etag.empty()) m_etag = resource.etag;
    }
    return m_etag;
  }

  void Save() override {
    const std::string subject = LastSegment(m_href);
    std::optional<std::string> bytes = RewrittenCard(subject);
    if (!bytes) return;
    if (m_etag.empty()) {
      throw StoreError(subject,
                       "the server gave no ETag for it, so a change made there meanwhile could "
                       "not be told; it is left as it is");
    }
    Result<HttpResponse> response = Put(*bytes);
    if (!response.Ok() && !m_session->Stopped()) {
      // The server may have stored the card and lost only the answer: look before anything
      // else, and send it again only when it holds the card as it was read.
      switch (WhatTheServerHolds(*bytes)) {
        case Held::Ours:
          Saved();
          return;
        case Held::AsRead:
          response = Put(*bytes);
          break;
        case Held::Changed:
          throw StoreError(subject,
                           "it was changed on the server since it was read; it is left as it is");
        case Held::Unknown:
          break;
      }
    }
    if (!response.Ok()) {
      throw StoreError(
          subject,
          response.Message() + (m_session->Stopped() ? "; the server may have stored it" : ""));
    }
    const HttpResponse& answer = response.Value();
    if (answer.status == 412) {
      throw StoreError(subject,
                       "it was changed on the server since it was read; it is left as it is");
    }
    if (answer.status == 401) throw StoreError(subject, m_session->LoginProblem());
    if (!IsSuccess(answer.status)) throw StoreError(subject, ServerSaid(answer));
    // A server that changes the card as it stores it sends no ETag; it is asked for when needed.
    const std::string* etag = answer.Header("ETag");
    m_etag = etag != nullptr ? *etag : std::string();
    m_etag_unknown = etag == nullptr;
    Saved();
  }

 private:
  enum class Held { Ours, AsRead, Changed, Unknown };

  Result<HttpResponse> Put(std::string bytes) {
    return m_session->Send("PUT", m_href,
                           {{"If-Match", m_etag}, {"Content-Type", "text/vcard; charset=utf-8"}},
                           std::move(bytes));
  }

  // What the server holds in the card's place after a PUT without an answer.
  Held WhatTheServerHolds(const std::string& sent) {
    Multiget answer = AskMultiget(*m_session, BookOf(m_href), {m_href});
    const auto found = answer.by_path.find(DecodedPath(m_href));
    if (!answer.problem.empty() || found == answer.by_path.end() || !found->second.address_data) {
      return Held::Unknown;
    }
    const DavResource& held = found->second;
    if (SameNumbers(*held.address_data, sent)) {
      m_etag = held.etag;
      m_etag_unknown = held.etag.empty();
      return Held::Ours;
    }
    return held.etag == m_etag ? Held::AsRead : Held::Changed;
  }

  void Saved() {
    ClearChanges();
    m_saved = true;
  }

  std::shared_ptr<DavSession> m_session;
  std::string m_href;
  std::string m_etag;
  bool m_etag_unknown = false;
  bool m_saved = false;
};

// A card of the batch in hand: its text, or why it did not come.
struct Fetched {
  std::string href;
  std::string etag;
  std::optional<std::string> data;
  std::string problem;
  // Changed on the server since the update an undo puts back.
  bool changed = false;
};

// The cards of one address book, fetched a batch at a time as the walk reaches them.
class CardDavItems : public ItemCursor {
 public:
  CardDavItems(std::shared_ptr<DavSession> session, std::string book,
               std::vector<CardMember> members)
      : m_session(std::move(session)), m_book(std::move(book)), m_members(std::move(members)) {}

  std::unique_ptr<ContactItem> Next() override {
    if (m_ready_next >= m_ready.size()) {
      if (m_next >= m_members.size()) return nullptr;
      FetchBatch();
    }
    Fetched& card = m_ready[m_ready_next++];
    const std::string subject = LastSegment(card.href);
    if (card.changed) throw ContactChangedError(subject, card.problem);
    if (!card.data) throw StoreError(subject, card.problem);
    if (card.data->size() > kMaxVCardBytes) {
      throw StoreError(subject,
                       "it is larger than " + std::to_string(kMaxVCardBytes >> 20) + " MiB");
    }
    ParsedVCard parsed = ParseVCard(*card.data);
    if (!parsed) throw StoreError(subject, parsed.error);
    return std::make_unique<CardDavItem>(m_session, std::move(card.href), std::move(card.etag),
                                         std::move(*parsed.card));
  }

 private:
  // Reads the next batch; throws StoreError naming the cards it held when the server gives
  // none of them, the cursor then past them.
  void FetchBatch() {
    const std::size_t first = m_next;
    const std::size_t count = std::min(std::max<std::size_t>(m_session->Settings().batch_size, 1),
                                       m_members.size() - first);
    m_next += count;
    m_ready.clear();
    m_ready_next = 0;
    std::vector<std::string> hrefs;
    hrefs.reserve(count);
    for (std::size_t i = first; i < first + count; ++i) hrefs.push_back(m_members[i].href);
    const std::string subject =
        count == 1 ? LastSegment(hrefs.front())
                   : "cards " + std::to_string(first + 1) + " to " + std::to_string(first + count);
    Multiget answer = AskMultiget(*m_session, m_book, hrefs);
    m_ready.reserve(count);
    if (!answer.problem.empty() && answer.ask_singly && count > 1) {
      for (std::size_t i = first; i < first + count; ++i) {
        Multiget alone = AskMultiget(*m_session, m_book, {m_members[i].href});
        if (m_session->Stopped()) throw StoreError(subject, alone.problem);
        m_ready.push_back(Take(m_members[i], alone));
      }
      return;
    }
    if (!answer.problem.empty()) throw StoreError(subject, answer.problem);
    for (std::size_t i = first; i < first + count; ++i) {
      m_ready.push_back(Take(m_members[i], answer));
    }
  }

  // The member's card from `answer`, or why it is not there.
  static Fetched Take(CardMember& member, Multiget& answer) {
    Fetched card{std::move(member.href), std::move(member.etag), std::nullopt, {}};
    if (!answer.problem.empty()) {
      card.problem = answer.problem;
      return card;
    }
    const auto found = answer.by_path.find(DecodedPath(card.href));
    if (found == answer.by_path.end()) {
      card.problem = "the server did not send it";
    } else if (!found->second.address_data) {
      const long status = found->second.status;
      card.problem = status == 404 ? Gone()
                                   : "the server did not send it (" + std::to_string(status) + " " +
                                         std::string(HttpStatusText(status)) + ")";
    } else if (member.saved_version && !card.etag.empty() && found->second.etag != card.etag) {
      card.changed = true;
      card.problem = "it was changed on the server since the update";
    } else {
      card.data = std::move(found->second.address_data);
      if (!found->second.etag.empty()) card.etag = std::move(found->second.etag);
    }
    return card;
  }

  std::shared_ptr<DavSession> m_session;
  std::string m_book;
  std::vector<CardMember> m_members;
  std::size_t m_next = 0;
  std::vector<Fetched> m_ready;
  std::size_t m_ready_next = 0;
};

// The cards an undo asks for, in its order: read a book's run of cards at a time, as the update
// met them.
class FoundCardCursor : public ItemCursor {
 public:
  FoundCardCursor(std::shared_ptr<DavSession> session, std::vector<ContactIdentity> identities)
      : m_session(std::move(session)), m_identities(std::move(identities)) {}

  std::unique_ptr<ContactItem> Next() override {
    if (m_left == 0) {
      if (m_next >= m_identities.size()) return nullptr;
      const std::string book = BookOf(m_identities[m_next].where);
      std::vector<CardMember> members;
      while (m_next < m_identities.size() && BookOf(m_identities[m_next].where) == book) {
        ContactIdentity& identity = m_identities[m_next++];
        // Before its save was noted, the card is told by its numbers: its version may be ours.
        const bool saved = !identity.tag.starts_with(kBeforeSave);
        members.push_back(
            {std::move(identity.where), saved ? std::move(identity.tag) : std::string(), saved});
      }
      m_left = members.size();
      m_book = CardsOf(m_session, book, std::move(members));
    }
    --m_left;
    return m_book->Next();
  }

 private:
  std::shared_ptr<DavSession> m_session;
  std::vector<ContactIdentity> m_identities;
  std::size_t m_next = 0;
  std::unique_ptr<ItemCursor> m_book;
  std::size_t m_left = 0;
};

class NoFolders : public FolderCursor {
 public:
  std::unique_ptr<Folder> Next() override { return nullptr; }
};

class FoundFolder : public Folder {
 public:
  FoundFolder(std::shared_ptr<DavSession> session, std::vector<ContactIdentity> identities)
      : m_session(std::move(session)), m_identities(std::move(identities)) {}
  std::string Name() override { return {}; }
  FolderKind Kind() override { return FolderKind::Contacts; }
  std::unique_ptr<ItemCursor> Items() override {
    return std::make_unique<FoundCardCursor>(m_session, std::move(m_identities));
  }
  std::unique_ptr<FolderCursor> Folders() override { return std::make_unique<NoFolders>(); }

 private:
  std::shared_ptr<DavSession> m_session;
  std::vector<ContactIdentity> m_identities;
};

}  // namespace

std::unique_ptr<ItemCursor> CardsOf(std::shared_ptr<DavSession> session, std::string book,
                                    std::vector<CardMember> members) {
  return std::make_unique<CardDavItems>(std::move(session), std::move(book), std::move(members));
}

std::unique_ptr<Folder> FoundCards(std::shared_ptr<DavSession> session,
                                   std::vector<ContactIdentity> identities) {
  return std::make_unique<FoundFolder>(std::move(session), std::move(identities));
}

}  // namespace dialmend
