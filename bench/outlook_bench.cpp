// The cost of a walk through IDispatch: 10,000 contacts of the stand-in Outlook, each with two
// old numbers, walked as a simulation, as an update that changes every contact, and as an
// update that finds nothing left to change; through folder tables and item by item (an Outlook
// without tables). Prints the time and the Invoke calls per contact. Then the same across a
// process boundary, as with a real Outlook: the time of one automation call to the stand-in's
// own process (fake_outlook_server.exe, beside this program), without and with call
// cancellation enabled on the calling thread (CoEnableCallCancellation), and of walks of 1,000
// contacts through it. Windows only (run it under wine elsewhere); Google Benchmark has no
// mingw build.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "run/contact_run.h"
#include "stores/outlook/com_dispatch.h"
#include "stores/outlook/com_ptr.h"
#include "stores/outlook/outlook_store.h"
#include "tests/stores/outlook/fake_outlook.h"
#include "tests/stores/outlook/fake_outlook_process.h"

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
      // Names unique over the profile: each contact's EntryID is made from it.
      folder.items.push_back(FakeContact(
          L"Contact " + std::to_wstring(f) + L"." + std::to_wstring(c),
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

constexpr int kServerFolders = 10;
constexpr int kServerContactsPerFolder = 100;
constexpr int kServerContacts = kServerFolders * kServerContactsPerFolder;
constexpr int kTimedCalls = 1000;
constexpr int kTimedRounds = 7;

// Microseconds per automation call to the server in each of kTimedRounds rounds, fastest first:
// NameSpace.CurrentProfileName read kTimedCalls times, each read one Invoke there and back;
// with `cancellable`, call cancellation is enabled on this thread first, and `enabled` says
// whether that took. Empty when the server cannot be reached.
std::vector<double> MicrosecondsPerCall(bool cancellable, HRESULT& enabled) {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return {};
  enabled = cancellable ? CoEnableCallCancellation(nullptr) : S_FALSE;
  std::vector<double> rounds;
  CLSID id;
  ComPtr<IDispatch> application;
  if (SUCCEEDED(CLSIDFromProgID(kFakeOutlookProgId, &id)) &&
      SUCCEEDED(CoCreateInstance(id, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch,
                                 reinterpret_cast<void**>(application.Put())))) {
    Automation automation;
    Variant mapi = Variant::Text(Bstr(L"MAPI"));
    Variant name_space;
    if (!automation.Call(application.Get(), 0, L"GetNamespace", DISPATCH_METHOD, mapi.Raw(), 1,
                         name_space.Put())) {
      ComPtr<IDispatch> names = ComPtr<IDispatch>::Share(name_space.Get().pdispVal);
      Variant profile;
      bool failed = false;
      for (int round = 0; round < kTimedRounds && !failed; ++round) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kTimedCalls && !failed; ++i) {
          failed = automation
                       .Call(names.Get(), 1, L"CurrentProfileName", DISPATCH_PROPERTYGET, nullptr,
                             0, profile.Put())
                       .has_value();
        }
        const auto stop = std::chrono::steady_clock::now();
        rounds.push_back(std::chrono::duration<double, std::micro>(stop - start).count() /
                         kTimedCalls);
      }
      if (failed) rounds.clear();
    }
  }
  application.Reset();
  if (cancellable && SUCCEEDED(enabled)) (void)CoDisableCallCancellation(nullptr);
  CoUninitialize();
  std::sort(rounds.begin(), rounds.end());
  return rounds;
}

void WalkServer(bool update, const char* what) {
  OutlookStoreOptions store_options;
  store_options.prog_id = kFakeOutlookProgId;
  auto store = MakeOutlookStore(std::move(store_options));
  NumberOptions options;
  RunSettings settings{&options, update};
  RunCounters counters;
  ActivityLog log;
  QuietHost host;
  const auto start = std::chrono::steady_clock::now();
  ContactRun run(*store, settings, counters, log, host);
  run.FixContacts();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%-26s %6lld contacts  %8.1f ms  %8.2f us/contact  changed %lld\n", what,
              static_cast<long long>(counters.checked), seconds * 1e3,
              seconds * 1e6 / kServerContacts, static_cast<long long>(counters.updated));
}

// The walks through folder tables again, with every call crossing into the server's process.
void AcrossProcesses() {
  FakeServerSetup setup;
  setup.profile =
      "folders:" + std::to_string(kServerFolders) + ":" + std::to_string(kServerContactsPerFolder);
  FakeOutlookServer server(setup);
  if (!server.Failure().empty()) {
    std::printf("Across processes: %s\n", server.Failure().c_str());
    return;
  }
  std::printf("Across processes (fake_outlook_server.exe), through folder tables:\n");
  for (const bool cancellable : {false, true}) {
    HRESULT enabled = S_OK;
    const std::vector<double> rounds = MicrosecondsPerCall(cancellable, enabled);
    if (rounds.empty()) {
      std::printf("one automation call: the server cannot be reached\n");
      return;
    }
    // The machine's other work only ever adds time: the fastest round is the call's own cost.
    std::printf("one automation call%-9s %8.1f us fastest, %8.1f us median (%d rounds of %d)%s\n",
                cancellable ? ", cancel" : "", rounds.front(), rounds[rounds.size() / 2],
                kTimedRounds, kTimedCalls,
                !cancellable           ? ""
                : SUCCEEDED(enabled)   ? " (CoEnableCallCancellation on)"
                : enabled == E_NOTIMPL ? " (CoEnableCallCancellation: not implemented here)"
                                       : " (CoEnableCallCancellation refused)");
  }
  WalkServer(/*update=*/false, "simulation");
  WalkServer(/*update=*/true, "update, every one changed");
  WalkServer(/*update=*/true, "update, none changed");
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
  AcrossProcesses();
  return 0;
}
