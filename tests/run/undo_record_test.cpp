#include "run/undo_record.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "run/undo_record_format.h"
#include "tests/fakes/quiet_run.h"
#include "tests/fakes/test_folder.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>

#include "platform/system_calls.h"
#endif

namespace dialmend {
namespace {

namespace fs = std::filesystem;

const std::chrono::system_clock::time_point kStart = std::chrono::system_clock::now();

RecordedContact Ann() {
  return {{"/book/ann.vcf", -1, {}, "key\tof ann"},
          "\\Book\\Ann",
          {{0, PhoneField::Home, "0171 930 8890", "(020) 7930 8890", {}},
           {2, PhoneField::Mobile, "0370\t1\\2", "line\nbreak\r", "0370=09\r\n 1\\2"}}};
}

TEST(UndoJournal, WritesWhatItRecordsSoItReadsBackTheSame) {
  const fs::path folder = FreshTestFolder("undo_record");
  UndoJournal journal(folder.string(), {"vCard folder", "/book\tshelf"}, kStart, "07/12/26 07:00");
  ASSERT_TRUE(journal.Record(Ann()).Ok());
  RecordedContact bob{{"/book/all.vcf", 3, "etag\"1"}, "\\Book\\Bob", {}};
  bob.changes.push_back({1, PhoneField::Business, "01232 123456", "(028) 9012 3456", {}});
  ASSERT_TRUE(journal.Record(bob).Ok());
  ASSERT_TRUE(journal.Sync().Ok());

  Result<UndoRecord> read = ReadUndoRecord(journal.Path());
  ASSERT_TRUE(read.Ok()) << read.Message();
  const UndoRecord& record = read.Value();
  EXPECT_EQ(record.store, (StoreIdentity{"vCard folder", "/book\tshelf"}));
  EXPECT_EQ(record.started_text, "07/12/26 07:00");
  EXPECT_EQ(record.started.size(), 19u);
  EXPECT_EQ(record.contacts, 2u);
  EXPECT_EQ(record.numbers, 3u);
  const std::vector<RecordedContact> contacts = RecordedContactsOf(journal.Path());
  ASSERT_EQ(contacts.size(), 2u);
  EXPECT_EQ(contacts[0].identity, Ann().identity);
  EXPECT_EQ(contacts[0].name, "\\Book\\Ann");
  EXPECT_EQ(contacts[0].line, 5u) << "after the header and its sum";
  EXPECT_EQ(contacts[1].line, 9u);
  ASSERT_EQ(contacts[0].changes.size(), 2u);
  EXPECT_EQ(contacts[0].changes[1].index, 2u);
  EXPECT_EQ(contacts[0].changes[1].field, PhoneField::Mobile);
  EXPECT_EQ(contacts[0].changes[1].old_number, "0370\t1\\2");
  EXPECT_EQ(contacts[0].changes[1].new_number, "line\nbreak\r");
  EXPECT_EQ(contacts[0].changes[1].old_form, "0370=09\r\n 1\\2");
  EXPECT_EQ(contacts[0].changes[0].old_form, "");
  EXPECT_EQ(contacts[1].identity, bob.identity);
  EXPECT_FALSE(record.undone);
  EXPECT_FALSE(record.torn);
  EXPECT_FALSE(record.closed) << "an update that has not ended";
  EXPECT_EQ(record.name, fs::path(journal.Path()).stem().string());
  ASSERT_TRUE(journal.Close().Ok());
  EXPECT_TRUE(ReadUndoRecord(journal.Path()).Value().closed);
  // One line a fact whatever the values: header (3) and its sum, then each contact and its
  // fields with a sum, and the closing line.
  const std::string text = ReadTestFile(journal.Path());
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 12);
  EXPECT_EQ(text.find('\r'), std::string::npos);
}

TEST(UndoJournal, GivesAContactTheVersionItsSaveRecorded) {
  const fs::path folder = FreshTestFolder("undo_record");
  UndoJournal journal(folder.string(), {"CardDAV", "https://dav.example.org/"}, kStart, "now");
  RecordedContact ann = Ann();
  ann.identity.tag = "\"read-1\"";
  ASSERT_TRUE(journal.Record(ann).Ok());
  ASSERT_TRUE(journal.RecordSaved("\"written\\2\"").Ok());
  ASSERT_TRUE(journal.Record(Ann()).Ok());
  ASSERT_TRUE(journal.Sync().Ok());

  Result<UndoRecord> read = ReadUndoRecord(journal.Path());
  ASSERT_TRUE(read.Ok()) << read.Message();
  const std::vector<RecordedContact> contacts = RecordedContactsOf(journal.Path());
  ASSERT_EQ(contacts.size(), 2u);
  EXPECT_EQ(contacts[0].identity.tag, "\"written\\2\"");
  EXPECT_EQ(contacts[0].changes.size(), 2u);
  EXPECT_EQ(contacts[1].identity.tag, "");
}

TEST(UndoJournal, LeavesNoFileWhenNothingIsRecorded) {
  const fs::path folder = FreshTestFolder("undo_record") / "runs";
  {
    UndoJournal journal(folder.string(), {"memory", "x"}, kStart, "now");
    EXPECT_TRUE(journal.Sync().Ok());
    EXPECT_EQ(journal.Path(), "");
  }
  EXPECT_FALSE(fs::exists(folder));
}

TEST(UndoJournal, MakesItsFolderAndGivesTwoRunsOfOneSecondTwoNames) {
  const fs::path folder = FreshTestFolder("undo_record") / "state" / "runs";
  UndoJournal first(folder.string(), {"memory", "x"}, kStart, "now");
  UndoJournal second(folder.string(), {"memory", "x"}, kStart, "now");
  ASSERT_TRUE(first.Record(Ann()).Ok());
  ASSERT_TRUE(second.Record(Ann()).Ok());
  EXPECT_NE(first.Path(), second.Path());
  EXPECT_TRUE(fs::is_regular_file(first.Path()));
  EXPECT_TRUE(fs::is_regular_file(second.Path()));
}

#ifndef _WIN32
// sudo often keeps the user's HOME: records made by root there would stop the user's own runs.
TEST(UndoJournal, RunAsRootMakesTheRecordAndItsFoldersTheOwnersOfTheFolderAbove) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root can give a file away";
  const fs::path home = FreshTestFolder("undo_record") / "home";
  fs::create_directories(home);
  ASSERT_EQ(::chown(home.c_str(), 65534, 65534), 0);
  UndoJournal journal((home / ".local" / "state" / "runs").string(), {"memory", "x"}, kStart,
                      "now");
  ASSERT_TRUE(journal.Record(Ann()).Ok());
  for (const fs::path& made : {home / ".local", home / ".local" / "state",
                               home / ".local" / "state" / "runs", fs::path(journal.Path())}) {
    struct stat info {};
    ASSERT_EQ(::stat(made.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 65534u) << made;
  }
}
#endif

TEST(UndoJournal, FailsWithAMessageWhenItsFolderCannotBeMadeOrIsNotKnown) {
  const fs::path folder = FreshTestFolder("undo_record");
  WriteTestFile(folder / "file", "not a folder");
  UndoJournal journal((folder / "file" / "runs").string(), {"memory", "x"}, kStart, "now");
  const Status recorded = journal.Record(Ann());
  ASSERT_FALSE(recorded.Ok());
  EXPECT_NE(recorded.Message().find("Cannot write the undo record"), std::string::npos)
      << recorded.Message();
  EXPECT_FALSE(journal.Sync().Ok()) << "a failed record stays failed";
  UndoJournal nowhere("", {"memory", "x"}, kStart, "now");
  const Status unknown = nowhere.Record(Ann());
  ASSERT_FALSE(unknown.Ok());
  EXPECT_NE(unknown.Message().find("HOME"), std::string::npos) << unknown.Message();
}

#ifndef _WIN32
// Makes every fsync fail while it lives, as a failing disk would.
struct FailingFsync {
  FailingFsync() {
    Sys().fsync = [](int) {
      errno = EIO;
      return -1;
    };
  }
  ~FailingFsync() { Sys() = RealSystemCalls(); }
};

TEST(UndoJournal, SyncFailsWhenTheDiskRefusesAndEveryLaterRecordFailsToo) {
  const fs::path folder = FreshTestFolder("undo_record");
  UndoJournal journal(folder.string(), {"memory", "x"}, kStart, "now");
  ASSERT_TRUE(journal.Record(Ann()).Ok());
  {
    FailingFsync failing;
    const Status synced = journal.Sync();
    ASSERT_FALSE(synced.Ok());
    EXPECT_NE(synced.Message().find(journal.Path()), std::string::npos) << synced.Message();
  }
  EXPECT_FALSE(journal.Record(Ann()).Ok());
}

TEST(UndoJournal, SyncsOnlyWhenSomethingIsNew) {
  const fs::path folder = FreshTestFolder("undo_record");
  UndoJournal journal(folder.string(), {"memory", "x"}, kStart, "now");
  ASSERT_TRUE(journal.Record(Ann()).Ok());
  ASSERT_TRUE(journal.Sync().Ok());
  FailingFsync failing;
  EXPECT_TRUE(journal.Sync().Ok()) << "nothing new: no flush to disk";
}
#endif

TEST(ReadUndoRecord, RefusesEachBadFileWithAClearMessage) {
  const fs::path folder = FreshTestFolder("undo_record");
  const std::string header =
      "dialmend-undo-record\t1\nstore\tmemory\tx\nstarted\t2026-12-07 07:00:00\tnow\n";
  // A record of this version, its header's sum right and its closing line's count wrong.
  UndoJournal journal(folder.string(), {"memory", "x"}, kStart, "now");
  ASSERT_TRUE(journal.Record(Ann()).Ok());
  const std::string good = ReadTestFile(journal.Path());
  std::string other_store = good;
  other_store.replace(other_store.find("memory"), 6, "memorx");
  struct Row {
    const char* name;
    std::string text;
    const char* said;
  };
  const Row rows[] = {
      {"empty", "", "is empty"},
      {"other", "BEGIN:VCARD\n", "is not an undo record"},
      {"newer", "dialmend-undo-record\t3\n", "newer version of Dialmend"},
      {"header", other_store, "its first lines do not match their sum"},
      {"miscounted", good + SelfCheckedLine("end\t2\t2") + "\n",
       "its closing line counts 2 contacts and 2 numbers, but 1 contacts are recorded"},
      {"damaged", header + "field\t0\tHome\ta\tb\n", "line 4 cannot be read"},
      {"unknown", header + "what\tis\tthis\n", "line 4 cannot be read"},
      {"bad escape", header + "contact\t\\q\t-1\t\tx\n", "line 4 cannot be read"},
      {"unknown field", header + "contact\tp\t-1\t\tx\nfield\t0\tNope\ta\tb\n", "line 5"},
      {"no store", "dialmend-undo-record\t1\n", "is incomplete"},
  };
  for (const Row& row : rows) {
    const fs::path path = folder / (std::string(row.name) + ".undo");
    WriteTestFile(path, row.text);
    Result<UndoRecord> read = ReadUndoRecord(path.string());
    ASSERT_FALSE(read.Ok()) << row.name;
    EXPECT_NE(read.Message().find(row.said), std::string::npos)
        << row.name << ": " << read.Message();
    EXPECT_NE(read.Message().find(path.string()), std::string::npos) << row.name;
  }
  Result<UndoRecord> missing = ReadUndoRecord((folder / "gone.undo").string());
  ASSERT_FALSE(missing.Ok());
  EXPECT_NE(missing.Message().find("does not exist"), std::string::npos) << missing.Message();
}

TEST(MarkUndone, MarksARecordPartlyThenWholeAfterCuttingATornLineAndFailsForOneNotThere) {
  const fs::path folder = FreshTestFolder("undo_record");
  UndoJournal journal(folder.string(), {"memory", "x"}, kStart, "now");
  ASSERT_TRUE(journal.Record(Ann()).Ok());
  ASSERT_TRUE(journal.Close().Ok());
  const std::string path = journal.Path();
  std::ofstream(path, std::ios::binary | std::ios::app) << "partly\t07/1";
  ASSERT_TRUE(MarkUndone(path, "07/12/26 08:00", true).Ok());
  Result<UndoRecord> read = ReadUndoRecord(path);
  ASSERT_TRUE(read.Ok()) << read.Message();
  EXPECT_EQ(read.Value().partly, std::optional<std::string>("07/12/26 08:00"));
  EXPECT_FALSE(read.Value().undone);
  EXPECT_EQ(read.Value().numbers, 2u);
  ASSERT_TRUE(MarkUndone(path, "07/12/26 09:00").Ok());
  EXPECT_EQ(ReadUndoRecord(path).Value().undone, std::optional<std::string>("07/12/26 09:00"));
  const Status gone = MarkUndone((folder / "gone.undo").string(), "now");
  ASSERT_FALSE(gone.Ok());
  EXPECT_NE(gone.Message().find("gone.undo"), std::string::npos) << gone.Message();
}

TEST(UndoRecord, WritesBackOnlyNumbersWithoutControlsAndFormsFoldedAsAValueIs) {
  struct Row {
    std::string text;
    bool number;
    bool form;
  };
  const Row rows[] = {
      {"0171 930 8890", true, true},
      {"+44 (0)20 7946 0190 ext. 12", true, true},
      {"0171 930\r\n 8890", false, true},
      {"0171=20930=\r\n 8890", false, true},
      {"0171 930\n\t8890", false, true},
      {"0171 930 8890\r\nX-INJECTED:yes", false, false},
      {"0171 930=\r\nX-INJECTED:yes", false, false},
      {"0171 930 8890\r\n", false, false},
      {"0171\t930", false, false},
      {std::string("0171\0 930", 9), false, false},
      {"0171\x7F", false, false},
      {"0171\xC2\x85 930", false, false},
      {"0171\xE2\x80\xA8 930", false, false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(IsWritableNumber(row.text), row.number) << row.text;
    EXPECT_EQ(IsWritableForm(row.text), row.form) << row.text;
  }
}

}  // namespace
}  // namespace dialmend
