#include "run/contact_run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "run/log_file.h"
#include "tests/fakes/memory_store.h"
#include "tests/fakes/test_folder.h"
#include "tests/fakes/test_host.h"

namespace dialmend {
namespace {

struct Fixture : RunParts {
  explicit Fixture(std::string_view description, bool update = false)
      : RunParts(update), store(description) {}
  void Run() {
    ContactRun run(store, settings, counters, log, host);
    run.FixContacts();
  }
  MemoryStore store;
};

constexpr std::string_view kHeader = kRunLogHeader;

constexpr std::string_view kWorkStore = R"(
user Alice Example
folder Work
  contact Riverside Dental
    Home: 0171 930 8890
    Mobile: 0370 123456
    Business: (020) 7930 8890
  group Team
  contact Unchanged Ltd
    Business: (020) 7123 4567
  folder Clients
    contact Acme
      Business Fax: 01232 123456
folder Calendar [calendar] [fail items]
  folder Contacts Below Calendar
    contact Zoe
      Car: 0181 123 4567
folder Empty
)";

TEST(ContactRun, SimulationWalksFoldersDepthFirstReportsEveryChangeAndWritesNothing) {
  Fixture f(kWorkStore);
  f.Run();
  EXPECT_FALSE(f.store.Writing());
  EXPECT_EQ(f.store.Assignments(), 0);
  EXPECT_EQ(f.store.Find("Riverside Dental").saves, 0);
  // Folders: Work, Clients, Calendar, Contacts Below Calendar, Empty; items: 3 + 1 + 1.
  EXPECT_EQ(f.host.yields, 5 + 5) << "a yield on every folder and before every item";
  EXPECT_EQ(f.log.Text(), std::string(kHeader) +
                              "Checking contacts in profile Alice Example\r\n\r\n"
                              "\\Work\\Riverside Dental\r\n"
                              "  Home:         0171 930 8890 --> (020) 7930 8890\r\n"
                              "  Mobile:       0370 123456 --> (07770) 123456\r\n"
                              "\\Work\\Clients\\Acme\r\n"
                              "  Business Fax: 01232 123456 --> (028) 9012 3456\r\n"
                              "\\Calendar\\Contacts Below Calendar\\Zoe\r\n"
                              "  Car:          0181 123 4567 --> (020) 8123 4567\r\n");
  EXPECT_EQ(f.counters.folders, 5);
  EXPECT_EQ(f.counters.checked, 4);
  EXPECT_EQ(f.counters.updated, 3);
  EXPECT_EQ(f.counters.numbers, 4);
  EXPECT_EQ(f.counters.problems, 0);
}

TEST(ContactRun, UpdateSavesEachChangedContactOnceAndOnlyThose) {
  Fixture f(kWorkStore, /*update=*/true);
  f.Run();
  EXPECT_NE(f.log.Text().find("Updating contacts in profile Alice Example"), std::string::npos);
  const auto& dental = f.store.Find("Riverside Dental");
  EXPECT_EQ(dental.saves, 1);
  EXPECT_EQ(dental.phones[0].number, "(020) 7930 8890");
  EXPECT_EQ(dental.phones[1].number, "(07770) 123456");
  EXPECT_EQ(dental.phones[2].number, "(020) 7930 8890");
  EXPECT_EQ(f.store.Find("Unchanged Ltd").saves, 0);
  EXPECT_EQ(f.store.Assignments(), 4);
  EXPECT_EQ(f.store.LiveItems(), 0);
}

struct AbortCase {
  const char* name;
  int abort_at_yield;
  std::int64_t folders;
  std::int64_t checked;
  const char* last_contact;  // the last contact report in the log, "" for none
};

class ContactRunAbort : public testing::TestWithParam<AbortCase> {};

TEST_P(ContactRunAbort, StopsAtTheYieldItWasAbortedIn) {
  const AbortCase& c = GetParam();
  Fixture f(kWorkStore);
  f.host.on_yield = [&c](int yield) { return yield >= c.abort_at_yield; };
  f.Run();
  EXPECT_EQ(f.host.yields, c.abort_at_yield) << "no yield after the abort";
  EXPECT_EQ(f.counters.folders, c.folders);
  EXPECT_EQ(f.counters.checked, c.checked);
  const auto at = f.log.Text().rfind("\r\n\\");
  const std::string last =
      at == std::string::npos
          ? ""
          : f.log.Text().substr(at + 2, f.log.Text().find("\r\n", at + 2) - at - 2);
  EXPECT_EQ(last, c.last_contact);
}

// Yields: 1 Work, 2-4 its items, 5 Clients, 6 Acme, 7 Calendar, 8 Contacts Below, 9 Zoe, 10 Empty.
INSTANTIATE_TEST_SUITE_P(
    Points, ContactRunAbort,
    testing::Values(
        AbortCase{"EnteringFirstFolder", 1, 0, 0, ""}, AbortCase{"BeforeFirstItem", 2, 0, 0, ""},
        AbortCase{"BetweenItems", 4, 0, 1, "\\Work\\Riverside Dental"},
        AbortCase{"EnteringSubfolderKeepsParentCounted", 5, 1, 2, "\\Work\\Riverside Dental"},
        AbortCase{"InSubfolderItems", 6, 1, 2, "\\Work\\Riverside Dental"},
        AbortCase{"EnteringLastFolder", 10, 4, 4, "\\Calendar\\Contacts Below Calendar\\Zoe"}),
    [](const auto& info) { return std::string(info.param.name); });

// The reason goes to the host alone: a log of its own would tell it twice.
TEST(ContactRun, ProfileThatWillNotOpenOrNameItsUserWritesNothing) {
  for (const char* failure : {"fail open\n", "fail user\n"}) {
    Fixture f(std::string(failure) + "folder Work\n  contact A\n    Home: 0171 930 8890\n",
              /*update=*/true);
    f.Run();
    EXPECT_EQ(f.log.Text(), "") << failure;
    EXPECT_EQ(f.host.failures.size(), 1u) << failure;
    EXPECT_EQ(f.counters.folders, 0) << failure;
  }
}

// One store each: what the log holds and leaves out, and the counters.
struct WalkRow {
  const char* name;
  std::string store;
  std::vector<std::string> in_log;
  std::vector<std::string> not_in_log;
  RunCounters counters;  // folders, checked, updated, numbers, problems
  NumberStyle style = NumberStyle::Brackets;
};

class ContactRunWalk : public testing::TestWithParam<WalkRow> {};

TEST_P(ContactRunWalk, LogsAndCountsWhatItMet) {
  const WalkRow& row = GetParam();
  Fixture f(row.store, /*update=*/true);
  f.options.style = row.style;
  f.Run();
  const std::string& log = f.log.Text();
  for (const std::string& line : row.in_log) EXPECT_NE(log.find(line), std::string::npos) << log;
  for (const std::string& text : row.not_in_log)
    EXPECT_EQ(log.find(text), std::string::npos) << log;
  EXPECT_EQ(f.counters.folders, row.counters.folders);
  EXPECT_EQ(f.counters.checked, row.counters.checked);
  EXPECT_EQ(f.counters.updated, row.counters.updated);
  EXPECT_EQ(f.counters.numbers, row.counters.numbers);
  EXPECT_EQ(f.counters.problems, row.counters.problems);
}

INSTANTIATE_TEST_SUITE_P(
    Stores, ContactRunWalk,
    testing::Values(
        WalkRow{"ProfileWithoutFoldersWritesTheHeaderOnly",
                "user Bob\n",
                {std::string(kHeader) + "Updating contacts in profile Bob\r\n\r\n"},
                {"\\"},
                {}},
        WalkRow{"PassesOverGroupsAndOtherItemsWithoutAWord",
                "folder Work\n  group Team [fail phones]\n  other Meeting Notes [fail phones]\n"
                "  contact Riverside Dental\n    Home: 0171 930 8890\n",
                {},
                {"Team", "Meeting Notes"},
                {1, 1, 1, 1, 0}},
        // A store that goes away ends the walk with one line.
        WalkRow{"LostStoreEndsTheWalkWithOneLine",
                "folder Work\n  contact Riverside Dental\n    Home: 0171 930 8890\n"
                "  contact Gone [lose phones]\n  contact After\n    Home: 0171 930 8890\n"
                "folder Later\n  contact Later Ltd\n    Home: 0171 930 8890\n",
                {"  Stopped at \\Work\\Gone: the test store has gone\r\n"},
                {"After", "Later"},
                {0, 1, 1, 1, 1}},
        WalkRow{"NumberTheStoreCannotHoldIsReportedNotChanged",
                "folder Work\n  contact Uri [refuse 020]\n    Home: 0171 930 8890\n"
                "    Mobile: 0370 123456\n",
                {"  Could not change Home of \\Work\\Uri: the store cannot hold \"020\"\r\n",
                 "0370 123456 --> (07770) 123456"},
                {},
                {1, 1, 1, 1, 1}},
        WalkRow{"ContactWithoutFilingNameEndsItsLineInABackslash",
                "folder Work\n  contact\n    Home: 0171 930 8890\n",
                {"\r\n\\Work\\\r\n  Home:"},
                {},
                {1, 1, 1, 1, 0}},
        // A control character in a name is written out; other bytes, a backslash too, stay.
        WalkRow{"WritesOutControlCharactersOfNames",
                "folder Zed\t\xC2\x85\n  contact A\x1b\x7f\xE2\x80\xA8\xE2\x80\xA9\xC3\xA9 \\x\n"
                "    Home: 0171 930 8890\n",
                {"\r\n\\Zed\\t\\u0085\\A\\x1B\\x7F\\u2028\\u2029\xC3\xA9 \\x\r\n"},
                {},
                {1, 1, 1, 1, 0}},
        WalkRow{"ChangeOfSpacingAloneCounts",
                "folder Work\n  contact A\n    Home: (020)  7930 8890\n    Other: 020 79308890\n",
                {},
                {},
                {1, 1, 1, 2, 0}},
        WalkRow{"ReadsTheOptionsForEveryNumber",
                "folder Work\n  contact A\n    Home: 0171 930 8890\n",
                {"--> 02079308890\r\n"},
                {},
                {1, 1, 1, 1, 0},
                NumberStyle::Compact}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ContactRun, StoreFailuresAreLoggedSkippedAndCounted) {
  Fixture f(R"(
folder Work
  contact Broken Card [fail read]
  contact Bad Kind [fail kind]
  contact No Phones [fail phones]
  contact Riverside Dental [fail save]
    Home: 0171 930 8890
  contact Fine
    Home: 0181 123 4567
  folder Locked [fail items]
    contact Hidden
      Home: 0171 930 8890
  folder After
)",
            /*update=*/true);
  f.Run();
  const std::string& log = f.log.Text();
  EXPECT_NE(
      log.find("  Could not read \\Work\\Broken Card.item: read refused by the test store\r\n"),
      std::string::npos);
  EXPECT_NE(log.find("  Could not read \\Work\\Bad Kind: kind refused"), std::string::npos);
  EXPECT_NE(log.find("  Could not read \\Work\\No Phones: phones refused"), std::string::npos);
  EXPECT_NE(
      log.find("  Could not save \\Work\\Riverside Dental: save refused by the test store\r\n"),
      std::string::npos);
  EXPECT_NE(log.find("  Could not read folder \\Work\\Locked: items refused"), std::string::npos);
  EXPECT_EQ(log.find("\\Work\\Riverside Dental\r\n"), std::string::npos)
      << "not reported as changed";
  EXPECT_NE(log.find("\\Work\\Fine\r\n  Home:"), std::string::npos);
  EXPECT_EQ(f.counters.problems, 5);
  EXPECT_EQ(f.counters.checked, 2);
  EXPECT_EQ(f.counters.updated, 1);
  EXPECT_EQ(f.counters.numbers, 1) << "the unsaved contact's numbers are not counted";
  EXPECT_EQ(f.counters.folders, 2) << "Work and After; Locked is skipped";
  EXPECT_EQ(f.store.Find("Riverside Dental").phones[0].number, "0171 930 8890");
}

TEST(ContactRun, LogsTheStoresNotesUnderWhatTheyConcernAndCountsProblemNotes) {
  Fixture f(
      "note 2 leftovers removed\n"
      "folder Work [note fifo.vcf passed over]\n"
      "  contact Ann [problem Home left as it is]\n"
      "    Home: 0171 930 8890\n"
      "  folder Sub [problem loop skipped]\n",
      /*update=*/true);
  f.Run();
  EXPECT_TRUE(f.store.Writing());
  const std::string& text = f.log.Text();
  const std::size_t ann = text.find("  \\Work\\Ann: Home left as it is\r\n");
  const std::size_t work = text.find("  \\Work: fifo.vcf passed over\r\n");
  const std::size_t sub = text.find("  \\Work\\Sub: loop skipped\r\n");
  const std::size_t store = text.find("  2 leftovers removed\r\n");
  ASSERT_NE(ann, std::string::npos) << text;
  ASSERT_NE(work, std::string::npos) << text;
  ASSERT_NE(sub, std::string::npos) << text;
  ASSERT_NE(store, std::string::npos) << text;
  EXPECT_LT(ann, work);
  EXPECT_LT(work, sub);
  EXPECT_LT(sub, store);
  EXPECT_EQ(f.counters.problems, 2);
  EXPECT_EQ(f.counters.updated, 1);
}

struct ChangeLineCase {
  std::string_view label;
  std::string_view old_number;
  std::string_view new_number;
  std::string expected;
};

TEST(FixLog, PutsOldNumbersInColumnSeventeen) {
  const ChangeLineCase cases[] = {
      {"Home", "0171 930 8890", "020 7930 8890",
       "  Home:         0171 930 8890 --> 020 7930 8890\r\n"},
      {"Business Fax", "x", "y", "  Business Fax: x --> y\r\n"},
      {"Car", " 1 ", "(1)", "  Car:           1  --> (1)\r\n"},
      {"TTY/TTDD", "", "", "  TTY/TTDD:      --> \r\n"},
  };
  RunCounters counters;
  counters.numbers = 41;
  for (const auto& c : cases) {
    const std::string line = FixLog(c.label, c.old_number, c.new_number, counters);
    EXPECT_EQ(line, c.expected);
    EXPECT_EQ(line.find(c.old_number, 16), 16u) << line;
  }
  EXPECT_EQ(counters.numbers, 45);
}

TEST(SummaryText, WordsEachModeAndEnding) {
  SummaryFacts facts;
  facts.update = true;
  facts.completed = true;
  facts.run_seconds = 75;
  facts.counters = {4, 12, 3, 5, 0};
  facts.now_text = "NOW";
  EXPECT_EQ(SummaryText(facts),
            "\r\nUpdate complete - NOW\r\n\r\nOverall running time: 75 secs\r\n\r\nSummary:\r\n"
            "Folders processed: 4\r\nContacts checked: 12\r\nContacts updated: 3\r\n"
            "Numbers updated:  5\r\n");
  facts.update = false;
  facts.completed = false;
  facts.counters.problems = 2;
  EXPECT_EQ(SummaryText(facts),
            "\r\nSimulation aborted - NOW\r\n\r\nOverall running time: 75 secs\r\n\r\nSummary:\r\n"
            "Folders processed: 4\r\nContacts checked: 12\r\nContacts to update: 3\r\n"
            "Numbers to update:  5\r\nProblems: 2\r\n");
}

TEST(Outro, CompletesTheLogFileEndingWithTheSummary) {
  const std::string path = (FreshTestFolder("outro") / "Dialmend Log 1.txt").string();
  ActivityLog log;
  LogFile file;
  ASSERT_TRUE(file.Reserve({path, false}).Ok());
  log.SetFile(&file);
  log.WriteLog("head\r\n");
  EXPECT_TRUE(Outro(SummaryFacts{}, log, &file).Ok());
  EXPECT_FALSE(file.IsOpen());
  log.WriteLog("after the run\r\n");
  const std::string saved = ReadTestFile(path);
  EXPECT_TRUE(saved.starts_with("head\r\n"));
  EXPECT_TRUE(saved.ends_with("Numbers to update:  0\r\n")) << "detached after the summary";
  EXPECT_TRUE(Outro(SummaryFacts{}, log, nullptr).Ok());
}

#ifndef _WIN32
TEST(Outro, KeepsTheLogAndSaysSoWhenTheFileCannotBeWritten) {
  ActivityLog log;
  LogFile file;
  ASSERT_TRUE(file.Reserve({"/dev/full", false}).Ok());
  log.SetFile(&file);
  log.WriteLog("head\r\n");
  const Status completed = Outro(SummaryFacts{}, log, &file);
  ASSERT_FALSE(completed.Ok());
  EXPECT_EQ(completed.Message(), "Cannot save the log to \"/dev/full\": no space left on device.");
  EXPECT_TRUE(log.Text().starts_with("head\r\n"));
  EXPECT_TRUE(log.Text().ends_with("Numbers to update:  0\r\n" + completed.Message() + "\r\n"));
}
#endif

}  // namespace
}  // namespace dialmend
