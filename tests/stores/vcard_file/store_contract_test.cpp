#include "stores/vcard_file/vcard_file_store.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "contacts/contact_store.h"
#include "stores/vcard_folder/vcard_folder_store.h"
#include "tests/contacts/store_contract.h"
#include "tests/fakes/test_folder.h"

// The contract for the store of one file of many cards, and for a folder store whose address
// book is such a file.

namespace dialmend {
namespace {

namespace fs = std::filesystem;

constexpr const char* kDental =
    "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Riverside Dental\r\nTEL;TYPE=CELL:0370 123456\r\n"
    "TEL;TYPE=HOME,VOICE:0171 930 8890\r\nEND:VCARD\r\n";
constexpr const char* kTeam =
    "BEGIN:VCARD\r\nVERSION:4.0\r\nKIND:group\r\nFN:Team\r\nEND:VCARD\r\n";

// The profile as one export, Work.vcf: the store is the one folder Work.
struct VCardFileTraits : NumbersOnlyTraits {
  static constexpr bool kOneFolder = true;
  static std::unique_ptr<ContactStore> Make(const fs::path& root) {
    fs::remove_all(root);
    WriteTestFile(root / "Work.vcf", std::string(kDental) + "\r\n" + kTeam);
    return MakeVCardFileStore((root / "Work.vcf").string());
  }
  static ContactStore& Reread(std::unique_ptr<ContactStore>& store, const fs::path& root) {
    store = MakeVCardFileStore((root / "Work.vcf").string());
    return *store;
  }
};

INSTANTIATE_TYPED_TEST_SUITE_P(VCardFile, StoreContract, VCardFileTraits);

// The profile as a folder store whose Work book is one file of both its cards.
struct FolderOfManyTraits : NumbersOnlyTraits {
  static std::unique_ptr<ContactStore> Make(const fs::path& root) {
    fs::remove_all(root);
    WriteTestFile(root / "work" / "displayname", "Work\n");
    WriteTestFile(root / "work" / "export.vcf", std::string(kDental) + kTeam);
    WriteTestFile(root / "work" / "clients" / "displayname", "Clients");
    WriteTestFile(root / "work" / "clients" / "acme.vcf",
                  "BEGIN:VCARD\nVERSION:3.0\nFN:Acme\nTEL;TYPE=WORK:01232 123456\nEND:VCARD\n");
    WriteTestFile(root / "zz-calendar" / "displayname", "Calendar");
    WriteTestFile(root / "zz-calendar" / "event.ics", "BEGIN:VCALENDAR\r\nEND:VCALENDAR\r\n");
    return MakeVCardStore(root.string());
  }
  static ContactStore& Reread(std::unique_ptr<ContactStore>& store, const fs::path& root) {
    store = MakeVCardStore(root.string());
    return *store;
  }
};

INSTANTIATE_TYPED_TEST_SUITE_P(VCardFolderOfMany, StoreContract, FolderOfManyTraits);

TEST(VCardFileStore, NamesTheFolderAfterTheFileWithoutItsExtension) {
  const fs::path root = FreshTestFolder("vcard_file_name");
  WriteTestFile(root / "Phone Contacts.VCF", kDental);
  auto store = MakeVCardFileStore((root / "Phone Contacts.VCF").string());
  ASSERT_TRUE(store->Open().Ok());
  EXPECT_EQ(store->Folders()->Next()->Name(), "Phone Contacts");
}

TEST(VCardFileStore, SaysWhyAFolderOrAMissingFileCannotBeOpened) {
  const fs::path root = FreshTestFolder("vcard_file_open");
  EXPECT_EQ(MakeVCardFileStore(root.string())->Open().Message(),
            "\"" + root.string() + "\" is a folder, not a file");
  const auto missing = MakeVCardFileStore((root / "gone.vcf").string())->Open();
  ASSERT_FALSE(missing.Ok());
  EXPECT_NE(missing.Message().find("gone.vcf\": "), std::string::npos) << missing.Message();
}

TEST(VCardFileStore, ReportsACardThatCannotBeParsedAndReadsTheNext) {
  const fs::path root = FreshTestFolder("vcard_file_bad_card");
  WriteTestFile(
      root / "all.vcf",
      std::string(kDental) + std::string("BEGIN:VCARD\r\nNOTE:\0\r\nEND:VCARD\r\n", 32) + kTeam);
  auto store = MakeVCardFileStore((root / "all.vcf").string());
  auto folder = store->Folders()->Next();
  auto items = folder->Items();
  EXPECT_EQ(items->Next()->FileAs(), "Riverside Dental");
  try {
    (void)items->Next();
    ADD_FAILURE() << "the second card should not parse";
  } catch (const StoreError& error) {
    EXPECT_EQ(error.Subject(), "card 2 of all.vcf");
    EXPECT_EQ(error.Reason(), "line 2 holds a NUL byte");
  }
  EXPECT_EQ(items->Next()->FileAs(), "Team");
  EXPECT_EQ(items->Next(), nullptr);
}

}  // namespace
}  // namespace dialmend
