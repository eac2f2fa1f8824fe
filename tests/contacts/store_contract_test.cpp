#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "contacts/contact_store.h"
#include "tests/contacts/store_contract.h"
#include "tests/fakes/memory_store.h"

// The contract for the in-memory store that drives the contacts and run tests.

namespace dialmend {
namespace {

namespace fs = std::filesystem;

// The same profile as every store's: Work (Riverside Dental, a group, Acme in Clients below)
// and a calendar folder.
struct MemoryTraits : NumbersOnlyTraits {
  static std::unique_ptr<ContactStore> Make(const fs::path&) {
    return std::make_unique<MemoryStore>(R"(
folder Work
  contact Riverside Dental
    Home: 0171 930 8890
    Mobile: 0370 123456
  group Team
  folder Clients
    contact Acme
      Business: 01232 123456
folder Calendar [calendar]
)");
  }
  // The memory store is its own storage: reading it again is walking it again.
  static ContactStore& Reread(std::unique_ptr<ContactStore>& store, const fs::path&) {
    return *store;
  }
};

INSTANTIATE_TYPED_TEST_SUITE_P(Memory, StoreContract, MemoryTraits);

}  // namespace
}  // namespace dialmend
