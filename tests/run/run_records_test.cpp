#include "run/run_records.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "tests/fakes/test_folder.h"

namespace dialmend {
namespace {

namespace fs = std::filesystem;
using std::chrono::hours;

ReadVariable Variables(std::map<std::string, std::string> values) {
  return [values](const char* name) -> std::optional<std::string> {
    const auto found = values.find(name);
    if (found == values.end()) return std::nullopt;
    return found->second;
  };
}

#ifndef _WIN32
TEST(RunsFolder, IsUnderXdgStateHomeElseUnderHome) {
  EXPECT_EQ(RunsFolder(Variables({{"XDG_STATE_HOME", "/s"}, {"HOME", "/h"}})), "/s/dialmend/runs");
  EXPECT_EQ(RunsFolder(Variables({{"XDG_STATE_HOME", "rel"}, {"HOME", "/h"}})),
            "/h/.local/state/dialmend/runs")
      << "a relative XDG_STATE_HOME is ignored";
  EXPECT_EQ(RunsFolder(Variables({{"HOME", "/h"}})), "/h/.local/state/dialmend/runs");
  EXPECT_EQ(RunsFolder(Variables({})), "");
}
#else
TEST(RunsFolder, IsUnderLocalAppData) {
  EXPECT_EQ(RunsFolder(Variables({{"LOCALAPPDATA", "C:\\L"}})), "C:\\L\\Dialmend\\runs");
  EXPECT_EQ(RunsFolder(Variables({})), "");
}
#endif

TEST(RunName, IsTheLocalDateAndTimeInSortableForm) {
  const std::string name = RunName(std::chrono::system_clock::now());
  ASSERT_EQ(name.size(), 19u);
  EXPECT_EQ(name[4], '-');
  EXPECT_EQ(name[10], '_');
  EXPECT_EQ(name.find(':'), std::string::npos) << "a colon cannot be in a Windows file name";
}

// Makes a record of a run `age` ago on `store`, holding one contact.
std::string MakeRun(const fs::path& folder, hours age, StoreIdentity store = {"memory", "a"}) {
  UndoJournal journal(folder.string(), std::move(store), std::chrono::system_clock::now() - age,
                      "then");
  EXPECT_TRUE(journal.Record({{"c", -1, {}}, "\\C", {{0, PhoneField::Home, "1", "2", {}}}}).Ok());
  return journal.Path();
}

// The last thirty runs are kept, and every run of the last ninety days; other files are left.
TEST(PruneRuns, KeepsTheLastThirtyRunsAndEveryRunOfTheLastNinetyDays) {
  const struct {
    const char* name;
    int recent, old;  // runs of 40 days ago and older, of 100 days ago and older
    std::size_t kept;
  } rows[] = {{"recent ones", 40, 3, 40}, {"one too many", 0, 31, 30}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const fs::path folder = FreshTestFolder("run_records");
    for (int i = 0; i < row.recent; ++i) (void)MakeRun(folder, hours(24 * 40 + 24 * i));
    for (int i = 0; i < row.old; ++i) (void)MakeRun(folder, hours(24 * 100 + 24 * i));
    std::ofstream(folder / "notes.txt") << "mine";
    EXPECT_TRUE(PruneRuns(folder.string(), std::chrono::system_clock::now()).empty());
    EXPECT_TRUE(fs::exists(folder / "notes.txt"));
    EXPECT_EQ(ListRuns(folder.string(), {"memory", "a"}).size(), row.kept);
  }
}

TEST(ListRuns, GivesTheRunsOfOneStoreOldestFirstAndNamesTheUnreadable) {
  const fs::path folder = FreshTestFolder("run_records");
  const std::string older = MakeRun(folder, hours(48));
  (void)MakeRun(folder, hours(24), {"memory", "b"});
  const std::string newer = MakeRun(folder, hours(1));
  std::ofstream(folder / "2026-01-01_00-00-00.undo") << "garbage\n";
  std::vector<std::string> unreadable;
  const std::vector<UndoRecord> runs = ListRuns(folder.string(), {"memory", "a"}, &unreadable);
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].path, older);
  EXPECT_EQ(runs[1].path, newer);
  ASSERT_EQ(unreadable.size(), 1u);
  EXPECT_NE(unreadable[0].find("2026-01-01_00-00-00.undo"), std::string::npos);
}

TEST(ChooseRun, TakesTheNewestRunOfTheStoreOrTheOneNamed) {
  const fs::path folder = FreshTestFolder("run_records");
  const std::string older = MakeRun(folder, hours(48));
  const std::string newer = MakeRun(folder, hours(1));
  (void)MakeRun(folder, hours(0), {"memory", "b"});
  Result<UndoRecord> last = ChooseRun(folder.string(), {"memory", "a"}, "");
  ASSERT_TRUE(last.Ok()) << last.Message();
  EXPECT_EQ(last.Value().path, newer);
  const std::string name = fs::path(older).stem().string();
  for (const std::string& given : {name, name + ".undo", older}) {
    Result<UndoRecord> named = ChooseRun(folder.string(), {"memory", "a"}, given);
    ASSERT_TRUE(named.Ok()) << given << ": " << named.Message();
    EXPECT_EQ(fs::path(named.Value().path), fs::path(older)) << given;
  }
}

// A name is looked up among the records alone: a file of that name in the current folder, put
// there by anyone, never decides what an undo writes.
TEST(ChooseRun, TakesANameOnlyFromTheRecordsAndAPathOnlyWithASlash) {
  const fs::path folder = FreshTestFolder("run_records");
  const std::string record = MakeRun(folder, hours(1));
  const std::string name = fs::path(record).stem().string();
  const fs::path planted = folder / "cwd";
  fs::create_directories(planted);
  fs::copy_file(record, planted / "planted.undo");
  fs::copy_file(record, planted / (name + "_9.undo"));
  const fs::path was = fs::current_path();
  fs::current_path(planted);
  const Result<UndoRecord> by_file = ChooseRun(folder.string(), {"memory", "a"}, "planted.undo");
  const Result<UndoRecord> by_name = ChooseRun(folder.string(), {"memory", "a"}, name + "_9");
  const Result<UndoRecord> by_path = ChooseRun(folder.string(), {"memory", "a"}, "./planted.undo");
  fs::current_path(was);
  ASSERT_FALSE(by_file.Ok());
  EXPECT_NE(by_file.Message().find("is not the name of a recorded run"), std::string::npos)
      << by_file.Message();
  ASSERT_FALSE(by_name.Ok());
  EXPECT_NE(by_name.Message().find((folder / (name + "_9.undo")).string()), std::string::npos)
      << by_name.Message();
  ASSERT_TRUE(by_path.Ok()) << by_path.Message();
  EXPECT_EQ(by_path.Value().path, "./planted.undo");
}

TEST(ChooseRun, RefusesARunOfAnotherStoreAndSaysWhenThereIsNone) {
  const fs::path folder = FreshTestFolder("run_records");
  const std::string other = MakeRun(folder, hours(1), {"memory", "b"});
  Result<UndoRecord> named = ChooseRun(folder.string(), {"memory", "a"}, other);
  ASSERT_FALSE(named.Ok());
  EXPECT_NE(named.Message().find("is of another profile (memory \"b\")"), std::string::npos)
      << named.Message();
  Result<UndoRecord> last = ChooseRun(folder.string(), {"memory", "a"}, "");
  ASSERT_FALSE(last.Ok());
  EXPECT_NE(last.Message().find("there is nothing to undo"), std::string::npos) << last.Message();
}

TEST(RunsListing, GivesEachRunItsCountsAndWhetherItWasUndone) {
  UndoRecord done;
  done.name = "2026-12-07_07-05-28";
  done.contacts = 1;
  done.numbers = 1;
  done.undone = "07/12/26 08:00:01";
  UndoRecord partly;
  partly.name = "2026-12-07_08-00-00";
  partly.partly = "07/12/26 08:30:00";
  UndoRecord open;
  open.name = "2026-12-07_09-00-00";
  EXPECT_EQ(RunsListing({done, partly, open}),
            "Run                  Contacts  Numbers  Undone\n"
            "2026-12-07_07-05-28         1        1  07/12/26 08:00:01\n"
            "2026-12-07_08-00-00         0        0  partly undone 07/12/26 08:30:00\n"
            "2026-12-07_09-00-00         0        0  no\n");
}

}  // namespace
}  // namespace dialmend
