#include "stores/carddav/carddav_store.h"

#include <algorithm>
#include <unordered_map>
#include <utility>
#include <vector>

#include "stores/carddav/carddav_session.h"
#include "stores/carddav/dav_url.h"
#include "stores/carddav/dav_xml.h"
#include "stores/vcard/card_contact.h"
#include "stores/vcard/vcard.h"

namespace dialmend {
namespace {

bool IsSuccess(long status) {
  return status >= 200 && status < 300;
}

class CardDavItem : public CardContact, public CardDavCard {
 public:
  CardDavItem(std::shared_ptr<DavSession> session, std::string href, std::string etag, VCard card)
      : CardContact(std::move(card)),
        m_session(std::move(session)),
        m_href(std::move(href)),
        m_etag(std::move(etag)) {}

  const std::string& Href() const override { return m_href; }

  ContactIdentity Identity() override { return {m_href, -1, SavedETag()}; }

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
    Result<HttpResponse> response = m_session->Send(
        "PUT", m_href, {{"If-Match", m_etag}, {"Content-Type", "text/vcard; charset=utf-8"}},
        std::move(*bytes));
    if (!response.Ok()) throw StoreError(subject, response.Message());
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
    ClearChanges();
  }

 private:
  std::shared_ptr<DavSession> m_session;
  std::string m_href;
  std::string m_etag;
  bool m_etag_unknown = false;
};

struct Member {
  std::string href;
  std::string etag;
};

// A card of the batch in hand: its text, or why it did not come.
struct Fetched {
  std::string href;
  std::string etag;
  std::optional<std::string> data;
  std::string problem;
};

// The cards of one address book, fetched a batch at a time as the walk reaches them.
class CardDavItems : public ItemCursor {
 public:
  // With `recorded` the members' ETags are those an update wrote: a card whose ETag now differs
  // was changed since, and is not read.
  CardDavItems(std::shared_ptr<DavSession> session, std::string book, std::vector<Member> members,
               bool recorded = false)
      : m_session(std::move(session)),
        m_book(std::move(book)),
        m_members(std::move(members)),
        m_recorded(recorded) {}

  std::unique_ptr<ContactItem> Next() override {
    if (m_ready_next >= m_ready.size()) {
      if (m_next >= m_members.size()) return nullptr;
      FetchBatch();
    }
    Fetched& card = m_ready[m_ready_next++];
    const std::string subject = LastSegment(card.href);
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
    Result<HttpResponse> response = m_session->Send(
        "REPORT", m_book, {{"Depth", "1"}, {"Content-Type", "application/xml; charset=utf-8"}},
        MultigetReport(hrefs));
    if (!response.Ok()) throw StoreError(subject, response.Message());
    if (response.Value().status == 401) throw StoreError(subject, m_session->LoginProblem());
    if (response.Value().status != 207) throw StoreError(subject, ServerSaid(response.Value()));
    Result<std::vector<DavResource>> resources = ParseMultistatus(response.Value().body);
    if (!resources.Ok()) throw StoreError(subject, resources.Message());

    std::unordered_map<std::string, DavResource*> by_path;
    for (DavResource& resource : resources.Value()) {
      by_path[DecodedPath(HrefPath(resource.href, m_book))] = &resource;
    }
    m_ready.reserve(count);
    for (std::size_t i = first; i < first + count; ++i) {
      Member& member = m_members[i];
      Fetched card{std::move(member.href), std::move(member.etag), std::nullopt, {}};
      const auto found = by_path.find(DecodedPath(card.href));
      if (found == by_path.end()) {
        card.problem = "the server did not send it";
      } else if (!found->second->address_data) {
        const long status = found->second->status;
        card.problem = "the server did not send it (" + std::to_string(status) + " " +
                       std::string(HttpStatusText(status)) + ")";
      } else if (m_recorded && !card.etag.empty() && found->second->etag != card.etag) {
        card.problem =
            "it was changed on the server since the update saved it; it is left as it is";
      } else {
        card.data = std::move(found->second->address_data);
        if (!found->second->etag.empty()) card.etag = std::move(found->second->etag);
      }
      m_ready.push_back(std::move(card));
    }
  }

  std::shared_ptr<DavSession> m_session;
  std::string m_book;
  std::vector<Member> m_members;
  std::size_t m_next = 0;
  std::vector<Fetched> m_ready;
  std::size_t m_ready_next = 0;
  bool m_recorded = false;
};

// The address book holding the card at `href`.
std::string BookOf(const std::string& href) {
  const std::size_t slash = href.rfind('/', href.size() > 1 ? href.size() - 2 : 0);
  return slash == std::string::npos ? std::string("/") : href.substr(0, slash + 1);
}

// The cards an undo asks for, in its order: read a book's run of cards at a time, as the update
// met them.
class FoundCards : public ItemCursor {
 public:
  FoundCards(std::shared_ptr<DavSession> session, std::vector<ContactIdentity> identities)
      : m_session(std::move(session)), m_identities(std::move(identities)) {}

  std::unique_ptr<ContactItem> Next() override {
    if (m_left == 0) {
      if (m_next >= m_identities.size()) return nullptr;
      const std::string book = BookOf(m_identities[m_next].where);
      std::vector<Member> members;
      while (m_next < m_identities.size() && BookOf(m_identities[m_next].where) == book) {
        ContactIdentity& identity = m_identities[m_next++];
        members.push_back({std::move(identity.where), std::move(identity.tag)});
      }
      m_left = members.size();
      m_book = std::make_unique<CardDavItems>(m_session, book, std::move(members), true);
    }
    --m_left;
    return m_book->Next();
  }

 private:
  std::shared_ptr<DavSession> m_session;
  std::vector<ContactIdentity> m_identities;
  std::size_t m_next = 0;
  std::unique_ptr<CardDavItems> m_book;
  std::size_t m_left = 0;
};

class FoundFolder : public Folder {
 public:
  FoundFolder(std::shared_ptr<DavSession> session, std::vector<ContactIdentity> identities)
      : m_session(std::move(session)), m_identities(std::move(identities)) {}
  std::string Name() override { return {}; }
  FolderKind Kind() override { return FolderKind::Contacts; }
  std::unique_ptr<ItemCursor> Items() override {
    return std::make_unique<FoundCards>(m_session, std::move(m_identities));
  }
  std::unique_ptr<FolderCursor> Folders() override;

 private:
  std::shared_ptr<DavSession> m_session;
  std::vector<ContactIdentity> m_identities;
};

class NoFolders : public FolderCursor {
 public:
  std::unique_ptr<Folder> Next() override { return nullptr; }
};

class CardDavBook : public Folder {
 public:
  CardDavBook(std::shared_ptr<DavSession> session, std::string path, std::string name)
      : m_session(std::move(session)), m_path(std::move(path)), m_name(std::move(name)) {}

  std::string Name() override { return m_name; }
  FolderKind Kind() override { return FolderKind::Contacts; }

  std::unique_ptr<ItemCursor> Items() override {
    Result<std::vector<DavResource>> listed = m_session->Propfind(m_path, 1, ListingPropfind());
    if (!listed.Ok()) throw StoreError(m_name, listed.Message());
    const std::string self = DecodedPath(m_path);
    std::vector<Member> members;
    for (DavResource& resource : listed.Value()) {
      std::string path = HrefPath(resource.href, m_path);
      if (resource.collection || DecodedPath(path) == self) continue;
      members.push_back({std::move(path), std::move(resource.etag)});
    }
    std::sort(members.begin(), members.end(),
              [](const Member& a, const Member& b) { return a.href < b.href; });
    return std::make_unique<CardDavItems>(m_session, m_path, std::move(members));
  }

  std::unique_ptr<FolderCursor> Folders() override { return std::make_unique<NoFolders>(); }

 private:
  std::shared_ptr<DavSession> m_session;
  std::string m_path;
  std::string m_name;
};

std::unique_ptr<FolderCursor> FoundFolder::Folders() {
  return std::make_unique<NoFolders>();
}

class BookCursor : public FolderCursor {
 public:
  BookCursor(std::shared_ptr<DavSession> session, std::vector<DavResource> books)
      : m_session(std::move(session)), m_books(std::move(books)) {}
  std::unique_ptr<Folder> Next() override {
    if (m_next >= m_books.size()) return nullptr;
    const DavResource& book = m_books[m_next++];
    return std::make_unique<CardDavBook>(
        m_session, book.href, book.displayname.empty() ? LastSegment(book.href) : book.displayname);
  }

 private:
  std::shared_ptr<DavSession> m_session;
  std::vector<DavResource> m_books;
  std::size_t m_next = 0;
};

class CardDavStore : public ContactStore {
 public:
  explicit CardDavStore(std::shared_ptr<DavSession> session) : m_session(std::move(session)) {}

  Status Open() override {
    m_session->AllowMoving(true);
    const std::string start = m_session->Url().path;
    Result<std::vector<DavResource>> books = Discover(start);
    const long status = m_session->LastStatus();
    if (!books.Ok() && status == 0) {
      m_session->AllowMoving(false);
      return Status::Failure("Could not reach " + m_session->Url().host + ": " + books.Message(),
                             books.Message());
    }
    std::string reason = books.Ok() ? std::string() : books.Message();
    if (!books.Ok() && status == 404 && start != "/") {
      // A path mistyped: the books the server has for this login are what the user needs.
      reason = "there is no address book at " + start + " (" + reason + ")" + BooksOnServer();
    }
    m_session->AllowMoving(false);
    if (!books.Ok()) {
      return Status::Failure("Cannot open the address books at " + Address() + ": " + reason,
                             reason);
    }
    m_books = std::move(books.Value());
    return {};
  }

  std::string CurrentUser() override {
    const DavUrl& url = m_session->Url();
    return url.user.empty() ? url.host : url.user + "@" + url.host;
  }

  std::unique_ptr<FolderCursor> Folders() override {
    return std::make_unique<BookCursor>(m_session, m_books);
  }

  std::vector<StoreNote> TakeNotes() override { return m_session->TakeNotes(); }

  StoreIdentity Identity() override {
    const DavUrl& url = m_session->Url();
    const std::string user = url.user.empty() ? std::string() : url.user + "@";
    const std::string origin = url.Origin();
    const std::size_t host = origin.find("://") + 3;
    return {"CardDAV", origin.substr(0, host) + user + origin.substr(host) + url.path};
  }

  std::unique_ptr<Folder> FindContacts(std::vector<ContactIdentity> identities) override {
    return std::make_unique<FoundFolder>(m_session, std::move(identities));
  }

 private:
  std::string Address() const { return m_session->Url().With(m_session->Url().path); }

  // The resource a Depth 0 PROPFIND of `path` found, or why there is none; `status` the
  // server's status, 0 when none came.
  Result<DavResource> Describe(const std::string& path, long& status) {
    Result<std::vector<DavResource>> found = m_session->Propfind(path, 0, DiscoveryPropfind());
    status = m_session->LastStatus();
    if (!found.Ok()) return Result<DavResource>::Failure(found.Message());
    if (found.Value().empty()) return Result<DavResource>::Failure("the server described nothing");
    DavResource resource = std::move(found.Value().front());
    resource.href = HrefPath(resource.href, path);
    return resource;
  }

  // "; the server has: https://host/user/work/ (Work), ...", or why none were found there.
  std::string BooksOnServer() {
    Result<std::vector<DavResource>> found = Discover("/");
    if (!found.Ok()) return "; none was found from the server's root either";
    std::string list = "; the server has: ";
    for (const DavResource& book : found.Value()) {
      if (&book != &found.Value().front()) list += ", ";
      list += m_session->Url().With(book.href);
      if (!book.displayname.empty()) list += " (" + book.displayname + ")";
    }
    return list;
  }

  // Finds the address books from `start` (the address given), as a client of a server it knows
  // nothing about: the address itself, else its principal's address book home, else the well-known
  // address's.
  Result<std::vector<DavResource>> Discover(const std::string& start) {
    using Found = Result<std::vector<DavResource>>;
    long status = 0;
    Result<DavResource> described = Describe(start, status);
    // A login refused or a server not reached ends it; another refusal may be the path's alone.
    if (!described.Ok() && (status == 0 || status == 401 || start != "/")) {
      return Found::Failure(described.Message());
    }
    DavResource self;
    if (described.Ok()) {
      self = std::move(described.Value());
      if (self.addressbook) return std::vector<DavResource>{std::move(self)};
    }
    std::string home = self.home_set;
    std::string principal = self.principal;
    if (home.empty() && principal.empty() && start == "/") {
      Result<DavResource> known = Describe("/.well-known/carddav", status);
      if (!known.Ok() && (status == 0 || status == 401 || !described.Ok())) {
        return Found::Failure(known.Message());
      }
      if (known.Ok()) {
        home = known.Value().home_set;
        principal = known.Value().principal;
      }
    }
    if (home.empty() && !principal.empty()) {
      principal = HrefPath(principal, start);
      Result<DavResource> user = Describe(principal, status);
      if (!user.Ok()) return Found::Failure(user.Message());
      if (user.Value().addressbook) return std::vector<DavResource>{std::move(user.Value())};
      home = user.Value().home_set;
    }
    // An address given that is neither a book nor points to one may be the home itself.
    home = home.empty() ? start : HrefPath(home, start);
    Result<std::vector<DavResource>> listed = m_session->Propfind(home, 1, DiscoveryPropfind());
    if (!listed.Ok()) return Found::Failure(listed.Message());
    std::vector<DavResource> books;
    for (DavResource& resource : listed.Value()) {
      if (!resource.addressbook) continue;
      resource.href = HrefPath(resource.href, home);
      books.push_back(std::move(resource));
    }
    if (books.empty()) return Found::Failure("the server holds no address book there");
    std::sort(books.begin(), books.end(),
              [](const DavResource& a, const DavResource& b) { return a.href < b.href; });
    return books;
  }

  std::shared_ptr<DavSession> m_session;
  std::vector<DavResource> m_books;
};

}  // namespace

Result<std::unique_ptr<ContactStore>> MakeCardDavStore(std::string_view url,
                                                       CardDavSettings settings) {
  Result<DavUrl> parsed = ParseDavUrl(url);
  if (!parsed.Ok()) return Result<std::unique_ptr<ContactStore>>::Failure(parsed.Message());
  return std::unique_ptr<ContactStore>(std::make_unique<CardDavStore>(
      std::make_shared<DavSession>(std::move(parsed.Value()), std::move(settings))));
}

}  // namespace dialmend
