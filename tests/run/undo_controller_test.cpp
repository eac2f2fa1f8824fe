#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "run/run_controller.h"
#include "run/run_records.h"
#include "run/undo_record.h"
#include "tests/fakes/memory_store.h"
#include "tests/fakes/quiet_view.h"
#include "tests/fakes/test_folder.h"
#include "tests/run/undo_store.h"

namespace dialmend {
namespace {

namespace fs = std::filesystem;

// A view that starts an update, or an undo of the record it is given.
class UndoView : public QuietView {
 public:
  explicit UndoView(std::string folder) : m_folder(std::move(folder)) {}
  MemoryStore* store = nullptr;
  bool update = true;
  bool store_opens = true;
  const NumberOptions* options = nullptr;
  std::string undo_record;
  // What AskUndo was asked, and its answer.
  std::vector<std::string> asked;
  bool undo_answer = false;

  bool AskUndo(const std::string& started) override {
    asked.push_back(started);
    return undo_answer;
  }

  RunJob PrepareRun() override {
    RunJob job;
    // The run owns its store; this one forwards to the test's.
    struct Forward : ContactStore {
      Forward(MemoryStore& s, bool opens) : s(s), opens(opens) {}
      Status Open() override { return opens ? s.Open() : Status::Failure("it is not there"); }
      std::string CurrentUser() override { return s.CurrentUser(); }
      std::unique_ptr<FolderCursor> Folders() override { return s.Folders(); }
      StoreIdentity Identity() override { return s.Identity(); }
      std::unique_ptr<Folder> FindContacts(std::vector<ContactIdentity> ids) override {
        return s.FindContacts(std::move(ids));
      }
      MemoryStore& s;
      bool opens;
    };
    job.store = std::make_unique<Forward>(*store, store_opens);
    job.update = update;
    job.options = options;
    job.undo_record = undo_record;
    job.record_folder = m_folder;
    return job;
  }

 private:
  std::string m_folder;
};

// A controller over a memory store, its records kept in a folder of the test's own.
class ControllerUndo : public testing::Test {
 protected:
  ControllerUndo() { view.store = &store; }

  const fs::path folder = FreshTestFolder("undo_run");
  MemoryStore store{kStore};
  UndoView view{folder.string()};
  ActivityLog log;
  RunController controller{view, log};
};

TEST_F(ControllerUndo, UndoesTheUpdateItRecordedAndMarksItSoASecondUndoRestoresNothing) {
  controller.Go();
  const std::string record = controller.RecordPath();
  ASSERT_FALSE(record.empty());
  controller.Go();  // reset

  view.undo_record = record;
  controller.Go();
  EXPECT_NE(log.Text().find("Undo complete - NOW"), std::string::npos) << log.Text();
  EXPECT_NE(log.Text().find("Contacts restored: 2\r\nNumbers restored:  3\r\n"), std::string::npos);
  Result<UndoRecord> read = ReadUndoRecord(record);
  ASSERT_TRUE(read.Ok());
  EXPECT_EQ(read.Value().undone, std::optional<std::string>("NOW"));
  EXPECT_EQ(ListRuns(folder.string(), {"memory", "test"}).size(), 1u) << "an undo keeps none";
  controller.Go();  // reset

  controller.Go();
  EXPECT_EQ(controller.Counters().updated, 0);
  EXPECT_EQ(store.Find("Acme").saves, 2);
  EXPECT_NE(log.Text().find("undone on NOW: there is nothing to restore"), std::string::npos);
}

// A store gone midway ends the undo as it ends an update: one line, an aborted summary.
TEST_F(ControllerUndo, StopsAtAStoreLostMidwayWithOneLineAndAnAbortedSummary) {
  controller.Go();
  view.undo_record = controller.RecordPath();
  controller.Go();  // reset
  store.FindById("Work/Clients/Acme")->fails.insert("lose phones");
  controller.Go();
  EXPECT_NE(log.Text().find("  Stopped at \\Work\\Clients\\Acme: the test store has gone\r\n"),
            std::string::npos)
      << log.Text();
  EXPECT_EQ(log.Text().find("Could not read"), std::string::npos) << log.Text();
  EXPECT_NE(log.Text().find("Undo aborted - NOW"), std::string::npos) << log.Text();
  EXPECT_EQ(store.Find("Riverside Dental").phones[0].number, "0171 930 8890");
  EXPECT_EQ(ReadUndoRecord(view.undo_record).Value().partly, std::optional<std::string>("NOW"));
}

// The later of two updates changed the same fields again: undone first, the earlier one finds
// its own numbers; undone last, it finds the later one's and leaves them, to be tried again.
TEST_F(ControllerUndo, UndoesTwoUpdatesOfTheSameCardsInEitherOrder) {
  const auto run = [this](const std::string& record) {
    view.undo_record = record;
    controller.Go();
    controller.Go();  // reset
    return record.empty() ? controller.RecordPath() : record;
  };
  const std::string first = run("");
  NumberOptions spaced;
  spaced.style = NumberStyle::Spaces;
  view.options = &spaced;
  const std::string second = run("");
  const auto undone = [](const std::string& record) {
    return ReadUndoRecord(record).Value().undone.has_value();
  };

  view.undo_record = first;
  controller.Go();
  EXPECT_EQ(controller.Counters().left, 3);
  EXPECT_NE(log.Text().find("  The later update of NOW changed 2 contacts this undo left: undo it "
                            "first (dialmend-run --undo " +
                            fs::path(second).stem().string() + "), then this one again.\r\n"),
            std::string::npos)
      << log.Text();
  controller.Go();  // reset
  EXPECT_FALSE(undone(first));
  (void)run(second);
  EXPECT_TRUE(undone(second));
  (void)run(first);
  EXPECT_TRUE(undone(first));
  EXPECT_EQ(store.Find("Riverside Dental").phones[0].number, "0171 930 8890");
  EXPECT_EQ(store.Find("Acme").phones[0].number, "01232 123456");
}

TEST_F(ControllerUndo, UndoAsksFirstAndUndoesTheLastUpdateOnlyOnYes) {
  controller.Undo();
  EXPECT_TRUE(view.asked.empty()) << "nothing to undo before an update";
  controller.Go();
  ASSERT_FALSE(controller.RecordPath().empty());
  const std::string updated = store.Find("Acme").phones[0].number;
  ASSERT_NE(updated, "01232 123456");

  controller.Undo();
  EXPECT_EQ(view.asked, std::vector<std::string>{"NOW"});
  EXPECT_EQ(controller.State(), RunState::Finished);
  EXPECT_EQ(store.Find("Acme").phones[0].number, updated);

  // An undo writes whatever the Update box says.
  view.update = false;
  view.undo_answer = true;
  controller.Undo();
  EXPECT_EQ(view.asked.size(), 2u);
  EXPECT_EQ(controller.State(), RunState::Finished);
  EXPECT_EQ(store.Find("Acme").phones[0].number, "01232 123456");
  EXPECT_NE(log.Text().find("Undo complete - NOW"), std::string::npos) << log.Text();
  EXPECT_TRUE(controller.RecordPath().empty()) << "an undo offers no undo of its own";
  controller.Undo();
  EXPECT_EQ(view.asked.size(), 2u);
}

TEST_F(ControllerUndo, ThatCannotOpenTheStoreLeavesTheRecordToUndoLater) {
  controller.Go();
  const std::string record = controller.RecordPath();
  controller.Go();  // reset
  view.undo_record = record;
  view.store_opens = false;
  controller.Go();
  Result<UndoRecord> read = ReadUndoRecord(record);
  ASSERT_TRUE(read.Ok()) << read.Message();
  EXPECT_FALSE(read.Value().undone) << "nothing was restored";
}

TEST_F(ControllerUndo, DoesNotStartAnUndoOfARecordItCannotRead) {
  view.undo_record = (folder / "missing.undo").string();
  controller.Go();
  EXPECT_EQ(controller.State(), RunState::Idle);
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_NE(view.messages[0].find("does not exist"), std::string::npos);
  EXPECT_EQ(log.Text(), "");
}

TEST(RunController, EndsAnUpdateWhoseRecordFailsAsAborted) {
  const fs::path folder = FreshTestFolder("undo_run");
  std::ofstream(folder / "blocker") << "x";
  MemoryStore store(kStore);
  UndoView view((folder / "blocker").string());
  view.store = &store;
  ActivityLog log;
  RunController controller(view, log);
  controller.Go();
  EXPECT_NE(log.Text().find("Update aborted - NOW"), std::string::npos) << log.Text();
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_NE(view.messages[0].find("Cannot write the undo record"), std::string::npos);
}

}  // namespace
}  // namespace dialmend
