#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "contacts/phone_field.h"
#include "stores/outlook/outlook_store.h"
#include "tests/contacts/store_contract.h"
#include "tests/stores/outlook/fake_outlook_process.h"

// The Outlook store across a process boundary: the fake Outlook served by a local COM server
// of its own (fake_outlook_server.exe), found by its ProgID, as a real Outlook is. Run on
// Windows or under wine.

namespace dialmend {
namespace {

// A store over the server, which it waits for when busy for `busy_wait_ms`.
std::unique_ptr<ContactStore> ServerStore(std::optional<unsigned long> busy_wait_ms = {}) {
  OutlookStoreOptions options;
  options.prog_id = kFakeOutlookProgId;
  options.busy_wait_ms = busy_wait_ms;
  return MakeOutlookStore(std::move(options));
}

// The store contract through the server, which holds the contract's profile.
struct OutlookServerTraits {
  static constexpr std::size_t kPhoneCount = kPhoneFieldCount;
  static constexpr std::size_t kHomeIndex = static_cast<std::size_t>(PhoneField::Home);
  static constexpr std::size_t kMobileIndex = static_cast<std::size_t>(PhoneField::Mobile);
  std::unique_ptr<ContactStore> Make(const std::filesystem::path&) {
    EXPECT_EQ(server.Failure(), "");
    return ServerStore();
  }
  // The server keeps what was saved: reading it again is a new store over the same server.
  ContactStore& Reread(std::unique_ptr<ContactStore>& store, const std::filesystem::path&) {
    store = ServerStore();
    return *store;
  }
  FakeOutlookServer server;
};

INSTANTIATE_TYPED_TEST_SUITE_P(OutlookServer, StoreContract, OutlookServerTraits);

}  // namespace
}  // namespace dialmend
