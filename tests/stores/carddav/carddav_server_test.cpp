#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "contacts/contact_store.h"
#include "engine/number_options.h"
#include "stores/carddav/carddav_store.h"
#include "stores/carddav/curl_http_client.h"
#include "tests/fakes/dav_server.h"
#include "tests/fakes/quiet_run.h"
#include "tests/stores/carddav/dav_test_client.h"

// The CardDAV store against real servers, each started by its test on the loopback address.

namespace dialmend {
namespace {

constexpr const char* kAnn =
    "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:ann\r\nFN:Ann Smith\r\nN:Smith;Ann;;;\r\n"
    "NOTE:Keeps  two spaces\\, and this\r\nTEL;TYPE=HOME:0171 930 8890\r\n"
    "EMAIL:ann@example.org\r\nEND:VCARD\r\n";
constexpr const char* kAnnOld = "0171 930 8890";
constexpr const char* kAnnNew = "(020) 7930 8890";
constexpr const char* kBob =
    "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:bob\r\nFN:Bob Jones\r\nN:Jones;Bob;;;\r\n"
    "TEL;TYPE=WORK:(020) 7946 0190\r\nEND:VCARD\r\n";
constexpr const char* kCat =
    "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:cat\r\nFN:Cat Brown\r\nN:Brown;Cat;;;\r\n"
    "TEL;TYPE=CELL:01632 960123\r\nEND:VCARD\r\n";

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  text.replace(text.find(from), from.size(), to);
  return text;
}

// The test's own look at the server, past the store.
class Direct {
 public:
  explicit Direct(const DavServer& server, std::string ca_file = {}) : m_base(server.Url(false)) {
    CurlSettings settings;
    settings.ca_file = std::move(ca_file);
    m_http = MakeCurlClient(settings);
    m_http->SetLogin(DavServer::kUser, SecretText(DavServer::kPassword));
  }
  HttpResponse Send(const std::string& method, const std::string& path, std::string body = {},
                    std::vector<HttpHeader> headers = {}) {
    Result<HttpResponse> response =
        m_http->Send({method, m_base + path, std::move(headers), std::move(body)});
    EXPECT_TRUE(response.Ok()) << response.Message();
    return response.Ok() ? std::move(response.Value()) : HttpResponse{};
  }
  std::string Get(const std::string& path) { return Send("GET", path).body; }
  std::string ETag(const std::string& path) {
    const HttpResponse response = Send("GET", path);
    return response.Header("ETag") != nullptr ? *response.Header("ETag") : std::string();
  }
  long Put(const std::string& path, const std::string& card) {
    return Send("PUT", path, card, {{"Content-Type", "text/vcard"}}).status;
  }

 private:
  std::string m_base;
  std::unique_ptr<HttpClient> m_http;
};

std::vector<std::string> FolderNames(ContactStore& store) {
  std::vector<std::string> names;
  const std::unique_ptr<FolderCursor> folders = store.Folders();
  while (std::unique_ptr<Folder> folder = folders->Next()) names.push_back(folder->Name());
  return names;
}

// The first card of the folder named `name`, and the folder, kept alive together.
struct Opened {
  std::unique_ptr<Folder> folder;
  std::unique_ptr<ItemCursor> items;
  std::unique_ptr<ContactItem> item;
};
Opened FirstCard(ContactStore& store, const std::string& name = "Work") {
  Opened opened;
  const std::unique_ptr<FolderCursor> folders = store.Folders();
  while ((opened.folder = folders->Next())) {
    if (opened.folder->Name() == name) break;
  }
  if (!opened.folder) return opened;
  opened.items = opened.folder->Items();
  opened.item = opened.items->Next();
  return opened;
}

// Ann's card from the Work book, given her new number and not yet saved.
Opened AnnChanged(ContactStore& store) {
  Opened ann = FirstCard(store);
  EXPECT_TRUE(ann.item);
  if (ann.item) ann.item->SetPhone(0, kAnnNew);
  return ann;
}

class RadicaleStore : public testing::Test {
 protected:
  explicit RadicaleStore(DavServerKind kind = DavServerKind::Radicale) : m_server(kind) {}

  void SetUp() override {
    if (const std::string missing = DavServer::Missing(Kind()); !missing.empty()) {
      // CI installs the servers, so there a missing one is a failure, never a skip.
      if (std::getenv("CI") != nullptr) FAIL() << missing;
      GTEST_SKIP() << missing;
    }
    m_server.AddRadicaleBook("work", "Work");
    m_server.AddRadicaleCard("work", "ann.vcf", kAnn);
    m_server.AddRadicaleCard("work", "bob.vcf", kBob);
    m_server.AddRadicaleBook("home", "Home");
    m_server.AddRadicaleCard("home", "cat.vcf", kCat);
    Prepare();
    std::string why;
    ASSERT_TRUE(m_server.Start(why)) << why;
  }
  virtual DavServerKind Kind() const { return DavServerKind::Radicale; }
  virtual void Prepare() {}

  // The store at `path` on the server, opened.
  std::unique_ptr<ContactStore> OpenStore(const std::string& path, CardDavSettings settings) {
    auto store = Store(m_server.Url() + path, std::move(settings));
    const Status opened = store->Open();
    EXPECT_TRUE(opened.Ok()) << opened.Message();
    return store;
  }
  std::unique_ptr<ContactStore> OpenStore(const std::string& path, Spy* spy = nullptr) {
    return OpenStore(path, Settings(m_server, spy));
  }
  // Puts a card of Ann changed by another program on the server; gives what the server holds.
  std::string ChangeAnnElsewhere(const std::string& from) {
    Direct direct(m_server);
    EXPECT_EQ(direct.Put("/user/work/ann.vcf", Replaced(from, "Keeps", "Changed, keeps")) / 100, 2);
    return direct.Get("/user/work/ann.vcf");
  }

  DavServer m_server;
};

class RadicaleStart : public RadicaleStore, public testing::WithParamInterface<const char*> {};

TEST_P(RadicaleStart, FindsTheAddressBooksFromTheRootThePrincipalOrABook) {
  const std::string start = GetParam();
  auto store = OpenStore(start);
  const std::vector<std::string> books = start == "/user/work/"
                                             ? std::vector<std::string>{"Work"}
                                             : std::vector<std::string>{"Home", "Work"};
  EXPECT_EQ(FolderNames(*store), books);
  EXPECT_EQ(store->CurrentUser(), "user@127.0.0.1");
}

INSTANTIATE_TEST_SUITE_P(Addresses, RadicaleStart, testing::Values("/", "/user/", "/user/work/"));

// A front server, answered by the spy, whose /.well-known/carddav sends the client on to the
// real one; nothing else is there. Plain HTTP follows it; TLS never follows it to plain HTTP.
TEST_F(RadicaleStore, FollowsTheWellKnownAddressToAnotherServerButNeverFromTlsToPlainHttp) {
  for (const std::string scheme : {"http", "https"}) {
    SCOPED_TRACE(scheme);
    Spy spy;
    const std::string front = scheme + "://127.0.0.1:1";
    const std::string target = m_server.Url(false) + "/user/";
    spy.before = [front, target](const HttpRequest& request) -> std::optional<HttpResponse> {
      if (!request.url.starts_with(front)) return std::nullopt;
      if (request.url == front + "/.well-known/carddav") {
        return HttpResponse{301, "Moved Permanently", {{"Location", target}}, {}, request.url};
      }
      return HttpResponse{404, "Not Found", {}, {}, request.url};
    };
    auto store = Store(scheme + "://user@127.0.0.1:1/", Settings(m_server, &spy));
    const Status opened = store->Open();
    if (scheme == "https") {
      EXPECT_NE(opened.Message().find("without TLS; it is not followed"), std::string::npos)
          << opened.Message();
      for (const HttpRequest& request : spy.requests) EXPECT_TRUE(request.url.starts_with(front));
      continue;
    }
    ASSERT_TRUE(opened.Ok()) << opened.Message();
    EXPECT_EQ(FolderNames(*store), (std::vector<std::string>{"Home", "Work"}));
    const QuietRun run = RunQuietly(*store, NumberOptions{}, false);
    EXPECT_EQ(run.counters.checked, 3) << run.log;
  }
}

class RadicaleChangedElsewhere : public RadicaleStore, public testing::WithParamInterface<bool> {};

// Read by the walk, or (true) found again by an undo after its save.
TEST_P(RadicaleChangedElsewhere, LeavesACardChangedOnTheServerSinceItWasRead) {
  auto store = OpenStore("/user/work/");
  Opened ann = AnnChanged(*store);
  ASSERT_TRUE(ann.item);
  if (GetParam()) {
    ann.item->Save();
    const ContactIdentity saved = ann.item->Identity();
    ann.item.reset();
    ann.items.reset();
    ann.folder = store->FindContacts({saved});
    ann.items = ann.folder->Items();
    ann.item = ann.items->Next();
    ASSERT_TRUE(ann.item);
    ann.item->RestorePhone(0, kAnnOld, {});
  }
  const std::string on_server = ChangeAnnElsewhere(Direct(m_server).Get("/user/work/ann.vcf"));
  try {
    ann.item->Save();
    ADD_FAILURE() << "a card changed on the server was overwritten";
  } catch (const StoreError& error) {
    EXPECT_EQ(error.Subject(), "ann.vcf");
    EXPECT_NE(error.Reason().find("changed on the server"), std::string::npos) << error.Reason();
  }
  EXPECT_EQ(Direct(m_server).Get("/user/work/ann.vcf"), on_server);
}

INSTANTIATE_TEST_SUITE_P(Found, RadicaleChangedElsewhere, testing::Bool());

class RadicaleUndo : public RadicaleStore, public testing::WithParamInterface<bool> {};

// Found by the version noted after the save, or (a run killed between the PUT and that note) by
// the one read before it, whose card the undo judges by its numbers.
TEST_P(RadicaleUndo, FindsWhatItSavedByPathAndETagAndPutsItBack) {
  auto store = OpenStore("/user/work/");
  EXPECT_EQ(store->Identity(), (StoreIdentity{"CardDAV", m_server.Url() + "/user/work/"}));
  Opened saved = AnnChanged(*store);
  const ContactIdentity before = saved.item->Identity();
  saved.item->Save();
  const ContactIdentity after = saved.item->Identity();
  Direct direct(m_server);
  EXPECT_EQ(after, (ContactIdentity{"/user/work/ann.vcf", -1, direct.ETag("/user/work/ann.vcf")}));

  std::unique_ptr<Folder> found = store->FindContacts({GetParam() ? after : before});
  ASSERT_NE(found, nullptr);
  std::unique_ptr<ItemCursor> items = found->Items();
  std::unique_ptr<ContactItem> ann = items->Next();
  ASSERT_NE(ann, nullptr);
  ASSERT_EQ(ann->Phones().size(), 1U);
  EXPECT_EQ(ann->Phones()[0].number, kAnnNew);
  const std::string updated = direct.Get("/user/work/ann.vcf");
  ann->RestorePhone(0, kAnnOld, {});
  ann->Save();
  EXPECT_EQ(items->Next(), nullptr);
  // Radicale gives its own order of lines; only the number differs.
  EXPECT_EQ(direct.Get("/user/work/ann.vcf"), Replaced(updated, kAnnNew, kAnnOld));
}

INSTANTIATE_TEST_SUITE_P(Noted, RadicaleUndo, testing::Bool());

TEST_F(RadicaleStore, FindsNoCardChangedSinceItWasSaved) {
  auto store = OpenStore("/user/work/");
  Opened ann = AnnChanged(*store);
  ann.item->Save();
  const ContactIdentity saved = ann.item->Identity();
  const std::string on_server = ChangeAnnElsewhere(Direct(m_server).Get("/user/work/ann.vcf"));

  std::unique_ptr<ItemCursor> items = store->FindContacts({saved})->Items();
  try {
    (void)items->Next();
    ADD_FAILURE() << "a card changed since it was saved was found";
  } catch (const ContactChangedError& error) {
    EXPECT_EQ(error.Subject(), "ann.vcf");
    EXPECT_EQ(error.Reason(), "it was changed on the server since the update");
  }
  EXPECT_EQ(items->Next(), nullptr);
  EXPECT_EQ(Direct(m_server).Get("/user/work/ann.vcf"), on_server);
}

TEST_F(RadicaleStore, AsksForTheETagOfWhatItSavedWhenTheAnswerHadNone) {
  Spy spy;
  spy.after = [](const HttpRequest& request, HttpResponse& response) {
    if (request.method != "PUT") return;
    std::erase_if(response.headers, [](const HttpHeader& header) { return header.name == "ETag"; });
  };
  auto store = OpenStore("/user/work/", &spy);
  Opened ann = AnnChanged(*store);
  ann.item->Save();
  const std::size_t sent = spy.requests.size();
  auto* card = dynamic_cast<CardDavCard*>(ann.item.get());
  ASSERT_NE(card, nullptr);
  Direct direct(m_server);
  EXPECT_EQ(card->SavedETag(), direct.ETag("/user/work/ann.vcf"));
  EXPECT_EQ(spy.requests.size(), sent + 1);
  EXPECT_EQ(spy.requests.back().method, "PROPFIND");
  // Asked once: the answer is kept.
  EXPECT_EQ(card->SavedETag(), direct.ETag("/user/work/ann.vcf"));
  EXPECT_EQ(spy.requests.size(), sent + 1);
}

struct LoginRow {
  const char* name;
  // The password ~/.netrc holds, the one typed at the prompt (nullptr: nobody to ask), and a
  // part of the one line that says why the store cannot open (nullptr: it opens).
  const char* in_netrc;
  const char* typed;
  const char* said;
  // What is typed when asked again (nullptr: the first answer again), and how often it is asked.
  const char* typed_again;
  std::size_t asks;
};

class RadicaleLogin : public RadicaleStore, public testing::WithParamInterface<LoginRow> {};

TEST_P(RadicaleLogin, OpensWithThePasswordFoundElseSaysWhyInOneLineThatNeverShowsIt) {
  const LoginRow& row = GetParam();
  CardDavSettings settings = Settings(m_server);
  if (row.in_netrc != nullptr) {
    settings.netrc_file = (m_server.Dir() / "netrc").string();
    std::ofstream(settings.netrc_file) << "machine 127.0.0.1 login user password " << row.in_netrc;
  }
  settings.ask_password = nullptr;
  std::vector<std::string> prompts;
  if (row.typed != nullptr) {
    settings.ask_password = [&](const std::string& prompt) {
      prompts.push_back(prompt);
      const bool again = prompts.size() > 1 && row.typed_again != nullptr;
      return std::optional<std::string>(again ? row.typed_again : row.typed);
    };
  }
  const Status opened = Store(m_server.Url() + "/", settings)->Open();
  EXPECT_EQ(prompts.size(), row.asks);
  if (prompts.size() > 1) {
    EXPECT_EQ(prompts[1],
              "Password for user at " + m_server.Url(false) + " (refused; try 2 of 3): ");
  }
  EXPECT_EQ(opened.Ok(), row.said == nullptr) << opened.Message();
  if (row.said != nullptr) {
    EXPECT_NE(opened.Message().find(row.said), std::string::npos) << opened.Message();
  }
  EXPECT_EQ(opened.Message().find("not-the-pw"), std::string::npos);
  EXPECT_EQ(opened.Message().find('\n'), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Logins, RadicaleLogin,
                         testing::Values(LoginRow{"WrongPasswordTyped", nullptr, "not-the-pw",
                                                  "refused the password for user (from the "
                                                  "prompt, 3 times): check the user name",
                                                  nullptr, 3},
                                         LoginRow{"RightPasswordTypedWhenAskedAgain", "not-the-pw",
                                                  "not-the-pw", nullptr, DavServer::kPassword, 2},
                                         LoginRow{"NoPasswordFound", nullptr, nullptr, "~/.netrc",
                                                  nullptr, 0},
                                         LoginRow{"NetrcBeforeThePrompt", DavServer::kPassword,
                                                  "not-the-pw", nullptr, nullptr, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(RadicaleStore, AServerThatStopsGivesOneLinePerFailureAndNoHang) {
  Spy spy;
  std::size_t reports = 0;
  spy.before = [&](const HttpRequest& request) -> std::optional<HttpResponse> {
    // After the first card is read, the server goes away.
    if (request.method != "REPORT" && reports == 1) m_server.Kill();
    if (request.method == "REPORT") ++reports;
    return std::nullopt;
  };
  CardDavSettings settings = Settings(m_server, &spy);
  settings.batch_size = 1;
  auto store = Store(m_server.Url() + "/", settings);
  const QuietRun run = RunQuietly(*store, NumberOptions{}, true);
  // Home comes first: its one card is read, then its save fails, then Work's listing.
  EXPECT_EQ(run.counters.problems, 2) << run.log;
  EXPECT_NE(run.log.find("Could not save \\Home\\Cat Brown: "), std::string::npos) << run.log;
  EXPECT_NE(run.log.find("Could not read folder \\Work: "), std::string::npos) << run.log;
  EXPECT_EQ(run.log.find(DavServer::kPassword), std::string::npos);
}

struct BusyRow {
  const char* name;
  long status;
  const char* retry_after;
  // How many PUTs are answered busy before one goes through.
  int busy;
  // Whether the run stops during the wait.
  bool stopped;
  bool saved;
  std::size_t puts;
};

class BusyServer : public RadicaleStore, public testing::WithParamInterface<BusyRow> {};

TEST_P(BusyServer, IsAskedAgainOnlyAfterAShortWaitTheRunLetsRun) {
  const BusyRow& row = GetParam();
  Spy spy;
  int busy = row.busy;
  spy.before = [&](const HttpRequest& request) -> std::optional<HttpResponse> {
    if (request.method != "PUT" || busy-- <= 0) return std::nullopt;
    return HttpResponse{row.status,
                        std::string(HttpStatusText(row.status)),
                        {{"Retry-After", row.retry_after}},
                        {},
                        request.url};
  };
  CardDavSettings settings = Settings(m_server, &spy);
  if (row.stopped) settings.stop = [&] { return spy.Count("PUT") > 0; };
  auto store = OpenStore("/user/work/", settings);
  Opened ann = AnnChanged(*store);
  bool saved = true;
  try {
    ann.item->Save();
  } catch (const StoreError& error) {
    saved = false;
    EXPECT_NE(error.Reason().find(std::to_string(row.status)), std::string::npos) << error.Reason();
  }
  EXPECT_EQ(saved, row.saved);
  EXPECT_EQ(spy.Count("PUT"), row.puts);
}

INSTANTIATE_TEST_SUITE_P(Answers, BusyServer,
                         testing::Values(BusyRow{"ShortWait", 503, "0", 1, false, true, 2},
                                         BusyRow{"RunStops", 503, "4", 9, true, false, 1},
                                         BusyRow{"LongWait", 429, "3600", 9, false, false, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

class RadicaleManyCards : public RadicaleStore {
 protected:
  // Radicale reads each card once before its first listing of a book answers, about 20 ms a
  // card here: enough cards for several batches, few enough for a test.
  static constexpr int kCards = 500;
  void Prepare() override {
    for (int i = 0; i < kCards; ++i) {
      const std::string id = "many" + std::to_string(i);
      m_server.AddRadicaleCard("many", id + ".vcf",
                               Replaced(Replaced(kAnn, "UID:ann", "UID:" + id), "Ann", id));
    }
    m_server.AddRadicaleBook("many", "Many");
  }
};

TEST_F(RadicaleManyCards, ReadsManyCardsInAFewRequests) {
  Spy spy;
  CardDavSettings settings = Settings(m_server, &spy);
  settings.stall_seconds = 120;
  auto store = Store(m_server.Url() + "/", settings);
  const QuietRun run = RunQuietly(*store, NumberOptions{}, false);
  EXPECT_EQ(run.counters.checked, kCards + 3);
  EXPECT_EQ(run.counters.problems, 0) << run.log;
  // The big book costs one listing and a multiget per hundred cards, and no card its own GET;
  // a simulation sends nothing back.
  std::size_t book_requests = 0;
  for (const HttpRequest& request : spy.requests) {
    book_requests += request.url.ends_with("/user/many/") ? 1 : 0;
  }
  EXPECT_EQ(book_requests, 1U + kCards / 100U);
  EXPECT_EQ(spy.Count("GET"), 0U);
  EXPECT_EQ(spy.Count("PUT"), 0U);
}

class RadicaleReadOnlyBook : public RadicaleStore {
 protected:
  void Prepare() override { m_server.MakeRadicaleBookReadOnly("work"); }
};

TEST_F(RadicaleReadOnlyBook, ARefusedSaveIsOneLineWithTheServersReasonAndTheWalkGoesOn) {
  Direct direct(m_server);
  const std::string ann = direct.Get("/user/work/ann.vcf");
  ASSERT_EQ(direct.Put("/user/home/dan.vcf", Replaced(kAnn, "UID:ann", "UID:dan")) / 100, 2);
  const QuietRun run =
      RunQuietly(*Store(m_server.Url() + "/", Settings(m_server)), NumberOptions{}, true);
  EXPECT_EQ(run.counters.problems, 1) << run.log;
  EXPECT_NE(run.log.find("Could not save \\Work\\Ann Smith: the server said 403 Forbidden "
                         "(Access to the requested resource forbidden.)\r\n"),
            std::string::npos)
      << run.log;
  EXPECT_EQ(direct.Get("/user/work/ann.vcf"), ann);
  EXPECT_NE(direct.Get("/user/home/dan.vcf").find(kAnnNew), std::string::npos);
}

TEST_F(RadicaleStore, AnAddressThatCannotBeOpenedSaysWhyAndWhatToDo) {
  const std::string plain = m_server.Url(false);
  const std::string port = plain.substr(plain.rfind(':'));
  struct Case {
    std::string url;
    std::vector<std::string> said;
  };
  const Case cases[] = {
      {"https://user@127.0.0.1" + port + "/",
       {"Could not reach 127.0.0.1: it answered in plain HTTP on a port asked for HTTPS"}},
      {"http://user@127.0.0.1:1/", {"Could not reach 127.0.0.1: nothing answers there"}},
      {m_server.Url() + "/user/wrok/",
       {"there is no address book at /user/wrok/ (the server said 404",
        "; the server has: " + plain + "/user/home/ (Home), " + plain + "/user/work/ (Work)"}},
      {plain + "/", {"name the user in the address (http://USER@127.0.0.1" + port + "/...)"}},
  };
  for (const Case& c : cases) {
    auto store = Store(c.url, Settings(m_server));
    const Status opened = store->Open();
    ASSERT_FALSE(opened.Ok()) << c.url;
    for (const std::string& said : c.said) {
      EXPECT_NE(opened.Message().find(said), std::string::npos) << opened.Message();
    }
    EXPECT_EQ(opened.Message().find("error:"), std::string::npos) << opened.Message();
  }
}

class RadicaleTlsStore : public RadicaleStore {
 protected:
  RadicaleTlsStore() : RadicaleStore(DavServerKind::RadicaleTls) {}
  DavServerKind Kind() const override { return DavServerKind::RadicaleTls; }
};

TEST_F(RadicaleTlsStore, RefusesACertificateItDoesNotTrustButOpensWithThePrivateCaFile) {
  CardDavSettings settings = Settings(m_server);
  const Status refused = Store(m_server.Url() + "/", settings)->Open();
  ASSERT_FALSE(refused.Ok());
  EXPECT_NE(refused.Message().find("Could not reach 127.0.0.1: its certificate is not trusted "
                                   "(self-signed certificate): for a private certificate "
                                   "authority, give its certificate with --ca-file FILE"),
            std::string::npos)
      << refused.Message();
  settings.ca_file = m_server.CaFile();
  const QuietRun run = RunQuietly(*Store(m_server.Url() + "/", settings), NumberOptions{}, false);
  EXPECT_TRUE(run.profile_failures.empty()) << run.log;
  EXPECT_EQ(run.counters.checked, 3);
}

class XandikosStore : public testing::Test {
 protected:
  void SetUp() override {
    if (const std::string missing = DavServer::Missing(DavServerKind::Xandikos); !missing.empty()) {
      if (std::getenv("CI") != nullptr) FAIL() << missing;
      GTEST_SKIP() << missing;
    }
    std::string why;
    ASSERT_TRUE(m_server.Start(why)) << why;
  }
  DavServer m_server{DavServerKind::Xandikos};
};

TEST_F(XandikosStore, FindsTwoBooksFromTheRootAndRewritesOnlyTelValues) {
  Direct direct(m_server);
  ASSERT_EQ(direct
                .Send("MKCOL", "/user/contacts/friends/",
                      "<?xml version=\"1.0\"?><d:mkcol xmlns:d=\"DAV:\" "
                      "xmlns:c=\"urn:ietf:params:xml:ns:carddav\"><d:set><d:prop><d:resourcetype>"
                      "<d:collection/><c:addressbook/></d:resourcetype><d:displayname>Friends"
                      "</d:displayname></d:prop></d:set></d:mkcol>",
                      {{"Content-Type", "application/xml"}})
                .status,
            201);
  ASSERT_EQ(direct.Put("/user/contacts/addressbook/ann.vcf", kAnn), 201);
  ASSERT_EQ(direct.Put("/user/contacts/friends/cat.vcf", kCat), 201);
  const std::string cat_before = direct.Get("/user/contacts/friends/cat.vcf");

  auto store = Store(m_server.Url() + "/", Settings(m_server));
  ASSERT_TRUE(store->Open().Ok());
  EXPECT_EQ(FolderNames(*store), (std::vector<std::string>{"addressbook", "Friends"}));
  const QuietRun run = RunQuietly(*store, NumberOptions{}, true);
  EXPECT_EQ(run.counters.problems, 0) << run.log;
  EXPECT_EQ(direct.Get("/user/contacts/addressbook/ann.vcf"), Replaced(kAnn, kAnnOld, kAnnNew));
  EXPECT_NE(direct.Get("/user/contacts/friends/cat.vcf"), cat_before);
}

}  // namespace
}  // namespace dialmend
