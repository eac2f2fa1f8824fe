#include "stores/outlook/outlook_store.h"

#include <gtest/gtest.h>

#include <string>

#include "contacts/contact_store.h"
#include "stores/outlook/outlook_names.h"
#include "tests/stores/outlook/fake_outlook.h"
#include "tests/stores/outlook/outlook_walk_fixture.h"

// The Outlook store reading a folder through its table, over the stand-in object model. Run on
// Windows or under wine.

namespace dialmend {
namespace {

// Also where a block past the last row fails, as in Outlook 2007: the rest is read row by row.
TEST(OutlookTable, ReadsUnchangedContactsInUnderTwoCallsEachWithoutOpeningThem) {
  constexpr int kContacts = 500;
  for (const int rows_before_failure : {-1, kContacts}) {
    SCOPED_TRACE(rows_before_failure);
    WalkFixture f(/*update=*/true, /*tables=*/true);
    FakeFolder folder{L"Many"};
    for (int i = 0; i < kContacts; ++i) {
      folder.items.push_back(FakeContact(L"Contact " + std::to_wstring(i),
                                         {{PhoneField::Business, L"(020) 7123 4567"}}));
    }
    folder.rows_before_failure = rows_before_failure;
    f.profile.outlook.folders = {folder};
    f.Run();
    EXPECT_EQ(f.counters.checked, kContacts) << f.log.Text();
    EXPECT_EQ(f.counters.problems, 0);
    EXPECT_LE(f.profile.outlook.calls, 2 * kContacts) << f.profile.outlook.calls;
    EXPECT_EQ(f.profile.outlook.opened_by_id, 0);
    EXPECT_EQ(f.profile.outlook.Item({0}, 0).calls, 0);
    EXPECT_EQ(f.profile.outlook.Item({0}, kContacts - 1).calls, 0);
  }
}

TEST(OutlookTable, OpensAChangedContactAloneByItsEntryIdAndSavesIt) {
  WalkFixture f(/*update=*/true, /*tables=*/true);
  f.Run();
  EXPECT_EQ(f.log.Text(), std::string(kHeader) + "Updating contacts in profile Test User\r\n\r\n" +
                              std::string(kDentalReport) + std::string(kAcmeReport));
  EXPECT_EQ(f.profile.outlook.table_filter, kOutlookContactFilter);
  EXPECT_EQ(f.profile.outlook.opened_by_id, 2);  // Riverside Dental and Acme
  FakeItem& dental = f.Dental();
  EXPECT_EQ(dental.phones[kHome], L"(020) 7930 8890");
  EXPECT_EQ(dental.phones[kMobile], L"(07770) 123456");
  // Saved, then each changed number read again and written, then Save.
  EXPECT_EQ(dental.calls, 1 + 2 + 2 + 1);
  EXPECT_EQ(dental.saves, 1);
  EXPECT_EQ(f.Item(1).calls, 0);  // the group
  EXPECT_EQ(f.Item(2).calls, 0);  // the mail item
  EXPECT_EQ(f.Item(3).calls, 0);  // Unchanged Ltd
  EXPECT_EQ(f.profile.outlook.most_live_items, 1);
  EXPECT_EQ(f.profile.outlook.live_objects, 1);
}

TEST(OutlookTable, LeavesAContactWhoseNumberChangedInOutlookSinceTheTableWasRead) {
  WalkFixture f(/*update=*/true, /*tables=*/true);
  auto store = f.profile.Store();
  ASSERT_TRUE(store->Open().Ok());
  auto item = store->Folders()->Next()->Items()->Next();
  ASSERT_EQ(item->FileAs(), "Riverside Dental");
  f.Dental().phones[kHome] = L"0171 111 2222";  // the user's edit, saved meanwhile
  f.Dental().in_memory = f.Dental().phones;
  try {
    item->SetPhone(kHome, "(020) 7930 8890");
    ADD_FAILURE() << "the change was made";
  } catch (const StoreError& error) {
    EXPECT_EQ(error.Reason(),
              "HomeTelephoneNumber was changed in Outlook during the run, so the contact is left "
              "as it is");
  }
  item.reset();
  EXPECT_EQ(f.Dental().writes[kHome], 0);
  EXPECT_EQ(f.Dental().phones[kHome], L"0171 111 2222");
  EXPECT_EQ(f.Dental().in_memory, f.Dental().phones);
}

TEST(OutlookTable, AFolderWhoseTableFailsIsReadItemByItemWithALine) {
  WalkFixture f(/*update=*/false, /*tables=*/true);
  f.profile.outlook.folders[0].table_failure = E_FAIL;
  f.Run();
  EXPECT_TRUE(f.Logged(kDentalReport)) << f.log.Text();
  EXPECT_TRUE(
      f.Logged("  \\Work: read item by item, as its table cannot be read: the table "
               "cannot be made\r\n"))
      << f.log.Text();
  EXPECT_EQ(f.Dental().reads[kHome], 1);
  EXPECT_EQ(f.counters.problems, 0);
}

TEST(OutlookTable, OutlookClosingWhileAContactIsChangedEndsTheRunWithOneLine) {
  WalkFixture f(/*update=*/true, /*tables=*/true);
  f.Dental().calls_before_gone = 1;  // Outlook closes after Saved is read
  EXPECT_TRUE(f.Run(*f.profile.Store()));
  EXPECT_EQ(f.log.Text(), std::string(kHeader) + "Updating contacts in profile Test User\r\n\r\n" +
                              "  Stopped at \\Work\\Riverside Dental: Outlook has closed\r\n")
      << f.log.Text();
  EXPECT_EQ(f.profile.outlook.opened_by_id, 1);
}

TEST(OutlookTable, ATableThatFailsPartWayIsOneLineAndTheWalkGoesOn) {
  WalkFixture f(/*update=*/false, /*tables=*/true);
  f.profile.outlook.folders[0].rows_before_failure = 0;
  f.Run();
  EXPECT_TRUE(
      f.Logged("  Could not read \\Work\\its items: cannot read them: the table cannot "
               "be read\r\n"))
      << f.log.Text();
  EXPECT_FALSE(f.Logged("Riverside Dental"));
  EXPECT_TRUE(f.Logged(kAcmeReport));
  EXPECT_EQ(f.counters.problems, 1);
}

}  // namespace
}  // namespace dialmend
