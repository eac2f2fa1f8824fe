#include "stores/carddav/carddav_store.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "stores/carddav/carddav_cards.h"
#include "stores/carddav/carddav_session.h"
#include "stores/carddav/dav_url.h"
#include "stores/carddav/dav_xml.h"

namespace dialmend {
namespace {

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
    // Sorted by the names as the user reads them, so the log lists them as a folder store of
    // the same cards would, however the server spells them.
    std::vector<std::pair<std::string, CardMember>> named;
    for (DavResource& resource : listed.Value()) {
      std::string path = HrefPath(resource.href, m_path);
      std::string decoded = DecodedPath(path);
      if (resource.collection || decoded == self) continue;
      named.push_back({std::move(decoded), {std::move(path), std::move(resource.etag)}});
    }
    std::sort(named.begin(), named.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<CardMember> members;
    members.reserve(named.size());
    for (auto& [name, member] : named) members.push_back(std::move(member));
    return CardsOf(m_session, m_path, std::move(members));
  }

  std::unique_ptr<FolderCursor> Folders() override { return std::make_unique<NoFolders>(); }

 private:
  std::shared_ptr<DavSession> m_session;
  std::string m_path;
  std::string m_name;
};

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
    return FoundCards(m_session, std::move(identities));
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
    std::sort(books.begin(), books.end(), [](const DavResource& a, const DavResource& b) {
      return DecodedPath(a.href) < DecodedPath(b.href);
    });
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
