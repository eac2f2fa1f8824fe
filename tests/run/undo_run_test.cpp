#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "run/contact_run.h"
#include "run/run_controller.h"
#include "run/run_records.h"
#include "run/undo_record.h"
#include "tests/fakes/memory_store.h"
#include "tests/fakes/quiet_run.h"
#include "tests/fakes/quiet_view.h"
#include "tests/fakes/repeatable_random.h"
#include "tests/fakes/test_folder.h"
#include "tests/fakes/test_host.h"
#include "tests/run/undo_store.h"

#ifndef _WIN32
#include "platform/system_calls.h"
#endif

namespace dialmend {
namespace {

namespace fs = std::filesystem;

struct Fixture {
  Fixture() : store(kStore), folder(FreshTestFolder("undo_run")) {}

  RunCounters Update(const NumberOptions& options = {}) {
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
    lost = run.StoreLost();
    return counters;
  }
  UndoRecord RecordAt(const std::string& path) {
    record_path = path;
    return Record();
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
  TestHost host{"07/12/26 07:00:00"};
  std::string record_path;
  bool lost = false;
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

// A simulation counts what an undo would put back and changes nothing.
TEST(UndoRun, PutsBackEveryOldValueWhereASimulationChangesNothing) {
  Fixture f;
  (void)f.Update();
  const auto updated = f.Numbers("Riverside Dental");
  const RunCounters simulated = f.Undo(f.Record(), false);
  EXPECT_EQ(f.Numbers("Riverside Dental"), updated);
  EXPECT_EQ(simulated.updated, 2);
  EXPECT_EQ(simulated.numbers, 3);
  EXPECT_NE(f.undo_log.Text().find("Checking contacts in profile Ann"), std::string::npos);
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

TEST(UndoRun, LeavesAFieldChangedSinceAndNamesIt) {
  Fixture f;
  (void)f.Update();
  f.store.Edit("Riverside Dental", 0, "020 8888 1234");
  f.store.Edit("Riverside Dental", 1, "07700 900123");
  const RunCounters counters = f.Undo(f.Record());
  EXPECT_EQ(f.Numbers("Riverside Dental"),
            (std::vector<std::string>{"020 8888 1234", "07700 900123", "(020) 7930 8890"}));
  EXPECT_EQ(counters.left, 2);
  // One problem for the contact, not one for each field left.
  EXPECT_EQ(counters.problems, 1);
  EXPECT_EQ(counters.numbers, 1);
  EXPECT_NE(f.undo_log.Text().find("  Left Home as it is: it holds \"020 8888 1234\", not "
                                   "\"(020) 7930 8890\" as the update wrote it\r\n"),
            std::string::npos)
      << f.undo_log.Text();
  EXPECT_EQ(f.Record().partly, std::optional<std::string>("07/12/26 07:00:00"));
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

TEST(UndoRun, NamesAContactThatIsGoneOrAValueThatIsNoNumberAndGoesOn) {
  Fixture f;
  (void)f.Update();
  UndoJournal journal((f.folder / "made").string(), {"memory", "test"},
                      std::chrono::system_clock::now(), "then");
  ASSERT_TRUE(
      journal.Record({{"Work/Gone", -1, {}}, "\\Work\\Gone", {{0, PhoneField::Home, "1", "2", {}}}})
          .Ok());
  ASSERT_TRUE(
      journal
          .Record({{"Work/Riverside Dental", -1, {}},
                   "\\Work\\Riverside Dental",
                   {{0, PhoneField::Home, "0171 930 8890\r\nX-INJECTED:yes", "(020) 7930 8890", {}},
                    {1, PhoneField::Mobile, "0370 123456", "(07770) 123456", {}}}})
          .Ok());
  ASSERT_TRUE(journal.Close().Ok());
  const RunCounters counters = f.Undo(f.RecordAt(journal.Path()));
  EXPECT_EQ(counters.not_found, 1);
  EXPECT_EQ(counters.numbers, 1);
  EXPECT_EQ(counters.problems, 2);
  EXPECT_EQ(f.Numbers("Riverside Dental")[0], "(020) 7930 8890");
  EXPECT_EQ(f.Numbers("Riverside Dental")[1], "0370 123456");
  EXPECT_NE(f.undo_log.Text().find("  Could not find \\Work\\Gone (the undo record's line 5): "),
            std::string::npos)
      << f.undo_log.Text();
  EXPECT_NE(f.undo_log.Text().find("  Left Home as it is: the undo record's line 9 gives an old "
                                   "number with a line break or another control character\r\n"),
            std::string::npos)
      << f.undo_log.Text();
}

// Each kind of damage a record may take: it is said, and nothing is restored wrong.
TEST(UndoRun, SaysWhatIsDamagedInARecordAndRestoresTheRest) {
  struct Row {
    const char* name;
    std::function<std::string(std::string)> damage;
    std::int64_t numbers;
    std::int64_t problems;
    const char* said;
  };
  const Row rows[] = {
      {"torn last line", [](std::string text) { return text + "contact\tWork/Unchan"; }, 3, 0,
       "  The undo record ends in a line cut short"},
      {"cut after a contact", [](std::string text) { return text.substr(0, text.rfind("end\t")); },
       3, 1, "  The undo record has no closing line: the update was stopped before it ended"},
      {"a digit changed",
       [](std::string text) { return text.replace(text.find("0171 930 8890"), 1, "1"); }, 1, 1,
       "  Left \\Work\\Riverside Dental (the undo record's line 5) as it is: its lines do not "
       "match their sum, so nothing of it is restored\r\n"},
      {"cut within a contact", [](std::string text) { return text.substr(0, text.rfind("sum\t")); },
       2, 2,
       "  Left \\Work\\Clients\\Acme (the undo record's line 9) as it is: its lines end before "
       "their sum"},
  };
  for (const Row& row : rows) {
    Fixture f;
    (void)f.Update();
    WriteTestFile(f.record_path, row.damage(ReadTestFile(f.record_path)));
    const RunCounters counters = f.Undo(f.Record());
    EXPECT_EQ(counters.numbers, row.numbers) << row.name << "\n" << f.undo_log.Text();
    EXPECT_EQ(counters.problems, row.problems) << row.name;
    EXPECT_NE(f.undo_log.Text().find(row.said), std::string::npos) << row.name << "\n"
                                                                   << f.undo_log.Text();
  }
}

TEST(UndoRun, RestoresARecordOfTheFirstVersionWithoutSums) {
  Fixture f;
  (void)f.Update();
  WriteTestFile(f.folder / "old.undo",
                "dialmend-undo-record\t1\nstore\tmemory\ttest\n"
                "started\t2026-12-07 07:00:00\tthen\n"
                "contact\tWork/Clients/Acme\t-1\t\t\\\\Work\\\\Clients\\\\Acme\n"
                "field\t0\tBusiness Fax\t01232 123456\t(028) 9012 3456\n");
  const RunCounters counters = f.Undo(f.RecordAt((f.folder / "old.undo").string()));
  EXPECT_EQ(counters.numbers, 1);
  EXPECT_EQ(counters.problems, 0) << f.undo_log.Text();
  EXPECT_EQ(f.Numbers("Acme")[0], "01232 123456");
  EXPECT_TRUE(f.Record().undone);
}

// 1 to 4 bytes of a record changed at random: the record or the contacts they hit are refused,
// and no field ever gets a number that is neither its old one nor the one the update wrote.
TEST(UndoRun, NeverRestoresAWrongNumberFromARandomlyDamagedRecord) {
  Fixture f;
  (void)f.Update();
  const std::string record = ReadTestFile(f.record_path);
  const MemoryStore updated = f.store;
  const MemoryStore original(kStore);
  RepeatableRandom random(2026);
  int refused = 0, contact_refused = 0, whole = 0, wrong = 0;
  constexpr int kTrials = 300;
  for (int trial = 0; trial < kTrials; ++trial) {
    std::string damaged = record;
    for (std::uint32_t n = 1 + random.Next(4); n > 0; --n) {
      damaged[random.Next(static_cast<std::uint32_t>(damaged.size()))] =
          static_cast<char>(random.Next(256));
    }
    WriteTestFile(f.record_path, damaged);
    f.store = updated;
    Result<UndoRecord> read = ReadUndoRecord(f.record_path);
    if (!read.Ok()) {
      ++refused;
      continue;
    }
    (void)f.Undo(read.Value());
    bool all_old = true;
    for (const char* name : {"Riverside Dental", "Unchanged", "Acme"}) {
      const std::vector<PhoneValue>& now = f.store.Find(name).phones;
      for (std::size_t i = 0; i < now.size(); ++i) {
        const std::string& before = original.Find(name).phones[i].number;
        all_old = all_old && now[i].number == before;
        wrong += now[i].number != before && now[i].number != updated.Find(name).phones[i].number;
      }
    }
    ++(all_old ? whole : contact_refused);
  }
  RecordProperty("refused", refused);
  RecordProperty("contact_refused", contact_refused);
  RecordProperty("whole", whole);
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(refused + contact_refused + whole, kTrials);
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

// Every chunk is restored whole and in order, a torn last line in the last one left out.
TEST(UndoRun, RestoresARecordOfMoreContactsThanOneChunkLeavingOutATornLastLine) {
  ManyFixture f;
  ASSERT_EQ(f.Update().updated, static_cast<std::int64_t>(kManyContacts));
  std::ofstream(f.record_path, std::ios::binary | std::ios::app) << "contact\tBig/C00";
  const UndoRecord record = f.Record();
  EXPECT_TRUE(record.torn);
  EXPECT_EQ(record.contacts, kManyContacts);
  const RunCounters counters = f.Undo(record);
  EXPECT_EQ(counters.updated, static_cast<std::int64_t>(kManyContacts));
  EXPECT_EQ(counters.numbers, static_cast<std::int64_t>(kManyContacts));
  EXPECT_EQ(counters.problems, 0) << f.undo_log.Text().substr(0, 2000);
  EXPECT_NE(f.undo_log.Text().find("  The undo record ends in a line cut short"),
            std::string::npos);
  f.ExpectAllRestoredInOrder();
}

TEST(UndoRun, StopsWithAProblemAtALineDamagedAfterTheRecordWasChecked) {
  ManyFixture f;
  (void)f.Update();
  const UndoRecord record = f.Record();
  std::ofstream(f.record_path, std::ios::binary | std::ios::app)
      << "undone\tnow\t0000000000000000\n";
  const RunCounters counters = f.Undo(record);
  EXPECT_EQ(counters.updated, static_cast<std::int64_t>(kRecordChunk)) << "the chunk before it";
  EXPECT_EQ(counters.problems, 1);
  EXPECT_NE(f.undo_log.Text().find("  Stopped: the undo record \"" + f.record_path +
                                   "\" is damaged: line "),
            std::string::npos)
      << f.undo_log.Text().substr(f.undo_log.Text().size() - 500);
}

}  // namespace
}  // namespace dialmend
