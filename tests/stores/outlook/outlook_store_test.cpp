#include "stores/outlook/outlook_store.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/user_name.h"
#include "run/contact_run.h"
#include "run/undo_record.h"
#include "stores/outlook/com_dispatch.h"
#include "stores/outlook/com_ptr.h"
#include "tests/contacts/store_contract.h"
#include "tests/fakes/test_host.h"
#include "tests/stores/outlook/fake_outlook.h"
#include "tests/stores/outlook/outlook_walk_fixture.h"

// The Outlook store over a stand-in object model, and once over the real COM of the machine
// (under wine there is no Outlook). Run on Windows or under wine.

namespace dialmend {
namespace {

// The store contract, as every store passes it; Outlook gives all nineteen fields.
struct OutlookTraits {
  static constexpr std::size_t kPhoneCount = kPhoneFieldCount;
  static constexpr std::size_t kHomeIndex = kHome;
  static constexpr std::size_t kMobileIndex = kMobile;
  OutlookTraits() { BuildContractProfile(profile.outlook); }
  std::unique_ptr<ContactStore> Make(const std::filesystem::path&) { return profile.Store(); }
  // Outlook is its own storage: reading it again is a new store over the same Outlook.
  ContactStore& Reread(std::unique_ptr<ContactStore>& store, const std::filesystem::path&) {
    store = profile.Store();
    return *store;
  }
  OutlookProfile profile;
};

// With GetArray's first index the column, as Microsoft's reference has it.
struct OutlookColumnsFirstTraits : OutlookTraits {
  OutlookColumnsFirstTraits() { profile.outlook.columns_first = true; }
};

// And over an Outlook without tables, read item by item.
struct OutlookItemsTraits : OutlookTraits {
  OutlookItemsTraits() { profile.outlook.without_tables = true; }
};

using OutlookPaths = testing::Types<OutlookTraits, OutlookColumnsFirstTraits, OutlookItemsTraits>;
INSTANTIATE_TYPED_TEST_SUITE_P(Outlook, StoreContract, OutlookPaths);

TEST(OutlookWalk, SimulationReportsButNeverAssignsNorSaves) {
  WalkFixture f(/*update=*/false);
  f.Run();
  EXPECT_EQ(f.log.Text(), std::string(kHeader) + "Checking contacts in profile Test User\r\n\r\n" +
                              std::string(kDentalReport) + std::string(kAcmeReport));
  EXPECT_EQ(f.profile.outlook.puts, 0);
  EXPECT_EQ(f.Dental().saves, 0);
  EXPECT_EQ(f.Dental().calls, kReadCalls + 1);
}

TEST(OutlookWalk, UpdateWritesOnlyChangedNumbersSavesOnceAndAsksOtherItemsTheirClassAlone) {
  WalkFixture f(/*update=*/true);
  f.Run();
  EXPECT_EQ(f.log.Text(), std::string(kHeader) + "Updating contacts in profile Test User\r\n\r\n" +
                              std::string(kDentalReport) + std::string(kAcmeReport));
  FakeItem& dental = f.Dental();
  EXPECT_EQ(dental.phones[kHome], L"(020) 7930 8890");
  EXPECT_EQ(dental.phones[kMobile], L"(07770) 123456");
  for (int i = 0; i < kPhoneFieldCount; ++i) {
    EXPECT_EQ(dental.reads[i], 1) << i;
    EXPECT_EQ(dental.writes[i], i == kHome || i == kMobile ? 1 : 0) << i;
  }
  EXPECT_EQ(dental.saves, 1);
  // and Saved before the first write, two writes and one Save
  EXPECT_EQ(dental.calls, kReadCalls + 1 + 1 + 2 + 1);
  EXPECT_EQ(f.profile.outlook.puts, 3);
  EXPECT_EQ(f.Item(1).calls, 1);  // the group
  EXPECT_EQ(f.Item(2).calls, 1);  // the mail item
  EXPECT_EQ(f.Item(3).calls, kReadCalls);
  EXPECT_EQ(f.Item(3).saves, 0);
}

TEST(OutlookWalk, HoldsOneItemAtATimeAndLooksUpEachNameOncePerKindOfObject) {
  WalkFixture f(/*update=*/true);
  f.Run();
  EXPECT_EQ(f.profile.outlook.most_live_items, 1);
  EXPECT_EQ(f.profile.outlook.live_items, 0);
  EXPECT_EQ(f.profile.outlook.live_objects, 1);  // the Application object the test holds
  const auto& lookups = f.profile.outlook.member_lookups;
  // Every item shares Class, as in Outlook.
  for (const char* name :
       {"ContactItem.Class", "ContactItem.HomeTelephoneNumber", "ContactItem.FileAs",
        "ContactItem.Save", "MAPIFolder.Name", "Folders.Count", "Items.Item"}) {
    EXPECT_EQ(lookups.at(name), 1) << name;
  }
  EXPECT_EQ(lookups.count("DistListItem.Class"), 0u);
}

// An update of the walk's profile, after `prepare` has changed it, that keeps its undo record,
// then undoes of it.
struct UndoFixture : WalkFixture {
  explicit UndoFixture(const std::function<void(FakeOutlook&)>& prepare = {})
      : WalkFixture(/*update=*/true) {
    if (prepare) prepare(profile.outlook);
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    folder = std::filesystem::path(testing::TempDir()) / "outlook_undo" / info->name();
    std::filesystem::remove_all(folder);
    settings.record_folder = folder.string();
    Run();
    std::vector<std::filesystem::path> records;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      records.push_back(entry.path());
    }
    EXPECT_EQ(records.size(), 1u);
    Result<UndoRecord> read = ReadUndoRecord(records.at(0).string());
    EXPECT_TRUE(read.Ok()) << read.Message();
    if (read.Ok()) record = read.Value();
  }
  RunCounters Undo() {
    RunCounters undone;
    undo_log.Clear();
    ContactRun(*profile.Store(), RunSettings{&options, true}, undone, undo_log, host)
        .UndoContacts(record);
    return undone;
  }

  std::filesystem::path folder;
  UndoRecord record;
  ActivityLog undo_log;
};

TEST(OutlookUndo, RecordsEachContactByItsEntryIdAndPutsBackEveryNumber) {
  UndoFixture f;
  EXPECT_EQ(f.record.store, (StoreIdentity{"Outlook", "Outlook"}));
  ASSERT_EQ(f.record.contacts, 2u);
  RecordedContactReader reader(f.record.path);
  std::vector<RecordedContact> contacts;
  ASSERT_TRUE(reader.ReadChunk(kRecordChunk, contacts).Ok());
  ASSERT_EQ(contacts.size(), 2u);
  EXPECT_EQ(contacts[0].identity.where, "00000000EIDRiverside Dental@0000FAKESTORE");
  const RunCounters undone = f.Undo();
  EXPECT_EQ(undone.updated, 2) << f.undo_log.Text();
  EXPECT_EQ(undone.numbers, 3);
  EXPECT_EQ(undone.problems, 0);
  EXPECT_EQ(f.Dental().phones[kHome], L"0171 930 8890");
  EXPECT_EQ(f.Dental().phones[kMobile], L"0370 123456");
  EXPECT_EQ(f.Dental().phones[static_cast<int>(PhoneField::Business)], L"(020) 7930 8890");
  EXPECT_EQ(f.profile.outlook.Item({0, 0}, 0).phones[static_cast<int>(PhoneField::Business)],
            L"01232 123456");
  EXPECT_EQ(f.Dental().saves, 2);
  EXPECT_EQ(f.profile.outlook.live_items, 0);
}

TEST(OutlookUndo, FindsAContactOfASecondStoreByItsStoreIdAndOneRecordedWithoutIt) {
  UndoFixture f([](FakeOutlook& outlook) {
    FakeFolder archive{L"Archive"};
    archive.store_id = L"0000ARCHIVE";
    archive.items.push_back(FakeContact(L"Old Mill", {{PhoneField::Home, L"0171 930 1234"}}));
    outlook.folders.push_back(archive);
  });
  const RunCounters undone = f.Undo();
  EXPECT_EQ(undone.updated, 3) << f.undo_log.Text();
  EXPECT_EQ(undone.problems, 0);
  EXPECT_EQ(f.profile.outlook.folders.back().items.at(0).phones[kHome], L"0171 930 1234");
  // A record kept before StoreIDs were recorded names the EntryID alone.
  auto store = f.profile.Store();
  ASSERT_TRUE(store->Open().Ok());
  auto found = store->FindContactsAsRead(Identities({"00000000EIDRiverside Dental"}));
  EXPECT_EQ(found->Items()->Next()->FileAs(), "Riverside Dental");
}

TEST(OutlookUndo, NamesAnItemOutlookCannotFindAndGoesOn) {
  UndoFixture f;
  f.profile.outlook.Item({0, 0}, 0).entry_id = L"moved";
  const RunCounters undone = f.Undo();
  EXPECT_EQ(undone.updated, 1);
  EXPECT_EQ(undone.problems, 1);
  EXPECT_NE(f.undo_log.Text().find("  Could not find \\Work\\Clients\\Acm"), std::string::npos)
      << f.undo_log.Text();
  EXPECT_EQ(f.Dental().phones[kHome], L"0171 930 8890");
}

TEST(OutlookUndo, RestoresNothingFromTheRecordOfAnotherProfile) {
  UndoFixture f;
  f.profile.outlook.profile = L"Work";
  const RunCounters undone = f.Undo();
  EXPECT_EQ(undone.updated, 0);
  EXPECT_EQ(undone.problems, 1);
  EXPECT_EQ(f.Dental().phones[kHome], L"(020) 7930 8890");
}

struct SaveRefusalRow {
  const char* name;
  HRESULT code;
  const wchar_t* description;
  const char* reason;
};

class OutlookSaveRefusal : public testing::TestWithParam<SaveRefusalRow> {};

TEST_P(OutlookSaveRefusal, IsALogLineAndTheWalkGoesOn) {
  WalkFixture f(/*update=*/true);
  f.Dental().save_failure = GetParam().code;
  f.Dental().save_description = GetParam().description;
  f.Run();
  EXPECT_TRUE(f.Logged(
      "  Could not save \\Work\\Riverside Dental: " + std::string(GetParam().reason) + "\r\n"))
      << f.log.Text();
  EXPECT_FALSE(f.Logged(kDentalReport));
  EXPECT_TRUE(f.Logged(kAcmeReport));
  // Our numbers are dropped from the item, so no later save (the user's) stores them.
  EXPECT_EQ(f.Dental().discards, 1);
  EXPECT_EQ(f.Dental().in_memory, f.Dental().phones);
}

constexpr wchar_t kChanged[] =
    L"The operation cannot be performed because the message has been changed.";

INSTANTIATE_TEST_SUITE_P(
    OutlookWalk, OutlookSaveRefusal,
    testing::Values(
        SaveRefusalRow{"ItemChangedByCode", static_cast<HRESULT>(0x80040109), kChanged,
                       "the item has been changed by another user or in another window"},
        SaveRefusalRow{"ItemChangedByDescriptionAlone", E_FAIL, kChanged,
                       "the item has been changed by another user or in another window"},
        SaveRefusalRow{"ReadOnlyFolder", E_ACCESSDENIED, L"You don't have appropriate permission.",
                       "the folder is read-only or shared without permission to change it"},
        SaveRefusalRow{"UnknownCodeInOutlooksWords", static_cast<HRESULT>(0x8004DF0B),
                       L"Outlook cannot save this item now.", "Outlook cannot save this item now"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(OutlookWalk, AFolderWhoseItemsFailIsSkippedAndTheWalkGoesOn) {
  WalkFixture f(/*update=*/false);
  FakeFolder broken{L"Broken"};
  broken.items_failure = E_ACCESSDENIED;
  f.profile.outlook.folders.insert(f.profile.outlook.folders.begin(), broken);
  f.Run();
  EXPECT_TRUE(
      f.Logged("  Could not read folder \\Broken: cannot read Items: access was refused\r\n"))
      << f.log.Text();
  EXPECT_TRUE(f.Logged(kDentalReport));
}

TEST(OutlookWalk, CallsRejectedTwiceAreTriedAgain) {
  WalkFixture f(/*update=*/true);
  f.Dental().calls_to_reject = 2;
  f.Run();
  EXPECT_EQ(f.Dental().rejected, 2);
  EXPECT_EQ(f.Dental().saves, 1);
  EXPECT_EQ(f.counters.problems, 0);
  EXPECT_TRUE(f.Logged(kDentalReport));
}

TEST(OutlookWalk, ANumberWithALoneSurrogateIsLeftAndReported) {
  WalkFixture f(/*update=*/true);
  const std::wstring broken = std::wstring(L"0171 930 8890 ") + static_cast<wchar_t>(0xD800);
  f.Dental().phones[kHome] = broken;
  f.Run();
  EXPECT_TRUE(
      f.Logged("  Could not change Home of \\Work\\Riverside Dental: its text holds a "
               "character that is not valid Unicode"))
      << f.log.Text();
  EXPECT_EQ(f.Dental().writes[kHome], 0);
  EXPECT_EQ(f.Dental().phones[kMobile], L"(07770) 123456");
}

// The name only heads the log: a security prompt the user denied gives the login name.
class OutlookUserRefusal : public testing::TestWithParam<HRESULT> {};

TEST_P(OutlookUserRefusal, GivesTheLoginNameAndTheRunGoesOn) {
  WalkFixture f(/*update=*/false);
  f.profile.outlook.user_failure = GetParam();
  f.profile.outlook.user_description = L"Operation aborted";
  f.Run();
  EXPECT_TRUE(f.Logged("Checking contacts in profile " + LoggedInUserName() + "\r\n\r\n" +
                       std::string(kDentalReport)))
      << f.log.Text();
  EXPECT_TRUE(f.host.failures.empty());
}

INSTANTIATE_TEST_SUITE_P(OutlookWalk, OutlookUserRefusal, testing::Values(E_ACCESSDENIED, E_ABORT),
                         [](const auto& info) {
                           return info.index == 0 ? "AccessDenied" : "SecurityPromptAborted";
                         });

TEST(OutlookWalk, WalksContactFoldersOfEveryStoreBelowOtherFoldersButNoHiddenOne) {
  WalkFixture f(/*update=*/false, /*tables=*/true);
  FakeFolder inbox{L"Inbox", 0};
  FakeFolder suppliers{L"Suppliers"};
  suppliers.items.push_back(
      FakeContact(L"Mill Lane Joinery", {{PhoneField::Business, L"0171 222 3333"}}));
  inbox.folders.push_back(suppliers);
  FakeFolder cache{L"Recipient Cache"};
  cache.hidden = true;
  cache.items.push_back(FakeContact(L"Once Mailed", {{PhoneField::Business, L"0171 444 5555"}}));
  f.profile.outlook.folders[0].folders.push_back(inbox);
  f.profile.outlook.folders[0].folders.push_back(cache);
  f.Run();
  EXPECT_TRUE(f.Logged("\\Work\\Inbox\\Suppliers\\Mill Lane Joinery\r\n")) << f.log.Text();
  EXPECT_FALSE(f.Logged("Once Mailed")) << f.log.Text();
  // Work, Clients, Inbox\Suppliers and the calendar store.
  EXPECT_EQ(f.counters.folders, 4);
}

// Each code by which COM says the server has gone is ComText.KnowsTheServerGoneCodes's.
TEST(OutlookWalk, OutlookGoneEndsTheRunWithOneLineAndTouchesNothingAfter) {
  WalkFixture f(/*update=*/true);
  f.Dental().calls_before_gone = 3;  // Outlook closes after Class and two numbers are read
  EXPECT_TRUE(f.Run(*f.profile.Store()));
  EXPECT_EQ(f.log.Text(), std::string(kHeader) + "Updating contacts in profile Test User\r\n\r\n" +
                              "  Stopped at \\Work\\item 1: Outlook has closed\r\n")
      << f.log.Text();
  EXPECT_EQ(f.counters.problems, 1);
  EXPECT_EQ(f.counters.checked, 0);
  EXPECT_EQ(f.Item(3).calls, 0);
  EXPECT_EQ(f.profile.outlook.Item({0, 0}, 0).calls, 0);
}

TEST(OutlookWalk, BusyForTheWholeWaitEndsTheRunWithOneLine) {
  WalkFixture f(/*update=*/true);
  f.Dental().calls_to_reject = 1000000;
  EXPECT_TRUE(f.Run(*f.profile.Store(/*busy_wait_ms=*/0)));
  EXPECT_EQ(f.log.Text(), std::string(kHeader) + "Updating contacts in profile Test User\r\n\r\n" +
                              "  Stopped at \\Work\\item 1: Outlook stayed busy and did not "
                              "answer for 30 seconds (a dialog box may be open in Outlook)\r\n")
      << f.log.Text();
  EXPECT_EQ(f.Dental().rejected, 1);
  EXPECT_EQ(f.counters.problems, 1);
  EXPECT_EQ(f.Item(3).calls + f.Item(3).rejected, 0);
}

TEST(OutlookWalk, AContactWithUnsavedEditsOfTheUserIsNamedAndLeft) {
  WalkFixture f(/*update=*/true);
  f.Dental().user_edits = true;
  f.Run();
  EXPECT_TRUE(
      f.Logged("  Could not change \\Work\\Riverside Dental: it is open in Outlook with "
               "changes that are not saved, so it is left as it is\r\n"))
      << f.log.Text();
  EXPECT_EQ(f.Dental().saves, 0);
  EXPECT_EQ(f.Dental().writes[kHome] + f.Dental().writes[kMobile], 0);
  EXPECT_TRUE(f.Logged(kAcmeReport));
  EXPECT_EQ(f.counters.problems, 1);
}

TEST(OutlookWalk, AFailedChangeDiscardsTheNumbersAlreadyAssigned) {
  WalkFixture f(/*update=*/true);
  // Home is assigned, then Mobile is refused: the item must not keep Home's new number.
  f.Dental().failing_put = kMobile;
  f.Run();
  EXPECT_TRUE(
      f.Logged("  Could not change \\Work\\Riverside Dental: cannot change "
               "MobileTelephoneNumber: access was refused\r\n"))
      << f.log.Text();
  EXPECT_EQ(f.Dental().writes[kHome], 1);
  EXPECT_EQ(f.Dental().discards, 1);
  EXPECT_EQ(f.Dental().in_memory, f.Dental().phones);
  EXPECT_EQ(f.Dental().saves, 0);
}

// A BSTR allocator that fails for everything but the namespace's name.
BSTR AllocateOnlyMapi(const OLECHAR* text, UINT length) {
  return std::wstring_view(text, length) == L"MAPI" ? SysAllocStringLen(text, length) : nullptr;
}

TEST(OutlookWalk, ANumberThatCannotBeAllocatedIsAFailureNeverAnEmptyValue) {
  WalkFixture f(/*update=*/true);
  SetBstrAllocator(AllocateOnlyMapi);
  f.Run();
  SetBstrAllocator(nullptr);
  EXPECT_TRUE(
      f.Logged("  Could not change \\Work\\Riverside Dental: cannot change "
               "HomeTelephoneNumber: out of memory\r\n"))
      << f.log.Text();
  EXPECT_EQ(f.Dental().phones[kHome], L"0171 930 8890");
  EXPECT_EQ(f.Dental().saves, 0);
}

TEST(OutlookWalk, ALogonFailureIsSaidAsOne) {
  WalkFixture f(/*update=*/false);
  f.profile.outlook.user_failure = static_cast<HRESULT>(0x80040111);
  f.Run();
  EXPECT_EQ(f.host.failures, std::vector<std::string>{"Outlook could not log on to the profile"});
}

// Without Outlook (wine has none) COM cannot find "Outlook.Application".
TEST(OutlookWalk, WithoutClassicOutlookSaysTheNewOneCannotBeAutomatedAndWritesNothing) {
  WalkFixture f(/*update=*/false);
  f.Run(*MakeOutlookStore());
  constexpr char kReason[] =
      "classic Outlook is not installed, and the new Outlook cannot be automated: switch to "
      "classic Outlook, or open a vCard export of the contacts instead (--profile FILE.vcf), or "
      "the account's CardDAV address from Dialmend on Linux";
  EXPECT_EQ(f.log.Text(), "");
  EXPECT_EQ(f.host.failures, std::vector<std::string>{kReason});
  EXPECT_EQ(f.counters.folders, 0);
}

TEST(OutlookStore, AProfileThatWillNotOpenGivesTheReason) {
  OutlookProfile profile;
  profile.outlook.namespace_failure = static_cast<HRESULT>(0x80040111);
  EXPECT_EQ(profile.Store()->Open().Message(),
            "Outlook cannot open the profile: the profile could not be logged on to");
}

TEST(OutlookStore, ItemsAndFoldersMayOutliveTheStore) {
  OutlookProfile profile;
  BuildContractProfile(profile.outlook);
  std::unique_ptr<ContactItem> item;
  {
    auto store = profile.Store();
    ASSERT_TRUE(store->Open().Ok());
    item = store->Folders()->Next()->Items()->Next();
  }
  EXPECT_EQ(item->FileAs(), "Riverside Dental");
  item.reset();
  EXPECT_EQ(profile.outlook.live_objects, 1);
}

}  // namespace
}  // namespace dialmend
