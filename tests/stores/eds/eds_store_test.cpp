#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#ifdef DIALMEND_TEST_QTHREAD
#include <QThread>
#endif

#include "run/undo_record.h"
#include "stores/carddav/curl_http_client.h"
#include "stores/eds/eds_store.h"
#include "stores/profile/open_profile.h"
#include "tests/contacts/store_contract.h"
#include "tests/fakes/dav_server.h"
#include "tests/fakes/quiet_run.h"
#include "tests/fakes/test_folder.h"
#include "tests/stores/eds/eds_test_book.h"

// The EDS store against the real EDS of a private session bus (with_eds.sh): books on this
// computer made by the tests, and books kept for a CardDAV server the tests start.

namespace dialmend {
namespace {

namespace fs = std::filesystem;

// A source UID no other test of the session uses.
std::string NewUid() {
  static int made = 0;
  return std::string(testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
         std::to_string(++made);
}

// The profile of every store's contract, as one book: EDS has no folders within a book.
struct EdsTraits : NumbersOnlyTraits {
  static constexpr bool kOneFolder = true;
  std::unique_ptr<ContactStore> Make(const fs::path&) {
    book = std::make_unique<TestBook>(NewUid(), "Work");
    book->Save(
        {"BEGIN:VCARD\r\nVERSION:3.0\r\nUID:a-riverside\r\nFN:Riverside Dental\r\n"
         "TEL;TYPE=CELL:0370 123456\r\nTEL;TYPE=HOME,VOICE:0171 930 8890\r\nEND:VCARD\r\n",
         "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:b-team\r\nFN:Team\r\nX-EVOLUTION-LIST:TRUE\r\n"
         "END:VCARD\r\n"});
    return MakeEdsStore({"Work"});
  }
  static ContactStore& Reread(std::unique_ptr<ContactStore>& store, const fs::path&) {
    store = MakeEdsStore({"Work"});
    return *store;
  }
  std::unique_ptr<TestBook> book;
};

INSTANTIATE_TYPED_TEST_SUITE_P(Eds, StoreContract, EdsTraits);

constexpr const char* kAnn =
    "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:ann\r\nFN:Ann Smith\r\nNOTE:Keeps  two spaces\\, and "
    "this\r\nTEL;TYPE=HOME:0171 930 8890\r\nTEL;TYPE=WORK:(020) 7946 0190\r\nEND:VCARD\r\n";
constexpr const char* kBob =
    "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:bob\r\nFN:Bob Jones\r\nTEL;TYPE=CELL:0370 123456\r\n"
    "END:VCARD\r\n";

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  return at == std::string::npos ? "(no " + from + ")" : text.replace(at, from.size(), to);
}

// The card without its REV line, which EDS sets at each save.
std::string WithoutRev(std::string card) {
  const std::size_t rev = card.find("\nREV:");
  return rev == std::string::npos ? card : card.erase(rev + 1, card.find('\n', rev + 1) - rev);
}

TEST(EdsStore, UpdatesOnlyTheTelValuesOfABookAndTheUndoPutsThemBack) {
  TestBook book(NewUid(), "Mine");
  book.Save({kAnn, kBob});
  const std::string ann = book.Text("ann");
  const std::string bob = book.Text("bob");
  const fs::path runs = FreshTestFolder("eds") / "runs";
  ProfileChoice store = OpenProfile("eds:Mine", SystemEnvironment());
  ASSERT_TRUE(store.Ok()) << store.Message();

  const QuietRun update = RunQuietly(*store.Value(), NumberOptions{}, runs.string());
  EXPECT_EQ(update.counters.updated, 2) << update.log;
  EXPECT_EQ(update.counters.problems, 0);
  EXPECT_EQ(WithoutRev(book.Text("ann")),
            Replaced(WithoutRev(ann), "E164=01719308890;TYPE=HOME:0171 930 8890",
                     "E164=02079308890;TYPE=HOME:(020) 7930 8890"));
  EXPECT_EQ(WithoutRev(book.Text("bob")),
            Replaced(WithoutRev(bob), "0370123456;TYPE=CELL:0370 123456",
                     "07770123456;TYPE=CELL:(07770) 123456"));

  const Result<UndoRecord> record = ReadUndoRecord(fs::begin(fs::directory_iterator(runs))->path());
  ASSERT_TRUE(record.Ok()) << record.Message();
  const QuietRun undo = UndoQuietly(*store.Value(), record.Value(), true);
  EXPECT_EQ(undo.counters.updated, 2) << undo.log;
  EXPECT_EQ(WithoutRev(book.Text("ann")), WithoutRev(ann));
  EXPECT_EQ(WithoutRev(book.Text("bob")), WithoutRev(bob));
}

TEST(EdsStore, LeavesACardAnotherProgramChangedBeforeItsBatchIsWritten) {
  TestBook book(NewUid(), "Mine");
  book.Save({kAnn});
  const auto store = MakeEdsStore({"Mine"});
  ASSERT_TRUE(store->Open().Ok());
  const auto folder = store->Folders()->Next();
  const auto items = folder->Items();
  const auto ann = items->Next();
  ann->SetPhone(0, "(020) 7930 8890");
  ann->Save();
  book.Save({Replaced(kAnn, "0171 930 8890", "0171 111 2222")}, true);
  const std::vector<Folder::FlushFailure> failures = folder->Flush();
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(failures[0].reason,
            "another program changed it since it was read; it is left as it is");
  EXPECT_NE(book.Text("ann").find("TYPE=HOME:0171 111 2222"), std::string::npos);
}

// EDS's book for the address book of a Xandikos the test starts, which holds Ann and Bob.
class EdsOnServer : public testing::Test {
 protected:
  void SetUp() override {
    if (const std::string missing = DavServer::Missing(DavServerKind::Xandikos); !missing.empty()) {
      if (std::getenv("CI") != nullptr) FAIL() << missing;
      GTEST_SKIP() << missing;
    }
    std::string why;
    ASSERT_TRUE(m_server.Start(why)) << why;
    ASSERT_EQ(Send("PUT", "ann.vcf", kAnn).status, 201);
    ASSERT_EQ(Send("PUT", "bob.vcf", kBob).status, 201);
  }
  HttpResponse Send(const std::string& method, const std::string& card, std::string body = {}) {
    Result<HttpResponse> answer =
        m_http->Send({method, Url() + card, {{"Content-Type", "text/vcard"}}, std::move(body)});
    EXPECT_TRUE(answer.Ok()) << answer.Message();
    return answer.Ok() ? answer.Value() : HttpResponse{};
  }
  std::string Url() const { return m_server.Url(false) + "/user/contacts/addressbook/"; }

  DavServer m_server{DavServerKind::Xandikos};
  std::unique_ptr<HttpClient> m_http = MakeCurlClient({});
};

TEST_F(EdsOnServer, UpdatesTheServerAndLeavesACardChangedThereSinceEdsReadIt) {
  TestBook book(NewUid(), "Server", Url());
  ASSERT_NE(book.Text("ann"), "");
  ASSERT_NE(book.Text("bob"), "");
  const std::string bob = Replaced(kBob, "0370 123456", "0370 654321");
  ASSERT_EQ(Send("PUT", "bob.vcf", bob).status / 100, 2);
  // On a thread of its own whose GLib context nobody dispatches: a Qt thread's, where Qt
  // builds with GLib.
  QuietRun run;
  const auto update = [&run] {
    run = RunQuietly(*MakeEdsStore({"Server"}), NumberOptions{}, true);
  };
#ifdef DIALMEND_TEST_QTHREAD
  const std::unique_ptr<QThread> thread(QThread::create(update));
  thread->start();
  thread->wait();
#else
  std::thread(update).join();
#endif
  EXPECT_EQ(run.counters.updated, 1) << run.log;
  EXPECT_EQ(run.counters.problems, 1);
  EXPECT_NE(run.log.find("Could not save \\Server\\Bob Jones: it was changed on the server since "
                         "it was read; it is left as it is\r\n"),
            std::string::npos)
      << run.log;
  const std::string ann = Send("GET", "ann.vcf").body;
  EXPECT_NE(ann.find(":(020) 7930 8890\r\n"), std::string::npos) << ann;
  // EDS would send the old number's digits in its own parameter beside the new number.
  EXPECT_EQ(ann.find("01719308890"), std::string::npos) << ann;
  EXPECT_EQ(Send("GET", "bob.vcf").body, bob);
}

TEST_F(EdsOnServer, RefusesABookItCannotWriteWithoutRiskToTheServersCards) {
  const auto refused = [this](const std::string& name, bool avoid_ifmatch) {
    TestBook book(NewUid(), name, Url(), avoid_ifmatch);
    EdsSettings settings{name};
    settings.connect_seconds = 2;
    const QuietRun run = RunQuietly(*MakeEdsStore(settings), NumberOptions{}, true);
    EXPECT_EQ(run.counters.problems, 1) << run.log;
    EXPECT_EQ(run.counters.checked, 0);
    return run.log;
  };
  EXPECT_NE(refused("Avoiding", true)
                .find("Could not read folder \\Avoiding: EDS is set to save its "
                      "cards on the server without If-Match"),
            std::string::npos);
  EXPECT_EQ(Send("GET", "ann.vcf").body, kAnn);
  m_server.Kill();
  EXPECT_NE(refused("Offline", false)
                .find("Could not read folder \\Offline: EDS is not connected "
                      "to its server"),
            std::string::npos);
}

}  // namespace
}  // namespace dialmend
