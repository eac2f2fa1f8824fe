#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "contacts/contact_store.h"
#include "contacts/vcard_store.h"
#include "tests/fakes/memory_store.h"

// Every store passes the same contract: the walk relies on nothing else.

namespace dialmend {
namespace {

namespace fs = std::filesystem;

// The same profile in each store: Work (Riverside Dental, a group, Acme in Clients below)
// and a calendar folder.
struct MemoryTraits {
  static std::unique_ptr<ContactStore> Make(const fs::path&) {
    return std::make_unique<MemoryStore>(R"(
folder Work
  contact Riverside Dental
    Home: 0171 930 8890
    Mobile: 0370 123456
  item 69 Team
  folder Clients
    contact Acme
      Business: 01232 123456
folder Calendar [type 1]
)");
  }
  // The memory store is its own storage: reading it again is walking it again.
  static ContactStore& Reread(std::unique_ptr<ContactStore>& store, const fs::path&) {
    return *store;
  }
};

struct VCardTraits {
  static void Write(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
  }
  static std::unique_ptr<ContactStore> Make(const fs::path& root) {
    fs::remove_all(root);
    Write(root / "work" / "displayname", "Work\n");
    Write(root / "work" / "a-riverside.vcf",
          "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Riverside Dental\r\nTEL;TYPE=CELL:0370 123456\r\n"
          "TEL;TYPE=HOME,VOICE:0171 930 8890\r\nEND:VCARD\r\n");
    Write(root / "work" / "b-team.vcf",
          "BEGIN:VCARD\r\nVERSION:4.0\r\nKIND:group\r\nFN:Team\r\nEND:VCARD\r\n");
    Write(root / "work" / "clients" / "displayname", "Clients");
    Write(root / "work" / "clients" / "acme.vcf",
          "BEGIN:VCARD\nVERSION:3.0\nFN:Acme\nTEL;TYPE=WORK:01232 123456\nEND:VCARD\n");
    Write(root / "zz-calendar" / "displayname", "Calendar");
    Write(root / "zz-calendar" / "event.ics", "BEGIN:VCALENDAR\r\nEND:VCALENDAR\r\n");
    Write(root / ".hidden" / "x.vcf", "BEGIN:VCARD\r\nFN:Hidden\r\nEND:VCARD\r\n");
    return MakeVCardStore(root.string());
  }
  static ContactStore& Reread(std::unique_ptr<ContactStore>& store, const fs::path& root) {
    store = MakeVCardStore(root.string());
    return *store;
  }
};

template <class Traits>
class StoreContract : public testing::Test {
 protected:
  void SetUp() override {
    // ctest runs each test in its own process, in parallel: one folder per test.
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    m_root = fs::path(testing::TempDir()) /
             ("contract_" + std::string(info->test_suite_name()) + "_" + info->name());
    m_store = Traits::Make(m_root);
    ASSERT_EQ(m_store->Open(), std::nullopt);
  }
  ContactStore& Reread() {
    ContactStore& store = Traits::Reread(m_store, m_root);
    EXPECT_EQ(store.Open(), std::nullopt);
    return store;
  }
  static std::unique_ptr<Folder> Child(ContactStore& store, std::size_t index) {
    auto folders = store.Folders();
    std::unique_ptr<Folder> folder;
    for (std::size_t i = 0; i <= index; ++i) folder = folders->Next();
    return folder;
  }
  // Riverside Dental, the first item of the first folder.
  static std::unique_ptr<ContactItem> Dental(ContactStore& store) {
    return Child(store, 0)->Items()->Next();
  }
  fs::path m_root;
  std::unique_ptr<ContactStore> m_store;
};

using Stores = testing::Types<MemoryTraits, VCardTraits>;
TYPED_TEST_SUITE(StoreContract, Stores);

TYPED_TEST(StoreContract, WalksFoldersAndItemsInOrderOnce) {
  auto folders = this->m_store->Folders();
  auto work = folders->Next();
  ASSERT_NE(work, nullptr);
  EXPECT_EQ(work->Name(), "Work");
  EXPECT_EQ(work->DefaultItemType(), kContactItemType);
  auto items = work->Items();
  auto first = items->Next();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->Class(), kContactClass);
  EXPECT_EQ(first->FileAs(), "Riverside Dental");
  auto second = items->Next();
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->Class(), kDistributionListClass);
  EXPECT_EQ(items->Next(), nullptr);
  EXPECT_EQ(items->Next(), nullptr);

  auto sub = work->Folders()->Next();
  ASSERT_NE(sub, nullptr);
  EXPECT_EQ(sub->Name(), "Clients");
  EXPECT_EQ(sub->Items()->Next()->FileAs(), "Acme");

  auto calendar = folders->Next();
  ASSERT_NE(calendar, nullptr);
  EXPECT_EQ(calendar->Name(), "Calendar");
  EXPECT_NE(calendar->DefaultItemType(), kContactItemType);
  EXPECT_EQ(folders->Next(), nullptr);
}

TYPED_TEST(StoreContract, GivesPhonesInFieldOrder) {
  const auto phones = this->Dental(*this->m_store)->Phones();
  ASSERT_EQ(phones.size(), 2u);
  EXPECT_EQ(phones[0].field, PhoneField::Home);
  EXPECT_EQ(phones[0].number, "0171 930 8890");
  EXPECT_EQ(phones[1].field, PhoneField::Mobile);
  EXPECT_EQ(phones[1].number, "0370 123456");
}

TYPED_TEST(StoreContract, AssignmentWithoutSaveLeavesTheStoredContact) {
  {
    auto item = this->Dental(*this->m_store);
    item->SetPhone(0, "(020) 7930 8890");
  }
  EXPECT_EQ(this->Dental(this->Reread())->Phones()[0].number, "0171 930 8890");
}

TYPED_TEST(StoreContract, SaveKeepsEveryAssignment) {
  {
    auto item = this->Dental(*this->m_store);
    item->SetPhone(0, "(020) 7930 8890");
    item->SetPhone(1, "(07770) 123456");
    item->Save();
  }
  const auto phones = this->Dental(this->Reread())->Phones();
  ASSERT_EQ(phones.size(), 2u);
  EXPECT_EQ(phones[0].number, "(020) 7930 8890");
  EXPECT_EQ(phones[1].number, "(07770) 123456");
}

TEST(VCardStore, MissingProfileGivesAReason) {
  auto store = MakeVCardStore("/nonexistent/profile");
  const auto reason = store->Open();
  ASSERT_TRUE(reason.has_value());
  EXPECT_NE(reason->find("/nonexistent/profile"), std::string::npos);
}

TEST(VCardStore, UnreadableCardThrowsAndTheCursorMovesOn) {
  const fs::path root = fs::path(testing::TempDir()) / "vcard_bad";
  fs::remove_all(root);
  VCardTraits::Write(root / "book" / "a.vcf", "BEGIN:VCARD\r\nno colon here\r\n");
  VCardTraits::Write(root / "book" / "b.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:B\r\nEND:VCARD\r\n");
  auto store = MakeVCardStore(root.string());
  auto items = store->Folders()->Next()->Items();
  try {
    (void)items->Next();
    ADD_FAILURE() << "a.vcf should not parse";
  } catch (const StoreError& error) {
    EXPECT_EQ(error.Subject(), "a.vcf");
    EXPECT_FALSE(error.Reason().empty());
  }
  EXPECT_EQ(items->Next()->FileAs(), "B");
}

TEST(VCardStore, RefusesToOverwriteACardChangedSinceItWasRead) {
  const fs::path root = fs::path(testing::TempDir()) / "vcard_race";
  fs::remove_all(root);
  const fs::path card = root / "book" / "a.vcf";
  VCardTraits::Write(card, "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:A\r\nTEL:0171 930 8890\r\nEND:VCARD\r\n");
  auto store = MakeVCardStore(root.string());
  auto item = store->Folders()->Next()->Items()->Next();
  const std::string synced = "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:A\r\nTEL:0171 000 0000\r\nEND:VCARD\r\n";
  VCardTraits::Write(card, synced);
  item->SetPhone(0, "(020) 7930 8890");
  EXPECT_THROW(item->Save(), StoreError);
  std::ifstream in(card, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), synced);
}

}  // namespace
}  // namespace dialmend
