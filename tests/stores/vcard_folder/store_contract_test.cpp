#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "contacts/contact_store.h"
#include "platform/atomic_file_common.h"
#include "stores/vcard_folder/vcard_folder_store.h"
#include "tests/contacts/store_contract.h"
#include "tests/fakes/test_folder.h"

// The contract for the vCard folder store, and its own failures.

namespace dialmend {
namespace {

namespace fs = std::filesystem;

// The same profile as every store's, as cards in folders.
struct VCardTraits : NumbersOnlyTraits {
  static void Write(const fs::path& path, const std::string& text) { WriteTestFile(path, text); }
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

INSTANTIATE_TYPED_TEST_SUITE_P(VCard, StoreContract, VCardTraits);

TEST(VCardStore, MissingProfileGivesAReason) {
  auto store = MakeVCardStore("/nonexistent/profile");
  const auto reason = store->Open();
  ASSERT_FALSE(reason.Ok());
  EXPECT_NE(reason.Message().find("/nonexistent/profile"), std::string::npos);
}

TEST(VCardStore, UnreadableCardThrowsAndTheCursorMovesOn) {
  const fs::path root = FreshTestFolder("vcard");
  WriteTestFile(root / "book" / "a.vcf", "BEGIN:VCARD\r\nno colon here\r\n");
  WriteTestFile(root / "book" / "b.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:B\r\nEND:VCARD\r\n");
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

// The reasons the saves held by `folder` failed for when it writes them, after Save() held them.
std::vector<std::string> FlushReasons(Folder& folder) {
  std::vector<std::string> reasons;
  for (const Folder::FlushFailure& failure : folder.Flush()) {
    // A card's own file: the run names the contact, not the file.
    EXPECT_EQ(failure.subject, "");
    reasons.push_back(failure.reason);
  }
  return reasons;
}

constexpr std::string_view kOld =
    "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:A\r\nTEL:0171 930 8890\r\nEND:VCARD\r\n";
constexpr std::string_view kSynced =
    "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:A\r\nTEL:0171 000 0000\r\nEND:VCARD\r\n";

// The one card of a fresh store, read and given a new number, not yet saved.
struct ChangedCard {
  ChangedCard() {
    WriteTestFile(card, kOld);
    folder = store->Folders()->Next();
    item = folder->Items()->Next();
    item->SetPhone(0, "(020) 7930 8890");
  }
  fs::path root = FreshTestFolder("vcard");
  fs::path card = root / "book" / "a.vcf";
  std::unique_ptr<ContactStore> store = MakeVCardStore(root.string());
  std::unique_ptr<Folder> folder;
  std::unique_ptr<ContactItem> item;
};

TEST(VCardStore, RefusesToOverwriteACardChangedSinceItWasRead) {
  ChangedCard c;
  WriteTestFile(c.card, kSynced);
  c.item->Save();
  ASSERT_TRUE(c.item->HeldSave().has_value());
  EXPECT_EQ(FlushReasons(*c.folder).size(), 1u);
  EXPECT_EQ(ReadTestFile(c.card), kSynced);
}

}  // namespace
}  // namespace dialmend
