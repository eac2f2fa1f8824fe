#include "cli/run_command.h"

#include <gtest/gtest.h>

#include "run/change_list.h"
#include "tests/cli/capture.h"
#include "tests/fakes/test_folder.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <vector>

namespace dialmend {
namespace {

namespace fs = std::filesystem;

class SampleProfile : public testing::Test {
 protected:
  void SetUp() override {
    m_dir = FreshTestFolder("run");
    m_profile = m_dir / "profile";
    fs::copy(DIALMEND_SAMPLE_PROFILE, m_profile, fs::copy_options::recursive);
    m_log = m_dir / "log.txt";
  }
  fs::path m_dir, m_profile, m_log;
};

TEST_F(SampleProfile, SimulationWritesNothingButTheLogItPrints) {
  const auto before = ReadTestTree(m_profile);
  const Outcome r = RunCaptured({"--profile", m_profile.string(), "--log", m_log.string()});
  EXPECT_EQ(ReadTestTree(m_profile), before);
  EXPECT_EQ(r.out, LfLineEnds(ReadTestFile(m_log)));
  EXPECT_TRUE(r.out.starts_with("Dialmend Activity Log\n=======================\n\nCommenced "));
  EXPECT_NE(r.out.find("\nChecking contacts in profile "), std::string::npos);
  EXPECT_NE(r.out.find("\nSimulation complete - "), std::string::npos);
  EXPECT_NE(r.out.find("Could not read \\Work\\broken-export.vcf: "), std::string::npos);
  EXPECT_EQ(r.status, 1) << "the malformed card is a problem";
}

// The update must change exactly the reported numbers: replaying the log's change lines on the
// original files, by plain text replacement in TEL lines, gives the updated files.
TEST_F(SampleProfile, UpdateChangesExactlyTheReportedNumbers) {
  const auto before = ReadTestTree(m_profile);
  const Outcome r = RunCaptured({"--profile", m_profile.string(), "--update", "--no-log"});
  ASSERT_NE(r.out.find("\nUpdate complete - "), std::string::npos) << r.out;

  // Change lines: the old number starts in column 17 and ends at the arrow.
  std::map<std::string, std::string> changes;
  const std::regex change_line("^  [A-Za-z /2]+: +.* --> .*$");
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);) {
    if (!std::regex_match(line, change_line)) continue;
    const auto arrow = line.find(" --> ", 16);
    changes[line.substr(16, arrow - 16)] = line.substr(arrow + 5);
  }
  ASSERT_FALSE(changes.empty());

  // Folding is compared unfolded: a rewritten value may fold at other places.
  const auto unfold = [](std::string text) {
    for (const char* fold : {"\r\n ", "\r\n\t", "\n ", "\n\t"}) {
      for (std::size_t at; (at = text.find(fold)) != std::string::npos;)
        text.erase(at, std::strlen(fold));
    }
    return text;
  };
  auto after = ReadTestTree(m_profile);
  ASSERT_EQ(after.size(), before.size()) << "no file added or left behind";
  long replaced = 0;
  const std::regex tel_line(
      "^((?:[A-Za-z0-9-]+\\.)?(?:TEL|X-MS-TEL)[^:]*:(?:tel:)?)([^;\r\n]*)(.*)$", std::regex::icase);
  for (const auto& [name, text] : before) {
    if (r.out.find("Could not read \\") != std::string::npos &&
        name.find("broken") != std::string::npos) {
      EXPECT_EQ(after.at(name), text) << name << " is never written";
      continue;
    }
    std::string expected;
    std::istringstream in(unfold(text));
    for (std::string line; std::getline(in, line, '\n');) {
      const bool cr = line.ends_with("\r");
      if (cr) line.pop_back();
      std::smatch m;
      if (std::regex_match(line, m, tel_line)) {
        if (auto it = changes.find(m[2]); it != changes.end()) {
          line = std::string(m[1]) + it->second + std::string(m[3]);
          ++replaced;
        }
      }
      expected += line + (cr ? "\r" : "") + (in.eof() ? "" : "\n");
    }
    EXPECT_EQ(unfold(after.at(name)), expected) << name;
  }
  const auto numbers_at = r.out.find("Numbers updated:  ");
  ASSERT_NE(numbers_at, std::string::npos);
  EXPECT_EQ(replaced, std::stol(r.out.substr(numbers_at + 18)));
}

TEST_F(SampleProfile, FirstInterruptAbortsBeforeTheFirstFolder) {
  const auto before = ReadTestTree(m_profile);
  const Outcome r = RunCaptured({"--profile", m_profile.string(), "--update", "--no-log"}, 1);
  EXPECT_EQ(r.status, 130);
  EXPECT_NE(r.out.find("\nUpdate aborted - "), std::string::npos);
  EXPECT_NE(r.out.find("Folders processed: 0\n"), std::string::npos);
  EXPECT_EQ(ReadTestTree(m_profile), before);
}

TEST_F(SampleProfile, ALogThatCannotBeCreatedEndsWithTwoBeforeAnythingIsTouched) {
  const auto before = ReadTestTree(m_profile);
  const std::string log = (m_dir / "missing" / "log.txt").string();
  const Outcome r = RunCaptured({"--profile", m_profile.string(), "--update", "--log", log});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err,
            "dialmend-run: Cannot save the log to \"" + log + "\": no such file or directory.\n");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(ReadTestTree(m_profile), before);
}

// A store of one card with one old number: a run over it has no problem of its own.
class CleanProfile : public SampleProfile {
 protected:
  void SetUp() override {
    SampleProfile::SetUp();
    m_profile = m_dir / "clean";
    WriteTestFile(
        m_profile / "book" / "ann.vcf",
        "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:ann\r\nFN:Ann\r\nTEL;TYPE=HOME:0171 930 8890\r\n"
        "END:VCARD\r\n");
  }
};

#ifndef _WIN32
// A simulation prints its log; only an update keeps one, on the desktop, for its owner alone.
TEST_F(CleanProfile, OnlyAnUpdateLeavesItsLogOnTheDesktop) {
  const fs::path home = m_dir / "home";
  fs::create_directories(home);
  const std::string saved_home = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
  ::setenv("HOME", home.c_str(), 1);
  EXPECT_EQ(RunCaptured({"--profile", m_profile.string()}).status, 0);
  EXPECT_TRUE(fs::is_empty(home)) << "a simulation leaves no file";
  EXPECT_EQ(RunCaptured({"--profile", m_profile.string(), "--update"}).status, 0);
  EXPECT_EQ(fs::status(home / "Dialmend Log 1.txt").permissions(), fs::perms(0600));
  ::setenv("HOME", saved_home.c_str(), 1);
}

TEST_F(CleanProfile, AFullStandardOutputIsAFailure) {
  const std::vector<std::string> words = {"--profile", m_profile.string(), "--log", m_log.string()};
  const Outcome r = RunCaptured(words, 0, std::fopen("/dev/full", "w"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cannot write to standard output: no space left on device"),
            std::string::npos);
  EXPECT_NE(ReadTestFile(m_log).find("\r\nSimulation aborted - "), std::string::npos)
      << ReadTestFile(m_log);
  EXPECT_EQ(RunCaptured({"--version"}, 0, std::fopen("/dev/full", "w")).status, 1);
  EXPECT_EQ(RunCaptured(words).status, 0) << "the same run to a file succeeds";
}

// The change list in CSV, to a file or to standard output (the printed log then going to
// standard error); --quiet prints the summary alone.
TEST_F(CleanProfile, ListsEachChangeAsCsvAndQuietPrintsOnlyTheSummary) {
  WriteTestFile(m_profile / "book" / "bob.vcf",
                "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Bob\\, Jr\r\nTEL;TYPE=WORK:0181 123 4567\r\n"
                "TEL;TYPE=CELL:0370 123456\r\nEND:VCARD\r\n");
  const std::string book = fs::weakly_canonical(m_profile / "book").string();
  const std::string csv =
      std::string(kChangeListHeader) + book +
      "/ann.vcf,,ann,\\book\\Ann,Home,0171 930 8890,(020) 7930 8890\r\n" + book +
      "/bob.vcf,,,\"\\book\\Bob, Jr\",Business,0181 123 4567,(020) 8123 4567\r\n" + book +
      "/bob.vcf,,,\"\\book\\Bob, Jr\",Mobile,0370 123456,(07770) 123456\r\n";
  const fs::path list = m_dir / "changes.csv";
  const Outcome quiet =
      RunCaptured({"--profile", m_profile.string(), "--changes", list.string(), "--quiet"});
  EXPECT_EQ(quiet.status, 0) << quiet.err;
  EXPECT_TRUE(quiet.out.starts_with("\nSimulation complete - ")) << quiet.out;
  EXPECT_TRUE(quiet.out.ends_with("Numbers to update:  3\n")) << quiet.out;
  EXPECT_EQ(ReadTestFile(list), csv);

  const Outcome piped = RunCaptured({"--profile", m_profile.string(), "--changes", "-"});
  EXPECT_EQ(piped.out, csv);
  EXPECT_TRUE(piped.err.starts_with("Dialmend Activity Log\n")) << piped.err;
}

#endif

// Said once, on standard error, in the store's own words; no summary of zeros, no log file.
TEST_F(CleanProfile, AStoreThatWillNotOpenIsSaidOnceAndLeavesNoFile) {
  const struct {
    std::vector<std::string> args;
    std::string err;
  } rows[] = {
      {{"--profile", "/nonexistent/contacts"},
       "Cannot open the contacts: \"/nonexistent/contacts\": there is no such file or folder."},
      {{"--profile", m_profile.string(), "--book", "Work", "--book", "book"},
       "Cannot open the contacts at \"" + m_profile.string() +
           "\": no address book is named \"Work\"; the profile's address books are \"book\"."},
  };
  for (const auto& row : rows) {
    std::vector<std::string> args = row.args;
    args.insert(args.end(),
                {"--update", "--log", m_log.string(), "--changes", m_log.string() + ".csv"});
    const Outcome r = RunCaptured(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "dialmend-run: " + row.err + "\n");
    EXPECT_FALSE(fs::exists(m_log)) << "no log file";
    EXPECT_FALSE(fs::exists(m_log.string() + ".csv")) << "no change list";
  }
}

// With --old-codes-only an update rewrites only the card with an old number, and in it only
// that number; numbers a default run would re-format stay as written.
TEST(RunCommand, OldCodesOnlyRewritesOnlyCardsWithAnOldNumber) {
  const std::string ann =
      "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ann\r\nTEL;TYPE=HOME:+44 171 930 8890\r\n"
      "TEL;TYPE=WORK:01632 960123\r\nEND:VCARD\r\n";
  const std::string bob =
      "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Bob\r\nTEL;TYPE=WORK:020 7946 0190\r\n"
      "TEL;TYPE=CELL:00 49 30 7218666\r\nTEL;TYPE=FAX:see e-mail \r\nEND:VCARD\r\n";
  std::string ann_after = ann;
  ann_after.replace(ann.find("+44 171 930 8890"), 16, "+44 (20) 7930 8890");
  const fs::path dir = FreshTestFolder("run");
  WriteTestFile(dir / "book" / "ann.vcf", ann);
  WriteTestFile(dir / "book" / "bob.vcf", bob);
  WriteTestFile(dir / "export.vcf", ann + bob);
  for (const fs::path& profile : {dir / "book", dir / "export.vcf"}) {
    const Outcome r =
        RunCaptured({"--profile", profile.string(), "--update", "--old-codes-only", "--no-log"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Contacts updated: 1\n"), std::string::npos) << r.out;
  }
  EXPECT_EQ(ReadTestFile(dir / "book" / "ann.vcf"), ann_after);
  EXPECT_EQ(ReadTestFile(dir / "book" / "bob.vcf"), bob);
  EXPECT_EQ(ReadTestFile(dir / "export.vcf"), ann_after + bob);
}

struct BadRun {
  std::vector<std::string> args;
  std::string names;
};

void PrintTo(const BadRun& row, std::ostream* out) {
  for (const std::string& arg : row.args) *out << arg << ' ';
}

class RunUsageLine : public testing::TestWithParam<BadRun> {};

// The wording is part of the program: scripts and users read these lines.
TEST_P(RunUsageLine, IsWordedExactly) {
  const Outcome r = RunCaptured(GetParam().args);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "dialmend-run: " + GetParam().names + " (try --help)\n");
}

INSTANTIATE_TEST_SUITE_P(
    Options, RunUsageLine,
    testing::Values(
        BadRun{{"--profile"}, "--profile needs a path"},
        BadRun{{"--profile="}, "--profile needs a path"}, BadRun{{"--log"}, "--log needs a path"},
        BadRun{{"--ca-file"}, "--ca-file needs a file"},
        BadRun{{"--log=x", "--no-log"}, "--log and --no-log cannot go together"},
        BadRun{{"--log", "x", "--no-log"}, "--log and --no-log cannot go together"},
        BadRun{{"--progress", "--no-progress"}, "--progress and --no-progress cannot go together"},
        BadRun{{"--style", "9"}, "--style: \"9\" is not a number from 0 to 3"},
        BadRun{{"--zero"}, "--zero needs a value from 0 to 2"},
        BadRun{{"--replace", "x"}, "--replace needs --find"}, BadRun{{"--x"}, "unknown option --x"},
        BadRun{{"--dry-run=1"}, "unknown option --dry-run"},
        BadRun{{"--dry-run"}, "unknown option --dry-run"},
        BadRun{{"--undo", "--runs"}, "--runs and --undo cannot go together"},
        BadRun{{"--runs", "--update"}, "--runs and --update cannot go together"},
        BadRun{{"--changes", "x", "--runs"}, "--runs and --changes cannot go together"},
        BadRun{{"--undo", "--style", "1"}, "--undo and --style cannot go together"},
        BadRun{{"--book", "x", "--undo", "y"}, "--undo and --book cannot go together"},
        BadRun{{"--book="}, "--book needs a name"}, BadRun{{"--undo="}, "--undo= needs a run"},
        BadRun{{"contacts"}, "unexpected argument \"contacts\" (give the store with --profile)"}));

TEST(RunArgs, ReadsUndoWithOrWithoutItsRun) {
  struct Row {
    std::vector<std::string_view> words;
    std::string run;
    bool update;
  };
  const Row rows[] = {
      {{"--undo"}, "", false},
      {{"--undo", "--update"}, "", true},
      {{"--undo", "2026-12-07_07-05-28", "--update"}, "2026-12-07_07-05-28", true},
      {{"--update", "--undo=2026-12-07_07-05-28"}, "2026-12-07_07-05-28", true},
  };
  for (const Row& row : rows) {
    RunArgs args;
    ASSERT_TRUE(ParseRunArgs(row.words, args).Ok()) << row.words.size();
    EXPECT_TRUE(args.undo);
    EXPECT_EQ(args.undo_run, row.run);
    EXPECT_EQ(args.update, row.update);
  }
}

// The sample profile with its own folder of undo records.
class UndoProfile : public SampleProfile {
 protected:
  void SetUp() override {
    SampleProfile::SetUp();
    m_state = m_dir / "state";
#ifdef _WIN32
    _putenv_s("LOCALAPPDATA", m_state.string().c_str());
    m_runs = m_state / "Dialmend" / "runs";
#else
    setenv("XDG_STATE_HOME", m_state.c_str(), 1);
    m_runs = m_state / "dialmend" / "runs";
#endif
  }
  // The one record in the folder.
  fs::path OnlyRecord() {
    std::vector<fs::path> records;
    for (const auto& entry : fs::directory_iterator(m_runs)) records.push_back(entry.path());
    EXPECT_EQ(records.size(), 1u);
    return records.empty() ? fs::path() : records.front();
  }
  fs::path m_state, m_runs;
};

TEST_F(UndoProfile, UndoAfterAnUpdateGivesEveryFileBackAndListsTheRunUndone) {
  const auto before = ReadTestTree(m_profile);
  ASSERT_EQ(RunCaptured({"--profile", m_profile.string(), "--update", "--no-log"}).status, 1)
      << "the sample's malformed card is a problem";
  const auto updated = ReadTestTree(m_profile);
  ASSERT_NE(updated, before);

  const Outcome simulated = RunCaptured({"--profile", m_profile.string(), "--undo", "--no-log"});
  EXPECT_EQ(simulated.status, 0) << simulated.err;
  EXPECT_EQ(ReadTestTree(m_profile), updated) << "an undo without --update only simulates";
  EXPECT_NE(simulated.out.find("\nUndo simulation complete - "), std::string::npos);

  const Outcome undo =
      RunCaptured({"--profile", m_profile.string(), "--undo", "--update", "--log", m_log.string()});
  EXPECT_EQ(undo.status, 0) << undo.err;
  EXPECT_EQ(ReadTestTree(m_profile), before);
  EXPECT_NE(undo.out.find("\nUndo of the update of "), std::string::npos) << undo.out;
  EXPECT_NE(undo.out.find("\nUndo complete - "), std::string::npos) << undo.out;
  EXPECT_NE(undo.out.find("Left because changed: 0\n"), std::string::npos) << undo.out;
  EXPECT_EQ(undo.out, LfLineEnds(ReadTestFile(m_log)));

  const Outcome listed = RunCaptured({"--profile", m_profile.string(), "--runs"});
  EXPECT_EQ(listed.status, 0);
  const std::string name = OnlyRecord().stem().string();
  EXPECT_NE(listed.out.find(name + "        54      185  "), std::string::npos) << listed.out;
  EXPECT_EQ(listed.out.find("  no\n"), std::string::npos) << "the run is marked undone";
}

// Why a record is refused is the run library's to say (each reason is a row of its tests); here
// it is said on standard error, with status 2, and nothing is written.
TEST_F(UndoProfile, RefusesABadRecordAndChangesNothing) {
  ASSERT_EQ(RunCaptured({"--profile", m_profile.string(), "--update", "--no-log"}).status, 1);
  const auto updated = ReadTestTree(m_profile);
  const fs::path record = OnlyRecord();
  const std::string kept = ReadTestFile(record);
  WriteTestFile(record, std::string(kept).replace(kept.find("vCard folder"), 5, "vCarx"));
  const Outcome damaged = RunCaptured(
      {"--profile", m_profile.string(), "--undo", record.stem().string(), "--update", "--no-log"});
  EXPECT_EQ(damaged.status, 2);
  EXPECT_NE(damaged.err.find("is damaged"), std::string::npos) << damaged.err;
  EXPECT_EQ(damaged.out, "");
  fs::remove(record);
  const Outcome none = RunCaptured({"--profile", m_profile.string(), "--undo", "--update"});
  EXPECT_EQ(none.status, 2);
  EXPECT_NE(none.err.find("there is nothing to undo"), std::string::npos) << none.err;
  EXPECT_EQ(ReadTestTree(m_profile), updated);
}

// Scripts branch on the exit status: --help lists each one on a line of its own, and every line
// fits a terminal.
TEST(RunCommand, HelpNamesTheDefaultProfileAndSaysWhatEachExitStatusMeans) {
  const Outcome r = RunCaptured({"--help"});
  EXPECT_EQ(r.status, 0);
  const std::string& help = r.out;
#ifdef _WIN32
  EXPECT_NE(help.find("your Outlook"), std::string::npos);
#else
  EXPECT_NE(help.find("~/.contacts"), std::string::npos);
#endif
  EXPECT_EQ(RunCaptured({"--version"}).out, "dialmend-run 1.4.17\n");
  const auto exit_section = help.find("\nExit status:\n");
  ASSERT_NE(exit_section, std::string::npos) << help;
  const std::string statuses = help.substr(exit_section);
  for (const char* line :
       {"\n  0    done", "\n  1    done with problems", "\n  2    bad usage", "\n  130  aborted"}) {
    EXPECT_NE(statuses.find(line), std::string::npos) << line;
  }
  EXPECT_NE(statuses.find("One card\n       that cannot be read gives 1 even when everything "
                          "else was updated."),
            std::string::npos)
      << statuses;
  // A terminal of 80 columns shows it without a broken line.
  for (std::size_t at = 0, end; at < help.size(); at = end + 1) {
    end = help.find('\n', at);
    EXPECT_LE(end - at, 80U) << help.substr(at, end - at);
  }
}

}  // namespace
}  // namespace dialmend
