#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "contacts/contact_store.h"
#include "tests/contacts/store_contract.h"
#include "tests/fakes/dav_server.h"
#include "tests/stores/carddav/dav_test_client.h"

// The contract for the CardDAV store, against a Radicale server of its own on 127.0.0.1.

namespace dialmend {
namespace {

namespace fs = std::filesystem;

// The profile of every store's contract as one address book: a server's books hold no
// folders, and there is no calendar among them.
struct CardDavTraits : NumbersOnlyTraits {
  static constexpr bool kOneFolder = true;
  std::unique_ptr<ContactStore> Make(const fs::path&) {
    server = std::make_unique<DavServer>(DavServerKind::Radicale);
    server->AddRadicaleBook("work", "Work");
    server->AddRadicaleCard(
        "work", "a-riverside.vcf",
        "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:a-riverside\r\nFN:Riverside Dental\r\n"
        "TEL;TYPE=CELL:0370 123456\r\nTEL;TYPE=HOME,VOICE:0171 930 8890\r\nEND:VCARD\r\n");
    server->AddRadicaleCard("work", "b-team.vcf",
                            "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:b-team\r\nFN:Team\r\n"
                            "X-ADDRESSBOOKSERVER-KIND:group\r\nEND:VCARD\r\n");
    std::string why;
    EXPECT_TRUE(server->Start(why)) << why;
    return Store(server->Url() + "/user/", Settings(*server));
  }
  ContactStore& Reread(std::unique_ptr<ContactStore>& store, const fs::path&) {
    store = Store(server->Url() + "/user/", Settings(*server));
    return *store;
  }
  std::unique_ptr<DavServer> server;
};

INSTANTIATE_TYPED_TEST_SUITE_P(CardDav, StoreContract, CardDavTraits);

}  // namespace
}  // namespace dialmend
