#include "contacts/outlook_store.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "contacts/com_dispatch.h"
#include "contacts/com_ptr.h"
#include "contacts/contact_run.h"
#include "tests/contacts/outlook/fake_outlook.h"
#include "tests/contacts/store_contract.h"

// The Outlook store over a stand-in object model, and once over the real COM of the machine
// (under wine there is no Outlook). Run on Windows or under wine.

namespace dialmend {
namespace {

constexpr int kHome = static_cast<int>(PhoneField::Home);
constexpr int kMobile = static_cast<int>(PhoneField::Mobile);
constexpr int kBusiness = static_cast<int>(PhoneField::Business);

// The profile of the store contract: Work (Riverside Dental, a group, Acme in Clients below)
// and a calendar folder.
void BuildContractProfile(FakeOutlook& outlook) {
  FakeFolder work{L"Work"};
  work.items.push_back(FakeContact(
      L"Riverside Dental", {{PhoneField::Home, L"0171 930 8890"}, {PhoneField::Mobile, L"0370 123456"}}));
  FakeItem team;
  team.item_class = kDistributionListClass;
  team.file_as = L"Team";
  work.items.push_back(team);
  FakeFolder clients{L"Clients"};
  clients.items.push_back(FakeContact(L"Acme", {{PhoneField::Business, L"01232 123456"}}));
  work.folders.push_back(clients);
  outlook.folders.push_back(work);
  FakeFolder calendar{L"Calendar", 1};
  outlook.folders.push_back(calendar);
}

// Holds the fake's Application object and a store over it.
struct OutlookProfile {
  OutlookProfile() : application(ComPtr<IDispatch>::Adopt(outlook.Application())) {}
  std::unique_ptr<ContactStore> Store() { return MakeOutlookStore(application.Get()); }

  FakeOutlook outlook;
  ComPtr<IDispatch> application;
};

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

INSTANTIATE_TYPED_TEST_SUITE_P(Outlook, StoreContract, OutlookTraits);

// A RunHost that never pauses and keeps what the run told it.
class TestHost : public RunHost {
 public:
  bool YieldAndCheckAbort() override { return false; }
  void ProfileFailed(const std::string& reason) override { profile_failures.push_back(reason); }
  void CountersChanged(const RunCounters&) override {}
  std::string NowText() override { return "06/12/2026 10:00:00"; }
  std::vector<std::string> profile_failures;
};

// Work holds Riverside Dental (two old numbers, one current), a group, a mail item and
// Unchanged Ltd; Clients below it holds Acme.
struct WalkFixture {
  explicit WalkFixture(bool update) {
    FakeFolder work{L"Work"};
    work.items.push_back(FakeContact(L"Riverside Dental", {{PhoneField::Home, L"0171 930 8890"},
                                                           {PhoneField::Mobile, L"0370 123456"},
                                                           {PhoneField::Business, L"(020) 7930 8890"}}));
    FakeItem team;
    team.item_class = kDistributionListClass;
    team.file_as = L"Team";
    work.items.push_back(team);
    FakeItem mail;
    mail.item_class = 43;
    mail.file_as = L"Lunch on Friday";
    work.items.push_back(mail);
    work.items.push_back(FakeContact(L"Unchanged Ltd", {{PhoneField::Business, L"(020) 7123 4567"}}));
    FakeFolder clients{L"Clients"};
    clients.items.push_back(FakeContact(L"Acme", {{PhoneField::BusinessFax, L"01232 123456"}}));
    work.folders.push_back(clients);
    profile.outlook.folders.push_back(work);
    settings.options = &options;
    settings.update = update;
  }
  FakeItem& Dental() { return profile.outlook.Item({0}, 0); }
  FakeItem& Unchanged() { return profile.outlook.Item({0}, 3); }
  void Run() {
    auto store = profile.Store();
    ContactRun run(*store, settings, counters, log, host);
    run.FixContacts();
  }

  OutlookProfile profile;
  NumberOptions options;
  RunSettings settings;
  RunCounters counters;
  ActivityLog log;
  TestHost host;
};

constexpr std::string_view kHeader =
    "Dialmend Activity Log\r\n"
    "=======================\r\n\r\n"
    "Commenced 06/12/2026 10:00:00\r\n\r\n";

constexpr std::string_view kDentalReport =
    "\\Work\\Riverside Dental\r\n"
    "  Home:         0171 930 8890 --> (020) 7930 8890\r\n"
    "  Mobile:       0370 123456 --> (07770) 123456\r\n";

constexpr std::string_view kAcmeReport =
    "\\Work\\Clients\\Acme\r\n"
    "  Business Fax: 01232 123456 --> (028) 9012 3456\r\n";

TEST(OutlookWalk, SimulationReportsButNeverAssignsNorSaves) {
  WalkFixture f(/*update=*/false);
  f.Run();
  EXPECT_EQ(f.log.Text(), std::string(kHeader) + "Checking contacts in profile Test User\r\n\r\n" +
                              std::string(kDentalReport) + std::string(kAcmeReport));
  EXPECT_EQ(f.profile.outlook.puts, 0);
  EXPECT_EQ(f.Dental().saves, 0);
  EXPECT_EQ(f.Dental().phones[kHome], L"0171 930 8890");
  EXPECT_EQ(f.counters.folders, 2);
  EXPECT_EQ(f.counters.checked, 3);
  EXPECT_EQ(f.counters.updated, 2);
  EXPECT_EQ(f.counters.numbers, 3);
  EXPECT_EQ(f.counters.problems, 0);
  // Class, nineteen numbers and the filing name for the report.
  EXPECT_EQ(f.Dental().calls, 1 + kPhoneFieldCount + 1);
}

TEST(OutlookWalk, UpdateWritesOnlyChangedNumbersAndSavesOnce) {
  WalkFixture f(/*update=*/true);
  f.Run();
  EXPECT_EQ(f.log.Text(), std::string(kHeader) + "Updating contacts in profile Test User\r\n\r\n" +
                              std::string(kDentalReport) + std::string(kAcmeReport));
  FakeItem& dental = f.Dental();
  EXPECT_EQ(dental.phones[kHome], L"(020) 7930 8890");
  EXPECT_EQ(dental.phones[kMobile], L"(07770) 123456");
  EXPECT_EQ(dental.phones[kBusiness], L"(020) 7930 8890");
  for (int i = 0; i < kPhoneFieldCount; ++i) {
    EXPECT_EQ(dental.reads[i], 1) << PhoneFieldProperty(static_cast<PhoneField>(i));
    EXPECT_EQ(dental.writes[i], i == kHome || i == kMobile ? 1 : 0)
        << PhoneFieldProperty(static_cast<PhoneField>(i));
  }
  EXPECT_EQ(dental.saves, 1);
  // Class, nineteen reads, the filing name, two writes and one Save.
  EXPECT_EQ(dental.calls, 1 + kPhoneFieldCount + 1 + 2 + 1);
  // An unchanged contact: Class and nineteen reads, nothing else.
  EXPECT_EQ(f.Unchanged().calls, 1 + kPhoneFieldCount);
  EXPECT_EQ(f.Unchanged().saves, 0);
  EXPECT_EQ(f.profile.outlook.puts, 3);
  EXPECT_EQ(f.counters.updated, 2);
  EXPECT_EQ(f.counters.numbers, 3);
}

TEST(OutlookWalk, GroupsAndOtherItemsAreOnlyAskedTheirClass) {
  WalkFixture f(/*update=*/true);
  f.Run();
  EXPECT_EQ(f.profile.outlook.Item({0}, 1).calls, 1);
  EXPECT_EQ(f.profile.outlook.Item({0}, 2).calls, 1);
  EXPECT_EQ(f.profile.outlook.Item({0}, 1).saves, 0);
}

TEST(OutlookWalk, LetsGoOfEachItemBeforeTakingTheNext) {
  WalkFixture f(/*update=*/true);
  f.Run();
  EXPECT_EQ(f.profile.outlook.most_live_items, 1);
  EXPECT_EQ(f.profile.outlook.live_items, 0);
  // Only the Application object the test holds is left.
  EXPECT_EQ(f.profile.outlook.live_objects, 1);
}

TEST(OutlookWalk, LooksUpEachNameOncePerKindOfObject) {
  WalkFixture f(/*update=*/true);
  f.profile.outlook.folders[0].items.push_back(
      FakeContact(L"Zoe", {{PhoneField::Car, L"0181 123 4567"}}));
  f.Run();
  const auto& lookups = f.profile.outlook.member_lookups;
  EXPECT_EQ(lookups.at("ContactItem.HomeTelephoneNumber"), 1);
  EXPECT_EQ(lookups.at("ContactItem.FileAs"), 1);
  EXPECT_EQ(lookups.at("ContactItem.Save"), 1);
  EXPECT_EQ(lookups.at("MAPIFolder.Name"), 1);
  // Every item shares Class, as in Outlook, so it is looked up once whatever the item.
  EXPECT_EQ(lookups.at("ContactItem.Class"), 1);
  EXPECT_EQ(lookups.count("DistListItem.Class"), 0u);
  EXPECT_EQ(lookups.at("Folders.Count"), 1);
  EXPECT_EQ(lookups.at("Items.Item"), 1);
}

TEST(OutlookWalk, ASaveRefusedBecauseTheItemChangedIsALogLine) {
  WalkFixture f(/*update=*/true);
  f.Dental().save_failure = static_cast<HRESULT>(0x80040109);
  f.Dental().save_description =
      L"The operation cannot be performed because the message has been changed.";
  f.Run();
  EXPECT_NE(f.log.Text().find("  Could not save \\Work\\Riverside Dental: the item has been "
                              "changed by another user or in another window\r\n"),
            std::string::npos)
      << f.log.Text();
  EXPECT_EQ(f.log.Text().find(kDentalReport), std::string::npos);
  EXPECT_EQ(f.Dental().phones[kHome], L"0171 930 8890");
  EXPECT_EQ(f.counters.problems, 1);
  EXPECT_EQ(f.counters.updated, 1);
  EXPECT_EQ(f.counters.numbers, 1);
  EXPECT_NE(f.log.Text().find(kAcmeReport), std::string::npos);
}

TEST(OutlookWalk, ASaveRefusedWithOnlyADescriptionIsNamedFromIt) {
  WalkFixture f(/*update=*/true);
  f.Dental().save_failure = E_FAIL;
  f.Dental().save_description =
      L"The operation cannot be performed because the message has been changed.";
  f.Run();
  EXPECT_NE(f.log.Text().find("  Could not save \\Work\\Riverside Dental: the item has been "
                              "changed by another user"),
            std::string::npos)
      << f.log.Text();
}

TEST(OutlookWalk, ASaveInAReadOnlyFolderSaysSo) {
  WalkFixture f(/*update=*/true);
  f.Dental().save_failure = E_ACCESSDENIED;
  f.Dental().save_description = L"You don't have appropriate permission to perform this operation.";
  f.Run();
  EXPECT_NE(f.log.Text().find("  Could not save \\Work\\Riverside Dental: the folder is "
                              "read-only or shared without permission to change it\r\n"),
            std::string::npos)
      << f.log.Text();
}

TEST(OutlookWalk, AnUnknownSaveFailureGivesOutlooksOwnWords) {
  WalkFixture f(/*update=*/true);
  f.Dental().save_failure = static_cast<HRESULT>(0x8004DF0B);
  f.Dental().save_description = L"Outlook cannot save this item now.";
  f.Run();
  EXPECT_NE(f.log.Text().find(
                "  Could not save \\Work\\Riverside Dental: Outlook cannot save this item now\r\n"),
            std::string::npos)
      << f.log.Text();
}

TEST(OutlookWalk, AFolderWhoseItemsFailIsSkippedAndTheWalkGoesOn) {
  WalkFixture f(/*update=*/false);
  FakeFolder broken{L"Broken"};
  broken.items_failure = E_ACCESSDENIED;
  f.profile.outlook.folders.insert(f.profile.outlook.folders.begin(), broken);
  f.Run();
  EXPECT_NE(f.log.Text().find("  Could not read folder \\Broken: cannot read Items: access was "
                              "refused\r\n"),
            std::string::npos)
      << f.log.Text();
  EXPECT_NE(f.log.Text().find(kDentalReport), std::string::npos);
  EXPECT_EQ(f.counters.folders, 2);
  EXPECT_EQ(f.counters.problems, 1);
}

TEST(OutlookWalk, CallsRejectedTwiceAreTriedAgain) {
  WalkFixture f(/*update=*/true);
  f.Dental().calls_to_reject = 2;
  f.Run();
  EXPECT_EQ(f.Dental().rejected, 2);
  EXPECT_EQ(f.Dental().saves, 1);
  EXPECT_EQ(f.counters.problems, 0);
  EXPECT_NE(f.log.Text().find(kDentalReport), std::string::npos);
}

TEST(OutlookWalk, ANumberWithALoneSurrogateIsLeftAndReported) {
  WalkFixture f(/*update=*/true);
  std::wstring broken = L"0171 930 8890 ";
  broken.push_back(static_cast<wchar_t>(0xD800));
  f.Dental().phones[kHome] = broken;
  f.Run();
  EXPECT_NE(f.log.Text().find("  Could not change Home of \\Work\\Riverside Dental: its text "
                              "holds a character that is not valid Unicode"),
            std::string::npos)
      << f.log.Text();
  EXPECT_EQ(f.Dental().writes[kHome], 0);
  EXPECT_EQ(f.Dental().phones[kHome], broken);
  EXPECT_EQ(f.Dental().phones[kMobile], L"(07770) 123456");
}

TEST(OutlookWalk, TextBeyondAsciiCrossesExactly) {
  WalkFixture f(/*update=*/true);
  f.Dental().file_as = L"Zo\u00eb \U0001F600 Caf\u00e9";
  f.Run();
  EXPECT_NE(f.log.Text().find("\\Work\\Zo\xc3\xab \xf0\x9f\x98\x80 Caf\xc3\xa9\r\n"),
            std::string::npos)
      << f.log.Text();
}

TEST(OutlookWalk, CurrentUserRefusedBySecurityEndsTheRunAfterTheHeader) {
  for (const HRESULT refusal : {E_ACCESSDENIED, E_ABORT}) {
    WalkFixture f(/*update=*/false);
    f.profile.outlook.user_failure = refusal;
    f.profile.outlook.user_description = L"Operation aborted";
    f.Run();
    EXPECT_EQ(f.log.Text(), std::string(kHeader) + "Checking");
    ASSERT_EQ(f.host.profile_failures.size(), 1u);
    EXPECT_FALSE(f.host.profile_failures[0].empty());
    EXPECT_EQ(f.Dental().calls, 0);
  }
}

TEST(OutlookStore, CurrentUserRefusalThrowsWithTheReason) {
  OutlookProfile profile;
  profile.outlook.user_failure = E_ACCESSDENIED;
  auto store = profile.Store();
  ASSERT_EQ(store->Open(), std::nullopt);
  try {
    (void)store->CurrentUser();
    ADD_FAILURE() << "CurrentUser should be refused";
  } catch (const StoreError& error) {
    EXPECT_NE(error.Reason().find("access was refused"), std::string::npos) << error.Reason();
  }
}

TEST(OutlookStore, AProfileThatWillNotOpenGivesTheReason) {
  OutlookProfile profile;
  profile.outlook.namespace_failure = static_cast<HRESULT>(0x80040111);
  const auto reason = profile.Store()->Open();
  ASSERT_TRUE(reason.has_value());
  EXPECT_EQ(*reason, "Outlook cannot open the profile: the profile could not be logged on to");
}

TEST(OutlookStore, ItemsAndFoldersMayOutliveTheStore) {
  OutlookProfile profile;
  BuildContractProfile(profile.outlook);
  std::unique_ptr<ContactItem> item;
  {
    auto store = profile.Store();
    ASSERT_EQ(store->Open(), std::nullopt);
    item = store->Folders()->Next()->Items()->Next();
  }
  EXPECT_EQ(item->FileAs(), "Riverside Dental");
  item.reset();
  EXPECT_EQ(profile.outlook.live_objects, 1);
}

TEST(OutlookStore, RegistersAMessageFilterWhileOpen) {
  OutlookProfile profile;
  auto store = profile.Store();
  ASSERT_EQ(store->Open(), std::nullopt);
  // Swap a probe in to see what is registered, then put it back.
  auto* probe = new BusyServerFilter;
  IMessageFilter* registered = nullptr;
  ASSERT_EQ(CoRegisterMessageFilter(probe, &registered), S_OK);
  EXPECT_NE(registered, nullptr);
  IMessageFilter* removed = nullptr;
  ASSERT_EQ(CoRegisterMessageFilter(registered, &removed), S_OK);
  EXPECT_EQ(removed, probe);
  if (removed) removed->Release();
  if (registered) registered->Release();
  probe->Release();
}

// Without Outlook (wine has none) COM cannot find "Outlook.Application".
TEST(OutlookStore, WithoutOutlookOpenSaysItIsNotInstalled) {
  auto store = MakeOutlookStore();
  const auto reason = store->Open();
  ASSERT_TRUE(reason.has_value());
  EXPECT_EQ(*reason, "Outlook is not installed");
}

TEST(OutlookStore, WithoutOutlookARunShowsTheProfileProblemAndWritesNothing) {
  auto store = MakeOutlookStore();
  NumberOptions options;
  RunSettings settings{&options, false};
  RunCounters counters;
  ActivityLog log;
  TestHost host;
  ContactRun run(*store, settings, counters, log, host);
  run.FixContacts();
  EXPECT_EQ(log.Text(), "");
  ASSERT_EQ(host.profile_failures.size(), 1u);
  EXPECT_EQ(host.profile_failures[0], "Outlook is not installed");
  EXPECT_EQ(counters.folders, 0);
}

TEST(BusyServer, IsWaitedForInStepsUpToTheLimit) {
  EXPECT_EQ(RetryDelay(0), kRetryStepMs);
  EXPECT_EQ(RetryDelay(kRetryLimitMs - 1), kRetryStepMs);
  EXPECT_EQ(RetryDelay(kRetryLimitMs), std::nullopt);
  EXPECT_EQ(kRetryLimitMs, 30000u);
  EXPECT_EQ(kRetryStepMs, 100u);
}

TEST(BusyServer, TheMessageFilterRetriesRejectedAndRetryLaterCalls) {
  auto* filter = new BusyServerFilter;
  EXPECT_EQ(filter->RetryRejectedCall(nullptr, 500, SERVERCALL_RETRYLATER), kRetryStepMs);
  EXPECT_EQ(filter->RetryRejectedCall(nullptr, 500, SERVERCALL_REJECTED), kRetryStepMs);
  EXPECT_EQ(filter->RetryRejectedCall(nullptr, kRetryLimitMs, SERVERCALL_RETRYLATER),
            static_cast<DWORD>(-1));
  EXPECT_EQ(filter->HandleInComingCall(CALLTYPE_TOPLEVEL, nullptr, 0, nullptr),
            static_cast<DWORD>(SERVERCALL_ISHANDLED));
  EXPECT_EQ(filter->MessagePending(nullptr, 0, PENDINGTYPE_TOPLEVEL),
            static_cast<DWORD>(PENDINGMSG_WAITDEFPROCESS));
  filter->Release();
}

TEST(ComText, NamesFailuresInWords) {
  EXPECT_EQ(FailureText(CO_E_CLASSSTRING), "Outlook is not installed");
  EXPECT_EQ(FailureText(REGDB_E_CLASSNOTREG), "Outlook is not installed");
  EXPECT_EQ(FailureText(static_cast<HRESULT>(0x80040109), nullptr, FailureContext::Save),
            "the item has been changed by another user or in another window");
  EXPECT_EQ(FailureText(RPC_E_CALL_REJECTED),
            "Outlook stayed busy and did not answer for 30 seconds");
  // An unmapped code still reads as words, from the system or with words around it.
  const std::string text = FailureText(static_cast<HRESULT>(0x80070020));
  EXPECT_FALSE(text.empty());
  EXPECT_NE(text.find_first_of("abcdefghijklmnopqrstuvwxyz"), std::string::npos) << text;
  const std::string unknown = FailureText(static_cast<HRESULT>(0x8004DF0B));
  EXPECT_NE(unknown.find("unexplained"), std::string::npos) << unknown;
}

}  // namespace
}  // namespace dialmend
