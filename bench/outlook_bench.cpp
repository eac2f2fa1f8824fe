// The cost of a walk through IDispatch: 10,000 contacts of the stand-in Outlook, each with two
// old numbers, walked as a simulation, as an update that changes every contact, and as an
// update that finds nothing left to change; through folder tables and item by item (an Outlook
// without tables). Prints the time and the Invoke calls per contact. Windows only (run it under
// wine elsewhere); Google Benchmark has no mingw build.

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "run/contact_run.h"
#include "stores/outlook/com_ptr.h"
#include "stores/outlook/outlook_store.h"
#include "tests/stores/outlook/fake_outlook.h"

namespace dialmend {
namespace {

constexpr int kFolders = 10;
constexpr int kContactsPerFolder = 1000;
constexpr int kContacts = kFolders * kContactsPerFolder;

class QuietHost : public RunHost {
 public:
  bool YieldAndCheckAbort() override { return false; }
  void ProfileFailed(const std::string& reason) override {
    std::fprintf(stderr, "profile failed: %s\n", reason.c_str());
  }
  void CountersChanged(const RunCounters&) override {}
  std::string NowText() override { return "06/12/2026 10:00:00"; }
};

void BuildProfile(FakeOutlook& outlook) {
  for (int f = 0; f < kFolders; ++f) {
    FakeFolder folder(L"Folder " + std::to_wstring(f));
    for (int c = 0; c < kContactsPerFolder; ++c) {
      folder.items.push_back(FakeContact(
          L"Contact " + std::to_wstring(c),
          {{PhoneField::Home, L"0171 930 8890"}, {PhoneField::Mobile, L"0370 123456"}}));
    }
    outlook.folders.push_back(std::move(folder));
  }
}

void Walk(FakeOutlook& outlook, IDispatch* application, bool update, const char* what,
          bool quiet = false) {
  OutlookStoreOptions store_options;
  store_options.application = application;
  auto store = MakeOutlookStore(std::move(store_options));
  NumberOptions options;
  RunSettings settings{&options, update};
  RunCounters counters;
  ActivityLog log;
  QuietHost host;
  const int calls_before = outlook.calls;
  int item_calls_before = 0;
  for (const FakeFolder& folder : outlook.folders) {
    for (const FakeItem& item : folder.items) item_calls_before += item.calls;
  }

  const auto start = std::chrono::steady_clock::now();
  ContactRun run(*store, settings, counters, log, host);
  run.FixContacts();
  const auto stop = std::chrono::steady_clock::now();

  int item_calls = -item_calls_before;
  for (const FakeFolder& folder : outlook.folders) {
    for (const FakeItem& item : folder.items) item_calls += item.calls;
  }
  if (quiet) return;
  const double seconds = std::chrono::duration<double>(stop - start).count();
  std::printf(
      "%-26s %6lld contacts  %8.1f ms  %6.2f us/contact  %5.2f Invoke/contact "
      "(%5.2f on the contact itself)  changed %lld\n",
      what, static_cast<long long>(counters.checked), seconds * 1e3, seconds * 1e6 / kContacts,
      static_cast<double>(outlook.calls - calls_before) / kContacts,
      static_cast<double>(item_calls) / kContacts, static_cast<long long>(counters.updated));
}

}  // namespace
}  // namespace dialmend

int main() {
  using namespace dialmend;
  std::printf("Walk of %d contacts of the stand-in Outlook through IDispatch\n", kContacts);
  for (const bool tables : {true, false}) {
    std::printf("%s\n", tables ? "Through folder tables:" : "Item by item (no tables):");
    FakeOutlook outlook;
    outlook.without_tables = !tables;
    BuildProfile(outlook);
    auto application = ComPtr<IDispatch>::Adopt(outlook.Application());
    // The first walk pays for the heap growing; it is not timed.
    Walk(outlook, application.Get(), /*update=*/false, "", /*quiet=*/true);
    Walk(outlook, application.Get(), /*update=*/false, "simulation");
    Walk(outlook, application.Get(), /*update=*/true, "update, every one changed");
    // The numbers are current now: a second update reads every contact and writes nothing.
    Walk(outlook, application.Get(), /*update=*/true, "update, none changed");
  }
  return 0;
}
