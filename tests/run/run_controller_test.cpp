#include "run/run_controller.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tests/fakes/memory_store.h"
#include "tests/fakes/test_folder.h"

namespace dialmend {
namespace {

using namespace std::chrono_literals;

constexpr std::string_view kStore = R"(
folder Work
  contact A
    Home: 0171 930 8890
  contact B
    Home: 0181 123 4567
  contact C
    Home: (020) 7930 8890
)";

// The test store, counting its contacts before the walk as a store that can does.
class CountingStore : public MemoryStore {
 public:
  CountingStore(std::string_view description, std::optional<std::int64_t> count)
      : MemoryStore(description), m_count(count) {}
  std::optional<std::int64_t> CountContacts() override {
    ++counted;
    return m_count;
  }
  static inline int counted = 0;

 private:
  std::optional<std::int64_t> m_count;
};

// Records what the controller shows and plays scripted user actions at each event pump.
class FakeView : public RunView {
 public:
  std::string description{kStore};
  bool update = false;
  std::vector<std::string> calls;
  std::deque<std::function<void()>> events;  // one per pump
  std::deque<AbortAnswer> answers;
  std::vector<std::string> messages;
  int ended = 0;
  RunController* controller = nullptr;
  NumberOptions options;
  std::chrono::steady_clock::time_point now{};
  std::chrono::seconds tick = 1s;  // the clock moves this much per pump
  std::optional<LogTarget> log;
  std::string shown_log_path;
  // What the store counts, and whether the view asks for it.
  std::optional<std::int64_t> store_count;
  bool count_contacts = false;
  std::vector<std::int64_t> shown_counts;
  std::vector<std::string> shown_folders;

  RunJob PrepareRun() override {
    RunJob job;
    job.store = std::make_unique<CountingStore>(description, store_count);
    job.count_contacts = count_contacts;
    job.options = &options;
    job.update = update;
    job.log = log;
    return job;
  }
  void ShowLogPath(const std::string& path) override { shown_log_path = path; }
  void ShowStarted(bool) override { calls.push_back("started"); }
  void ShowPaused(bool) override { calls.push_back("paused"); }
  void ShowResumed(bool) override { calls.push_back("resumed"); }
  void ShowFinished(bool) override { calls.push_back("finished"); }
  void ShowReset(bool) override { calls.push_back("reset"); }
  void ShowCounters(const RunCounters&) override {}
  void ShowContactCount(std::int64_t count) override { shown_counts.push_back(count); }
  void ShowFolder(const std::string& path) override { shown_folders.push_back(path); }
  AbortAnswer AskAbort() override {
    calls.push_back("ask");
    AbortAnswer a = answers.front();
    answers.pop_front();
    return a;
  }
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  void EndProgram() override {
    calls.push_back("end");
    ++ended;
  }
  void ProcessEvents(bool wait) override {
    now += tick;
    if (events.empty()) {
      // A paused run with nobody left to press anything would wait for ever.
      if (wait) {
        ADD_FAILURE() << "paused with no event left";
        controller->Abort();
      }
      return;
    }
    auto event = std::move(events.front());
    events.pop_front();
    event();
  }
  std::string NowText() override { return "NOW"; }
};

struct Harness {
  Harness() : controller(view, log, [this] { return view.now; }) { view.controller = &controller; }
  void Press(std::function<void(RunController&)> action) {
    view.events.push_back([this, action] { action(controller); });
  }
  void Idle() {
    view.events.push_back([] {});
  }
  FakeView view;
  ActivityLog log;
  RunController controller;
};

TEST(RunController, CompletesARunAndResets) {
  Harness h;
  h.controller.Go();
  EXPECT_EQ(h.controller.State(), RunState::Finished);
  EXPECT_EQ(h.view.calls, (std::vector<std::string>{"started", "finished"}));
  EXPECT_NE(h.log.Text().find("Simulation complete - NOW"), std::string::npos);
  EXPECT_EQ(h.controller.Counters().checked, 3);
  h.controller.Go();
  EXPECT_EQ(h.controller.State(), RunState::Idle);
  EXPECT_EQ(h.log.Text(), "");
  EXPECT_EQ(h.controller.Counters().checked, 0);
  h.controller.Go();
  EXPECT_EQ(h.controller.Counters().checked, 3) << "a second run counts from zero";
}

TEST(RunController, CountsOnlyWhenTheViewAsksAndShowsOnlyACountTheStoreGives) {
  Harness h;
  h.view.store_count = 3;
  CountingStore::counted = 0;
  h.controller.Go();
  EXPECT_EQ(CountingStore::counted, 0) << "counting costs time: only when a view shows it";
  h.controller.Go();  // reset
  h.view.count_contacts = true;
  h.controller.Go();
  EXPECT_EQ(CountingStore::counted, 1);
  EXPECT_EQ(h.view.shown_counts, (std::vector<std::int64_t>{3}));
  h.controller.Go();  // reset
  h.view.shown_counts.clear();
  h.view.store_count = std::nullopt;
  h.view.count_contacts = true;
  h.controller.Go();
  EXPECT_EQ(CountingStore::counted, 2);
  EXPECT_TRUE(h.view.shown_counts.empty());
}

TEST(RunController, ShowsEachFolderAsTheWalkEntersIt) {
  Harness h;
  h.view.description = R"(
folder Work
  folder Clients
    contact A
      Home: 0171 930 8890
folder Home
)";
  h.controller.Go();
  EXPECT_EQ(h.view.shown_folders,
            (std::vector<std::string>{"\\Work", "\\Work\\Clients", "\\Home"}));
}

TEST(RunController, GoPausesAndResumesAndTheRunTimeLeavesOutThePause) {
  Harness h;
  h.Press([](RunController& c) { c.Go(); });  // pause at the first yield
  for (int i = 0; i < 10; ++i) h.Idle();      // ten seconds paused
  h.Press([](RunController& c) {
    EXPECT_EQ(c.State(), RunState::Paused);
    c.Go();
  });
  h.controller.Go();
  EXPECT_EQ(h.view.calls, (std::vector<std::string>{"started", "paused", "resumed", "finished"}));
  EXPECT_NE(h.log.Text().find("Simulation complete"), std::string::npos);
  // Pumps: 1 pause; 10 waiting; 1 resume; then 3 more yields before the walk ends.
  // Running: 1 s up to the pause, then 3 s after the resume.
  EXPECT_EQ(h.controller.RunTime(), 4s);
  EXPECT_NE(h.log.Text().find("Overall running time: 4 secs"), std::string::npos);
}

TEST(RunController, TheRunTimeLeavesOutWhatTheUserTakesToAnswer) {
  Harness h;
  // A password asked for during the run: a minute in the dialog.
  h.Press([&h](RunController& c) {
    c.HoldClock(true);
    h.view.now += 60s;
    c.HoldClock(false);
  });
  h.controller.Go();
  // Four yields of a second each; the minute is not the run's.
  EXPECT_EQ(h.controller.RunTime(), 4s);
}

struct QuitCase {
  const char* name;
  AbortAnswer answer;
  std::vector<std::string> calls;
  bool aborted;
};

class RunControllerQuit : public testing::TestWithParam<QuitCase> {};

TEST_P(RunControllerQuit, AsksWhileRunning) {
  const QuitCase& c = GetParam();
  Harness h;
  h.view.answers.push_back(c.answer);
  h.Press([](RunController& ctl) { ctl.Quit(); });
  if (c.answer == AbortAnswer::No) {
    h.Press([](RunController& ctl) {
      EXPECT_EQ(ctl.State(), RunState::Paused);
      ctl.Go();
    });
  }
  h.controller.Go();
  EXPECT_EQ(h.view.calls, c.calls);
  const std::string& log = h.log.Text();
  EXPECT_EQ(log.find(c.aborted ? "Simulation aborted" : "Simulation complete") != std::string::npos,
            true);
  EXPECT_EQ(log.find("Summary:"), log.rfind("Summary:")) << "one summary";
  EXPECT_EQ(h.controller.State(), RunState::Finished);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, RunControllerQuit,
    testing::Values(
        QuitCase{"Yes", AbortAnswer::Yes, {"started", "paused", "ask", "finished"}, true},
        QuitCase{"No", AbortAnswer::No, {"started", "paused", "ask", "resumed", "finished"}, false},
        QuitCase{"Cancel",
                 AbortAnswer::Cancel,
                 {"started", "paused", "ask", "resumed", "finished"},
                 false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RunController, QuitWhilePausedAbortsWithoutAsking) {
  Harness h;
  h.view.update = true;
  h.Press([](RunController& c) { c.Go(); });
  h.Press([](RunController& c) { c.Quit(); });
  h.controller.Go();
  EXPECT_EQ(h.view.calls, (std::vector<std::string>{"started", "paused", "finished"}));
  EXPECT_NE(h.log.Text().find("Update aborted - NOW"), std::string::npos);
  EXPECT_EQ(h.controller.Counters().folders, 0) << "aborted before the first folder was read";
}

TEST(RunController, QuitWhenIdleOrFinishedEndsAtOnce) {
  Harness h;
  h.controller.Quit();
  EXPECT_EQ(h.view.ended, 1);
  h.controller.Go();
  h.controller.Quit();
  EXPECT_EQ(h.view.ended, 2);
  EXPECT_EQ(h.view.calls.back(), "end");
}

TEST(RunController, ProfileThatWillNotOpenSaysWhyOnceAndLeavesNoLogFile) {
  const std::filesystem::path folder = FreshTestFolder("run_profile");
  Harness h;
  h.view.description = "fail open\n";
  h.view.log = LogTarget{(folder / "Dialmend Log 1.txt").string(), true};
  h.controller.Go();
  EXPECT_EQ(h.view.messages, std::vector<std::string>{"the test store will not open"});
  EXPECT_EQ(h.log.Text(), "") << "no summary of zeros";
  EXPECT_TRUE(std::filesystem::is_empty(folder));
  EXPECT_TRUE(h.controller.LogSave().Ok());
  EXPECT_EQ(h.controller.State(), RunState::Finished);
}

TEST(RunController, ClosingDuringARunAbortsAndEndsOnlyAfterTheWalkUnwinds) {
  Harness h;
  bool closed_at_once = true;
  h.Idle();
  h.Press([&](RunController& c) { closed_at_once = c.Close(); });
  h.Press([](RunController&) { ADD_FAILURE() << "the walk went on after the close"; });
  h.controller.Go();
  EXPECT_FALSE(closed_at_once);
  EXPECT_EQ(h.view.calls, (std::vector<std::string>{"started", "paused", "finished", "end"}));
  EXPECT_NE(h.log.Text().find("Simulation aborted"), std::string::npos);
  EXPECT_TRUE(h.controller.Close()) << "a finished run closes at once";
}

// The default log's number is taken by another run's log: the next one is written as the run
// goes, and the view shown its path.
TEST(RunController, UpdateWritesTheLogFileAsTheRunGoes) {
  Harness h;
  const std::filesystem::path dir = FreshTestFolder("run_log");
  WriteTestFile(dir / "Dialmend Log 1.txt", "another run's log");
  const std::filesystem::path path = dir / "Dialmend Log 2.txt";
  h.view.update = true;
  h.view.log = LogTarget{(dir / "Dialmend Log 1.txt").string(), true};
  std::string seen_before_c;
  h.Idle();  // before the folder
  h.Idle();  // before A
  h.Idle();  // before B
  h.Press([&](RunController&) { seen_before_c = ReadTestFile(path); });
  h.controller.Go();
  EXPECT_NE(seen_before_c.find("\\Work\\A\r\n  Home:         0171 930 8890 --> "),
            std::string::npos)
      << seen_before_c;
  EXPECT_NE(seen_before_c.find("\\Work\\B\r\n  Home:         0181 123 4567 --> "),
            std::string::npos)
      << seen_before_c;
  EXPECT_EQ(ReadTestFile(path), h.log.Text());
  EXPECT_EQ(ReadTestFile(dir / "Dialmend Log 1.txt"), "another run's log");
  EXPECT_NE(h.log.Text().find("Numbers updated:  2"), std::string::npos);
  EXPECT_EQ(h.controller.Counters().updated, 2);
  EXPECT_TRUE(h.controller.LogSaved());
  EXPECT_EQ(h.view.shown_log_path, path.string());
}

TEST(RunController, ALogThatCannotBeCreatedStopsTheRunBeforeItStarts) {
  Harness h;
  const std::string path = (FreshTestFolder("run_log") / "missing" / "log.txt").string();
  h.view.update = true;
  h.view.log = LogTarget{path, false};
  h.controller.Go();
  EXPECT_EQ(h.controller.State(), RunState::Idle);
  EXPECT_TRUE(h.view.calls.empty()) << "not even shown as started";
  ASSERT_EQ(h.view.messages.size(), 1u);
  EXPECT_EQ(h.view.messages[0],
            "Cannot save the log to \"" + path + "\": no such file or directory.");
  EXPECT_FALSE(h.controller.LogSave().Ok());
  EXPECT_EQ(h.controller.LogSave().Message(), h.view.messages[0]);
  EXPECT_EQ(h.log.Text(), "");
}

}  // namespace
}  // namespace dialmend
