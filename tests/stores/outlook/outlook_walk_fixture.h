#pragma once

#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "contacts/phone_field.h"
#include "run/contact_run.h"
#include "stores/outlook/com_ptr.h"
#include "stores/outlook/outlook_store.h"
#include "tests/fakes/test_host.h"
#include "tests/stores/outlook/fake_outlook.h"

// The stand-in Outlook's profile and a run over it, which the Outlook store's test files share.

namespace dialmend {

constexpr int kHome = static_cast<int>(PhoneField::Home);
constexpr int kMobile = static_cast<int>(PhoneField::Mobile);

// Holds the fake's Application object and a store over it.
struct OutlookProfile {
  OutlookProfile() : application(ComPtr<IDispatch>::Adopt(outlook.Application())) {}
  std::unique_ptr<ContactStore> Store(std::optional<unsigned long> busy_wait_ms = std::nullopt) {
    OutlookStoreOptions options;
    options.application = application.Get();
    options.busy_wait_ms = busy_wait_ms;
    return MakeOutlookStore(std::move(options));
  }

  FakeOutlook outlook;
  ComPtr<IDispatch> application;
};

// A run over the contract profile, where Riverside Dental also holds a current business number,
// Acme's name is beyond ASCII and the BMP, and Work also holds a mail item and Unchanged Ltd.
// Unless `tables`, Outlook has no tables and every folder is read item by item.
struct WalkFixture : RunParts {
  explicit WalkFixture(bool update, bool tables = false) : RunParts(update) {
    profile.outlook.without_tables = !tables;
    BuildContractProfile(profile.outlook);
    Dental().phones[static_cast<int>(PhoneField::Business)] = L"(020) 7930 8890";
    profile.outlook.Item({0, 0}, 0).file_as = L"Acm\u00e9 \U0001F600";
    FakeItem mail;
    mail.item_class = 43;
    profile.outlook.folders[0].items.push_back(mail);
    profile.outlook.folders[0].items.push_back(
        FakeContact(L"Unchanged Ltd", {{PhoneField::Business, L"(020) 7123 4567"}}));
  }
  FakeItem& Item(std::size_t index) { return profile.outlook.Item({0}, index); }
  FakeItem& Dental() { return Item(0); }
  void Run() { Run(*profile.Store()); }
  // Returns whether the store was lost.
  bool Run(ContactStore& store) {
    ContactRun run(store, settings, counters, log, host);
    run.FixContacts();
    return run.StoreLost();
  }
  bool Logged(std::string_view text) const { return log.Text().find(text) != std::string::npos; }

  OutlookProfile profile;
};

constexpr std::string_view kHeader = kRunLogHeader;
constexpr std::string_view kDentalReport =
    "\\Work\\Riverside Dental\r\n"
    "  Home:         0171 930 8890 --> (020) 7930 8890\r\n"
    "  Mobile:       0370 123456 --> (07770) 123456\r\n";
constexpr std::string_view kAcmeReport =
    "\\Work\\Clients\\Acm\xc3\xa9 \xf0\x9f\x98\x80\r\n"
    "  Business:     01232 123456 --> (028) 9012 3456\r\n";
// Accepted Invoke calls on a contact: Class and nineteen reads; the filing name for a report.
constexpr int kReadCalls = 1 + kPhoneFieldCount;

}  // namespace dialmend
