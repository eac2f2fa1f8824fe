#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "run/contact_run.h"
#include "run/run_controller.h"
#include "run/run_records.h"
#include "run/undo_record.h"
#include "tests/fakes/memory_store.h"
#include "tests/fakes/quiet_run.h"
#include "tests/fakes/quiet_view.h"
#include "tests/fakes/test_folder.h"

#ifndef _WIN32
#include "platform/system_calls.h"
#endif

namespace dialmend {
namespace {

namespace fs = std::filesystem;

class Host : public RunHost {
 public:
  bool YieldAndCheckAbort() override { return false; }
  void ProfileFailed(const std::string& reason) override { failures.push_back(reason); }
  void CountersChanged(const RunCounters&) override {}
  std::string NowText() override { return "07/12/26 07:00:00"; }
  void RecordFailed(const std::string& message) override { failures.push_back(message); }
  std::vector<std::string> failures;
};

constexpr std::string_view kStore = R"(
location test
user Ann
folder Work
  contact Riverside Dental
    Home: 0171 930 8890
    Mobile: 0370 123456
    Business: (020) 7930 8890
  contact Unchanged
    Home: (020) 7123 4567
  folder Clients
    contact Acme
      Business Fax: 01232 123456
)";

struct Fixture {
  Fixture() : store(kStore), folder(FreshTestFolder("undo_run")) {}

  RunCounters Update() {
    RunCounters counters;
    RunSettings settings{&options, true};
    settings.record_folder = folder.string();
    ContactRun run(store, settings, counters, log, host);
    run.FixContacts();
    record_path = run.RecordPath();
    return counters;
  }
  UndoRecord Record() {
    Result<UndoRecord> read = ReadUndoRecord(record_path);
    EXPECT_TRUE(read.Ok()) << read.Message();
    return read.Ok() ? read.Value() : UndoRecord{};
  }
  RunCounters Undo(const UndoRecord& record, bool update = true) {
    RunCounters counters;
    undo_log.Clear();
    ContactRun run(store, RunSettings{&options, update}, counters, undo_log, host);
    run.UndoContacts(record);
    return counters;
  }
  std::vector<std::string> Numbers(std::string_view file_as) {
    std::vector<std::string> numbers;
    for (const PhoneValue& phone : store.Find(file_as).phones) numbers.push_back(phone.number);
    return numbers;
  }

  MemoryStore store;
  fs::path folder;
  NumberOptions options;
  ActivityLog log;
  ActivityLog undo_log;
  Host host;
  std::string record_path;
};

TEST(UndoRecordOfARun, HoldsEveryChangeOfTheUpdate) {
  Fixture f;
  const RunCounters counters = f.Update();
  ASSERT_EQ(counters.updated, 2);
  const UndoRecord record = f.Record();
  EXPECT_EQ(record.store, (StoreIdentity{"memory", "test"}));
  EXPECT_EQ(record.started_text, "07/12/26 07:00:00");
  EXPECT_EQ(record.contacts, 2u);
  EXPECT_EQ(static_cast<std::int64_t>(record.numbers), counters.numbers);
  const std::vector<RecordedContact> contacts = RecordedContactsOf(f.record_path);
  ASSERT_EQ(contacts.size(), 2u);
  EXPECT_EQ(contacts[0].identity.where, "Work/Riverside Dental");
  EXPECT_EQ(contacts[0].name, "\\Work\\Riverside Dental");
  ASSERT_EQ(contacts[0].changes.size(), 2u);
  EXPECT_EQ(contacts[0].changes[0].old_number, "0171 930 8890");
  EXPECT_EQ(contacts[0].changes[0].new_number, "(020) 7930 8890");
  EXPECT_EQ(contacts[0].changes[1].index, 1u);
  EXPECT_EQ(contacts[1].identity.where, "Work/Clients/Acme");
}

TEST(UndoRecordOfARun, IsOnDiskBeforeEachContactIsSaved) {
  Fixture f;
  std::vector<std::string> seen;
#ifndef _WIN32
  static int syncs = 0;
  syncs = 0;
  Sys().fsync = [](int fd) {
    ++syncs;
    return RealSystemCalls().fsync(fd);
  };
  int syncs_at_last_save = 0;
#endif
  f.store.before_save = [&](const MemoryStore::Contact& contact) {
    const fs::path runs = f.folder;
    ASSERT_EQ(std::distance(fs::directory_iterator(runs), fs::directory_iterator()), 1);
    const std::string path = fs::directory_iterator(runs)->path().string();
    Result<UndoRecord> read = ReadUndoRecord(path);
    ASSERT_TRUE(read.Ok()) << read.Message();
    const std::vector<RecordedContact> contacts = RecordedContactsOf(path);
    ASSERT_FALSE(contacts.empty());
    EXPECT_EQ(contacts.back().identity.where, contact.id);
    seen.push_back(contact.id);
#ifndef _WIN32
    EXPECT_GT(syncs, syncs_at_last_save) << "flushed to disk before the save of " << contact.id;
    syncs_at_last_save = syncs;
#endif
  };
  (void)f.Update();
#ifndef _WIN32
  Sys() = RealSystemCalls();
#endif
  EXPECT_EQ(seen, (std::vector<std::string>{"Work/Riverside Dental", "Work/Clients/Acme"}));
}

TEST(UndoRecordOfARun, IsNotWrittenForASimulationOrWithoutAFolder) {
  Fixture f;
  RunCounters counters;
  ContactRun(f.store, RunSettings{&f.options, false, f.folder.string()}, counters, f.log, f.host)
      .FixContacts();
  ContactRun(f.store, RunSettings{&f.options, true}, counters, f.log, f.host).FixContacts();
  EXPECT_TRUE(fs::is_empty(f.folder));
}

TEST(UndoRecordOfARun, ThatCannotBeWrittenStopsTheRunBeforeAnyChange) {
  Fixture f;
  std::ofstream(f.folder / "blocker") << "a file where the folder should be";
  RunCounters counters;
  RunSettings settings{&f.options, true};
  settings.record_folder = (f.folder / "blocker" / "runs").string();
  ContactRun run(f.store, settings, counters, f.log, f.host);
  run.FixContacts();
  EXPECT_TRUE(run.RecordFailed());
  EXPECT_EQ(f.store.Find("Riverside Dental").saves, 0);
  EXPECT_EQ(f.store.Find("Acme").saves, 0);
  EXPECT_EQ(counters.updated, 0);
  EXPECT_EQ(counters.numbers, 0);
  EXPECT_EQ(counters.problems, 1);
  ASSERT_EQ(f.host.failures.size(), 1u);
  EXPECT_NE(f.host.failures[0].find("Cannot write the undo record"), std::string::npos);
  EXPECT_NE(f.log.Text().find("  Cannot write the undo record"), std::string::npos);
  EXPECT_EQ(f.log.Text().find("Acme"), std::string::npos) << "the walk stopped";
}

TEST(UndoRun, PutsBackEveryOldValue) {
  Fixture f;
  (void)f.Update();
  const RunCounters counters = f.Undo(f.Record());
  EXPECT_EQ(f.Numbers("Riverside Dental"),
            (std::vector<std::string>{"0171 930 8890", "0370 123456", "(020) 7930 8890"}));
  EXPECT_EQ(f.Numbers("Acme"), (std::vector<std::string>{"01232 123456"}));
  EXPECT_EQ(counters.updated, 2);
  EXPECT_EQ(counters.numbers, 3);
  EXPECT_EQ(counters.problems, 0);
  EXPECT_EQ(f.undo_log.Text(),
            "Dialmend Activity Log\r\n"
            "=======================\r\n\r\n"
            "Undo of the update of 07/12/26 07:00:00\r\n\r\n"
            "Commenced 07/12/26 07:00:00\r\n\r\n"
            "Restoring contacts in profile Ann\r\n\r\n"
            "\\Work\\Riverside Dental\r\n"
            "  Home:         (020) 7930 8890 --> 0171 930 8890\r\n"
            "  Mobile:       (07770) 123456 --> 0370 123456\r\n"
            "\\Work\\Clients\\Acme\r\n"
            "  Business Fax: (028) 9012 3456 --> 01232 123456\r\n");
}

TEST(UndoRun, SimulatedChangesNothing) {
  Fixture f;
  (void)f.Update();
  const auto updated = f.Numbers("Riverside Dental");
  const RunCounters counters = f.Undo(f.Record(), false);
  EXPECT_EQ(f.Numbers("Riverside Dental"), updated);
  EXPECT_EQ(counters.updated, 2);
  EXPECT_EQ(counters.numbers, 3);
  EXPECT_NE(f.undo_log.Text().find("Checking contacts in profile Ann"), std::string::npos);
}

TEST(UndoRun, LeavesAFieldChangedSinceAndNamesIt) {
  Fixture f;
  (void)f.Update();
  f.store.Edit("Riverside Dental", 0, "020 8888 1234");
  const RunCounters counters = f.Undo(f.Record());
  EXPECT_EQ(f.Numbers("Riverside Dental"),
            (std::vector<std::string>{"020 8888 1234", "0370 123456", "(020) 7930 8890"}));
  EXPECT_EQ(counters.left, 1);
  EXPECT_EQ(counters.problems, 1);
  EXPECT_EQ(counters.numbers, 2);
  EXPECT_NE(f.undo_log.Text().find("  Left Home of \\Work\\Riverside Dental as it is: it holds "
                                   "\"020 8888 1234\", not \"(020) 7930 8890\" as the update "
                                   "wrote it\r\n"),
            std::string::npos)
      << f.undo_log.Text();
}

TEST(UndoRun, AfterAnUndoThatWasStoppedPutsBackOnlyTheRest) {
  Fixture f;
  (void)f.Update();
  const UndoRecord record = f.Record();
  f.store.Edit("Riverside Dental", 0, "0171 930 8890");  // put back already
  const RunCounters counters = f.Undo(record);
  EXPECT_EQ(counters.numbers, 2);
  EXPECT_EQ(counters.problems, 0);
  EXPECT_EQ(f.Numbers("Riverside Dental")[1], "0370 123456");
}

TEST(UndoRun, OfAKilledUpdateSaysItsRecordWasCutShortAndRestoresTheRest) {
  Fixture f;
  (void)f.Update();
  std::ofstream(f.record_path, std::ios::binary | std::ios::app) << "contact\tWork/Unchan";
  const RunCounters counters = f.Undo(f.Record());
  EXPECT_EQ(counters.numbers, 3);
  EXPECT_EQ(counters.problems, 0);
  EXPECT_NE(f.undo_log.Text().find("  The undo record ends in a line cut short"), std::string::npos)
      << f.undo_log.Text();
}

TEST(UndoRun, OfAnotherStoresRecordRestoresNothing) {
  Fixture f;
  (void)f.Update();
  UndoRecord record = f.Record();
  record.store.location = "elsewhere";
  const RunCounters counters = f.Undo(record);
  EXPECT_EQ(counters.updated, 0);
  EXPECT_EQ(counters.problems, 1);
  EXPECT_EQ(f.store.Find("Acme").saves, 1);
  EXPECT_NE(f.undo_log.Text().find("is of another store"), std::string::npos);
}

TEST(UndoRun, NamesAContactThatIsGoneAndGoesOn) {
  Fixture f;
  (void)f.Update();
  std::string text = ReadTestFile(f.record_path);
  text.replace(text.find("contact\tWork/Riverside Dental\t"), 30, "contact\tWork/Gone\t");
  WriteTestFile(f.record_path, text);
  const RunCounters counters = f.Undo(f.Record());
  EXPECT_EQ(counters.updated, 1);
  EXPECT_EQ(counters.problems, 1);
  EXPECT_NE(f.undo_log.Text().find("  Could not find \\Work\\Riverside Dental: "),
            std::string::npos);
}

// A store of more contacts than the undo reads from its record at a time, each with one
// number the update changes: "C0000" holds "0171 930 0000", and so on.
constexpr std::size_t kManyContacts = kRecordChunk + 3;

std::string ManyContacts() {
  std::string description = "location test\nuser Ann\nfolder Big\n";
  for (std::size_t i = 0; i < kManyContacts; ++i) {
    char contact[64];
    std::snprintf(contact, sizeof contact, "  contact C%04zu\n    Home: 0171 930 %04zu\n", i, i);
    description += contact;
  }
  return description;
}

struct ManyFixture : Fixture {
  ManyFixture() { store = MemoryStore(ManyContacts()); }
  // Every contact holds its old number again, and the undo's log names them in record order.
  void ExpectAllRestoredInOrder() {
    const std::string text = undo_log.Text();
    std::size_t at = 0;
    for (std::size_t i = 0; i < kManyContacts; ++i) {
      char name[16];
      std::snprintf(name, sizeof name, "C%04zu", i);
      at = text.find(std::string("\\Big\\") + name + "\r\n", at);
      ASSERT_NE(at, std::string::npos) << name << " is not restored after the one before";
      char old_number[32];
      std::snprintf(old_number, sizeof old_number, "0171 930 %04zu", i);
      ASSERT_EQ(Numbers(name), std::vector<std::string>{old_number}) << name;
    }
  }
};

TEST(UndoRun, RestoresARecordOfMoreContactsThanOneChunkWholeAndInOrder) {
  ManyFixture f;
  ASSERT_EQ(f.Update().updated, static_cast<std::int64_t>(kManyContacts));
  const UndoRecord record = f.Record();
  EXPECT_EQ(record.contacts, kManyContacts);
  const RunCounters counters = f.Undo(record);
  EXPECT_EQ(counters.updated, static_cast<std::int64_t>(kManyContacts));
  EXPECT_EQ(counters.numbers, static_cast<std::int64_t>(kManyContacts));
  EXPECT_EQ(counters.problems, 0) << f.undo_log.Text().substr(0, 2000);
  f.ExpectAllRestoredInOrder();
}

TEST(UndoRun, LeavesOutATornLastLineInALaterChunk) {
  ManyFixture f;
  (void)f.Update();
  std::ofstream(f.record_path, std::ios::binary | std::ios::app) << "contact\tBig/C00";
  const UndoRecord record = f.Record();
  EXPECT_TRUE(record.torn);
  const RunCounters counters = f.Undo(record);
  EXPECT_EQ(counters.updated, static_cast<std::int64_t>(kManyContacts));
  EXPECT_EQ(counters.problems, 0) << f.undo_log.Text().substr(0, 2000);
  EXPECT_NE(f.undo_log.Text().find("  The undo record ends in a line cut short"),
            std::string::npos);
  f.ExpectAllRestoredInOrder();
}

TEST(UndoRun, StopsWithAProblemAtALineDamagedAfterTheRecordWasChecked) {
  ManyFixture f;
  (void)f.Update();
  const UndoRecord record = f.Record();
  std::ofstream(f.record_path, std::ios::binary | std::ios::app) << "what\tis\tthis\n";
  const RunCounters counters = f.Undo(record);
  EXPECT_EQ(counters.updated, static_cast<std::int64_t>(kRecordChunk)) << "the chunk before it";
  EXPECT_EQ(counters.problems, 1);
  EXPECT_NE(f.undo_log.Text().find("  Stopped: the undo record \"" + f.record_path +
                                   "\" is damaged: line "),
            std::string::npos)
      << f.undo_log.Text().substr(f.undo_log.Text().size() - 500);
}

TEST(UndoSummary, CountsWhatWasRestoredAndLeft) {
  SummaryFacts facts;
  facts.completed = true;
  facts.update = true;
  facts.undo = true;
  facts.counters.updated = 2;
  facts.counters.numbers = 3;
  facts.counters.left = 1;
  facts.counters.problems = 1;
  facts.now_text = "NOW";
  EXPECT_EQ(SummaryText(facts),
            "\r\nUndo complete - NOW\r\n\r\n"
            "Overall running time: 0 secs\r\n\r\n"
            "Summary:\r\n"
            "Contacts restored: 2\r\n"
            "Numbers restored:  3\r\n"
            "Left because changed: 1\r\n"
            "Problems: 1\r\n");
}

// A view that starts an update, or an undo of the record it is given.
class UndoView : public QuietView {
 public:
  explicit UndoView(std::string folder) : m_folder(std::move(folder)) {}
  MemoryStore* store = nullptr;
  bool update = true;
  bool store_opens = true;
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
  EXPECT_EQ(controller.Counters().updated, 2);
  EXPECT_NE(log.Text().find("Undo complete - NOW"), std::string::npos) << log.Text();
  EXPECT_NE(log.Text().find("Contacts restored: 2"), std::string::npos);
  EXPECT_EQ(store.Find("Acme").phones[0].number, "01232 123456");
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
  EXPECT_EQ(store.Find("Riverside Dental").saves, 0);
}

}  // namespace
}  // namespace dialmend
