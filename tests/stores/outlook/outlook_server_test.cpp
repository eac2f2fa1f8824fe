#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "contacts/phone_field.h"
#include "run/run_controller.h"
#include "stores/outlook/call_watch.h"
#include "stores/outlook/outlook_store.h"
#include "tests/contacts/store_contract.h"
#include "tests/fakes/quiet_view.h"
#include "tests/stores/outlook/fake_outlook.h"
#include "tests/stores/outlook/fake_outlook_process.h"

// The Outlook store across a process boundary: the fake Outlook served by a local COM server
// of its own (fake_outlook_server.exe), found by its ProgID, as a real Outlook is. Run on
// Windows or under wine.

namespace dialmend {
namespace {

// A store over the server, which it waits for when busy for `busy_wait_ms`.
std::unique_ptr<ContactStore> ServerStore(std::optional<unsigned long> busy_wait_ms = {}) {
  OutlookStoreOptions options;
  options.prog_id = kFakeOutlookProgId;
  options.busy_wait_ms = busy_wait_ms;
  return MakeOutlookStore(std::move(options));
}

// The store contract through the server, which holds the contract's profile; and over an
// Outlook without tables, read item by item.
template <bool kTables>
struct OutlookServerTraits {
  static constexpr std::size_t kPhoneCount = kPhoneFieldCount;
  static constexpr std::size_t kHomeIndex = static_cast<std::size_t>(PhoneField::Home);
  static constexpr std::size_t kMobileIndex = static_cast<std::size_t>(PhoneField::Mobile);
  static FakeServerSetup Setup() {
    FakeServerSetup setup;
    setup.profile = kTables ? "contract" : "contract-items";
    return setup;
  }
  std::unique_ptr<ContactStore> Make(const std::filesystem::path&) {
    EXPECT_EQ(server.Failure(), "");
    return ServerStore();
  }
  // The server keeps what was saved: reading it again is a new store over the same server.
  ContactStore& Reread(std::unique_ptr<ContactStore>& store, const std::filesystem::path&) {
    store = ServerStore();
    return *store;
  }
  FakeOutlookServer server{Setup()};
};

using OutlookServerPaths = testing::Types<OutlookServerTraits<true>, OutlookServerTraits<false>>;
INSTANTIATE_TYPED_TEST_SUITE_P(OutlookServer, StoreContract, OutlookServerPaths);

// A view that starts one run of the store it is given, its log going to a file of the test's
// own; an update keeps its undo record beside it.
class ServerRunView : public QuietView {
 public:
  ServerRunView(std::unique_ptr<ContactStore> store, bool update)
      : QuietView("06/12/2026 10:00:00"), m_store(std::move(store)), m_update(update) {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    m_folder =
        std::filesystem::path(testing::TempDir()) / ("outlook_server_" + std::string(info->name()));
    std::filesystem::remove_all(m_folder);
    std::filesystem::create_directories(m_folder);
  }
  ~ServerRunView() override {
    std::error_code ignored;
    std::filesystem::remove_all(m_folder, ignored);
  }
  RunJob PrepareRun() override {
    RunJob job;
    job.store = std::move(m_store);
    job.options = &m_options;
    job.update = m_update;
    job.log = LogTarget{(m_folder / "log.txt").string(), false};
    job.record_folder = m_folder.string();
    return job;
  }
  // The log file as the run saved it.
  std::string SavedLog() const {
    std::ifstream in(m_folder / "log.txt", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

 private:
  std::unique_ptr<ContactStore> m_store;
  bool m_update;
  NumberOptions m_options;
  std::filesystem::path m_folder;
};

// One run through the controller, to its end; returns the saved log.
std::string RunToEnd(std::unique_ptr<ContactStore> store, bool update, RunState& state) {
  ServerRunView view(std::move(store), update);
  ActivityLog log;
  RunController controller(view, log);
  controller.Go();
  state = controller.State();
  EXPECT_TRUE(controller.LogSaved());
  EXPECT_TRUE(view.messages.empty());
  return view.SavedLog();
}

bool Has(const std::string& text, std::string_view part) {
  return text.find(part) != std::string::npos;
}

constexpr std::string_view kDentalHome = "  Home:         0171 930 8890 --> (020) 7930 8890\r\n";
constexpr std::string_view kAcmeBusiness = "  Business:     01232 123456 --> (028) 9012 3456\r\n";

// Wine answers a call its server asks to retry later as if it were taken ("retry call later not
// implemented", wine 8 and 9), so under wine the server refuses as Outlook does with a dialog
// box open; on Windows both ways are tried.
bool UnderWine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

class OutlookServerBusy : public testing::TestWithParam<bool> {};

TEST_P(OutlookServerBusy, CallsRefusedWhileItIsBusyAreTriedAgainAndTheRunCompletes) {
  if (GetParam() && UnderWine()) GTEST_SKIP() << "wine does not refuse calls to retry later";
  FakeServerSetup setup;
  setup.busy_after = 6;
  setup.busy_ms = 1500;
  setup.retry_later = GetParam();
  FakeOutlookServer server(setup);
  ASSERT_EQ(server.Failure(), "");
  RunState state{};
  const std::string saved = RunToEnd(ServerStore(), /*update=*/true, state);
  EXPECT_EQ(state, RunState::Finished);
  EXPECT_TRUE(Has(saved, kDentalHome)) << saved;
  EXPECT_TRUE(Has(saved, kAcmeBusiness)) << saved;
  EXPECT_TRUE(Has(saved, "Update complete")) << saved;
  EXPECT_FALSE(Has(saved, "Stopped at")) << saved;
  auto reread = ServerStore();
  ASSERT_TRUE(reread->Open().Ok());
  EXPECT_EQ(reread->Folders()
                ->Next()
                ->Items()
                ->Next()
                ->Phones()[static_cast<int>(PhoneField::Home)]
                .number,
            "(020) 7930 8890");
}

INSTANTIATE_TEST_SUITE_P(OutlookServer, OutlookServerBusy, testing::Bool(),
                         [](const auto& info) { return info.param ? "RetryLater" : "Rejected"; });

TEST(OutlookServer, BusyForLongerThanTheWholeWaitEndsTheRunAsAnAbortWithOneLine) {
  FakeServerSetup setup;
  setup.busy_after = 6;
  setup.busy_ms = 600000;
  FakeOutlookServer server(setup);
  ASSERT_EQ(server.Failure(), "");
  RunState state{};
  const std::string saved = RunToEnd(ServerStore(/*busy_wait_ms=*/300), /*update=*/true, state);
  EXPECT_EQ(state, RunState::Finished);
  EXPECT_TRUE(Has(saved,
                  ": Outlook stayed busy and did not answer for 30 seconds (a dialog box "
                  "may be open in Outlook)\r\n\r\nUpdate aborted"))
      << saved;
  EXPECT_FALSE(Has(saved, "Update complete")) << saved;
  EXPECT_TRUE(Has(saved, "Problems: 1\r\n")) << saved;
}

TEST(OutlookServer, ItsProcessEndingMidRunEndsTheRunAsAnAbortWithOneLineAndNoWait) {
  FakeServerSetup setup;
  setup.exit_at = 8;
  FakeOutlookServer server(setup);
  ASSERT_EQ(server.Failure(), "");
  RunState state{};
  const std::string saved = RunToEnd(ServerStore(), /*update=*/false, state);
  EXPECT_EQ(state, RunState::Finished);
  EXPECT_TRUE(server.Ended(0));
  EXPECT_TRUE(Has(saved, ": Outlook has closed\r\n\r\nSimulation aborted")) << saved;
  EXPECT_FALSE(Has(saved, "Simulation complete")) << saved;
  EXPECT_TRUE(Has(saved, "Problems: 1\r\n")) << saved;
}

// How the user stops a run waiting on a call: not at all, Ctrl-C (CancelOutlookCall from
// another thread), or Abort in the window (its stop hook, asked on the run's thread).
enum class Stop { None, CtrlC, Abort };

// A run over a server set up as `setup` says. Once the run says it waits, another thread stops
// it as `stop` says, and then ends the server. Every wait is bounded: after 20 s the server is
// ended anyway, so no failure hangs the test.
struct WaitingRun {
  WaitingRun(const FakeServerSetup& setup, Stop stop) {
    FakeOutlookServer server(setup);
    EXPECT_EQ(server.Failure(), "");
    std::atomic<bool> told = false;
    std::atomic<bool> aborted = false;
    OutlookStoreOptions options;
    options.prog_id = kFakeOutlookProgId;
    options.waiting = [&](const std::string& text) {
      lines.push_back(text);
      told = true;
    };
    options.stop_waiting = [&] { return aborted.load(); };
    std::thread other([&] {
      for (int i = 0; i < 200 && !told; ++i) Sleep(100);
      if (stop == Stop::CtrlC) CancelOutlookCall();
      if (stop == Stop::Abort) aborted = true;
      for (int i = 0; i < 100 && stop != Stop::None && !done; ++i) Sleep(100);
      server.Quit();
    });
    saved = RunToEnd(MakeOutlookStore(std::move(options)), /*update=*/false, state);
    done = true;
    other.join();
  }
  std::vector<std::string> lines;
  std::atomic<bool> done = false;
  RunState state{};
  std::string saved;
};

// The server takes its eighth call and never answers it.
FakeServerSetup Unanswered() {
  FakeServerSetup setup;
  setup.hang_at = 8;
  return setup;
}

// The server refuses every call after its sixth as busy, for longer than any test runs.
FakeServerSetup Busy() {
  FakeServerSetup setup;
  setup.busy_after = 6;
  setup.busy_ms = 600000;
  return setup;
}

constexpr std::string_view kWaitingLine =
    "Waiting for Outlook to answer: a dialog box or a security prompt may be open in Outlook";
constexpr std::string_view kBusyLine =
    "Waiting for Outlook, which is busy: a dialog box may be open in Outlook";

// A call never answered is said once after a few seconds and ends the run when Outlook does.
// Wine's COM cannot cancel a call, but the wait for it ends all the same at Ctrl-C or Abort.
TEST(OutlookServer, AWaitForAnUnansweredOrBusyCallIsSaidOnceAndEndedByCtrlCOrAbort) {
  constexpr std::string_view kStopped = ": Outlook did not answer, and the wait for it was stopped";
  struct Row {
    const char* name;
    FakeServerSetup setup;
    Stop stop;
    std::string_view line;
    std::string_view ended;
  };
  for (const Row& row :
       {Row{"unanswered", Unanswered(), Stop::None, kWaitingLine, ": Outlook has closed"},
        Row{"unanswered, Ctrl-C", Unanswered(), Stop::CtrlC, kWaitingLine, kStopped},
        Row{"unanswered, Abort", Unanswered(), Stop::Abort, kWaitingLine, kStopped},
        Row{"busy, Abort", Busy(), Stop::Abort, kBusyLine, kStopped}}) {
    SCOPED_TRACE(row.name);
    const ULONGLONG start = GetTickCount64();
    WaitingRun run(row.setup, row.stop);
    // Ended by the stop, not by the server's end after 20 s nor the busy wait of 30 s.
    EXPECT_TRUE(row.stop == Stop::None || GetTickCount64() - start < 15000u);
    EXPECT_EQ(run.lines, std::vector<std::string>{std::string(row.line)});
    EXPECT_EQ(run.state, RunState::Finished);
    EXPECT_TRUE(Has(run.saved, std::string(row.ended) + "\r\n\r\nSimulation aborted")) << run.saved;
    EXPECT_TRUE(Has(run.saved, "Problems: 1\r\n")) << run.saved;
  }
}

// An undo's lookup of a contact over an Outlook that closes, or stays busy past the wait, is
// the loss of Outlook, which stops the undo, not a contact that cannot be found.
TEST(OutlookServer, AnUndoLookupOverAClosingOrBusyOutlookLosesIt) {
  FakeServerSetup closing;
  closing.exit_at = 2;  // the first lookup, after GetNamespace
  FakeServerSetup busy;
  busy.busy_after = 1;
  busy.busy_ms = 600000;
  for (const FakeServerSetup& setup : {closing, busy}) {
    SCOPED_TRACE(setup.exit_at != 0 ? "closing" : "busy");
    FakeOutlookServer server(setup);
    ASSERT_EQ(server.Failure(), "");
    auto store = ServerStore(/*busy_wait_ms=*/300);
    ASSERT_TRUE(store->Open().Ok());
    auto found = store->FindContactsAsRead(
        Identities({"00000000EIDRiverside Dental@0000FAKESTORE", "00000000EIDAcme@0000FAKESTORE"}));
    auto items = found->Items();
    EXPECT_THROW((void)items->Next(), StoreLostError);
    EXPECT_THROW((void)items->Next(), StoreLostError);
  }
}

}  // namespace
}  // namespace dialmend
