#include "stores/thunderbird/thunderbird_store.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "run/undo_record.h"
#include "stores/thunderbird/sqlite.h"
#include "tests/contacts/store_contract.h"
#include "tests/fakes/quiet_run.h"
#include "tests/fakes/test_folder.h"

// The Thunderbird store over profiles the real Thunderbird made (see thunderbird_profile.py),
// and Thunderbird reading what the store wrote.

namespace dialmend {
namespace {

namespace fs = std::filesystem;
using testing::HasSubstr;

const fs::path kFixture = fs::path(DIALMEND_TB_FIXTURE) / "profile";

// Skips the test when there is no fixture: Thunderbird is not installed here.
bool FixtureMade() {
  return fs::exists(kFixture / "abook-1.sqlite");
}

// A copy of the fixture's profile for one test, in the build tree, removed with it. With
// `work_only` the Work book is its only local book.
class ProfileCopy {
 public:
  ProfileCopy(const std::string& name, bool work_only)
      : m_folder(fs::path(DIALMEND_TB_WORK) / name), m_profile(m_folder / "profile") {
    fs::remove_all(m_folder);
    fs::create_directories(m_profile);
    if (!FixtureMade()) return;
    for (const fs::directory_entry& entry : fs::directory_iterator(kFixture)) {
      const std::string file = entry.path().filename().string();
      const bool book = file.starts_with(work_only ? "abook-1." : "abook") ||
                        (!work_only && file.starts_with("history."));
      if (book || file == "prefs.js" || file == "lock" || file == ".parentlock") {
        fs::copy(entry.path(), m_profile / file, fs::copy_options::copy_symlinks);
      }
    }
  }
  ~ProfileCopy() { fs::remove_all(m_folder); }

  const fs::path& Folder() const { return m_folder; }
  const fs::path& Profile() const { return m_profile; }
  std::unique_ptr<ContactStore> Store() const {
    return MakeThunderbirdStore(m_profile.string(), "fixture");
  }

 private:
  fs::path m_folder;
  fs::path m_profile;
};

struct ThunderbirdTraits : NumbersOnlyTraits {
  static constexpr bool kOneFolder = true;
  void Skip() { GTEST_SKIP() << "Thunderbird is not installed"; }
  std::unique_ptr<ContactStore> Make(const fs::path& root) {
    if (!FixtureMade()) Skip();
    copy = std::make_unique<ProfileCopy>(root.filename().string(), true);
    return copy->Store();
  }
  ContactStore& Reread(std::unique_ptr<ContactStore>& store, const fs::path&) {
    store = copy->Store();
    return *store;
  }
  std::unique_ptr<ProfileCopy> copy;
};

INSTANTIATE_TYPED_TEST_SUITE_P(Thunderbird, StoreContract, ThunderbirdTraits);

// Every card's vCard in the books of `profile`, by book and card.
std::map<std::string, std::string> VCards(const fs::path& profile) {
  std::map<std::string, std::string> cards;
  for (const char* book : {"abook.sqlite", "abook-1.sqlite"}) {
    if (!fs::exists(profile / book)) continue;
    SqliteDatabase db((profile / book).string(), SqliteAccess::ReadOnly);
    SqliteStatement select = db.Prepare("SELECT card, value FROM properties WHERE name = '_vCard'");
    while (select.Step())
      cards[std::string(book) + "/" + std::string(select.Text(0))] = select.Text(1);
  }
  return cards;
}

std::int64_t LastModified(const fs::path& book, const std::string& display_name) {
  SqliteDatabase db(book.string(), SqliteAccess::ReadOnly);
  SqliteStatement select = db.Prepare(
      "SELECT m.value FROM properties m JOIN properties d ON d.card = m.card WHERE "
      "m.name = 'LastModifiedDate' AND d.name = 'DisplayName' AND d.value = ?1");
  select.Bind(1, display_name);
  return select.Step() ? select.Int(0) : 0;
}

TEST(ThunderbirdStore, LeavesACardAnotherProgramChangedSinceItWasReadAndSaysSo) {
  if (!FixtureMade()) GTEST_SKIP() << "Thunderbird is not installed";
  const ProfileCopy copy("changed", true);
  const auto store = copy.Store();
  ASSERT_TRUE(store->Open().Ok());
  auto folder = store->Folders()->Next();
  auto item = folder->Items()->Next();
  item->SetPhone(0, "(020) 7930 8890");
  item->Save();
  {
    SqliteDatabase other((copy.Profile() / "abook-1.sqlite").string(), SqliteAccess::ReadWrite);
    other.Execute(
        "UPDATE properties SET value = replace(value, '0370', '07770') WHERE name = "
        "'_vCard'");
  }
  const std::vector<Folder::FlushFailure> failures = folder->Flush();
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(failures[0].subject, "");
  EXPECT_EQ(failures[0].reason, "another program changed it since it was read; its change is kept");
  const std::string kept = VCards(copy.Profile()).begin()->second;
  EXPECT_THAT(kept, HasSubstr("TEL;TYPE=home:0171 930 8890\r\nTEL;TYPE=cell:07770 123456\r\n"));
}

// Thunderbird started on `copy` by the fixture script: "ready PID", then, once released, the
// cards it reads.
class RunningThunderbird {
 public:
  explicit RunningThunderbird(const ProfileCopy& copy) : m_copy(copy) {
    const std::string command = std::string(DIALMEND_PYTHON) + " '" + DIALMEND_TB_SCRIPT +
                                "' serve '" + copy.Profile().string() + "'";
    m_pipe = ::popen(command.c_str(), "r");
    char line[64];
    if (m_pipe == nullptr || std::fgets(line, sizeof line, m_pipe) == nullptr ||
        std::sscanf(line, "ready %ld", &m_pid) != 1) {
      m_pid = 0;
    }
  }
  ~RunningThunderbird() {
    if (m_pipe != nullptr) Lines();
  }
  long Pid() const { return m_pid; }
  // Lets it read the cards and quit; gives what it read, a line per card.
  std::vector<std::string> Lines() {
    WriteTestFile(m_copy.Folder() / "release", "");
    std::vector<std::string> lines;
    char line[4096];
    while (std::fgets(line, sizeof line, m_pipe) != nullptr) lines.emplace_back(line);
    ::pclose(m_pipe);
    m_pipe = nullptr;
    return lines;
  }

 private:
  const ProfileCopy& m_copy;
  std::FILE* m_pipe = nullptr;
  long m_pid = 0;
};

TEST(ThunderbirdStore, UpdatesWhatThunderbirdThenReadsAndAnUndoGivesEveryCardBack) {
  if (!FixtureMade()) GTEST_SKIP() << "Thunderbird is not installed";
  const ProfileCopy copy("run", false);
  ASSERT_TRUE(fs::is_symlink(copy.Profile() / "lock"));
  const auto before = VCards(copy.Profile());
  const std::string work_file = ReadTestFile(copy.Profile() / "abook-1.sqlite");
  const QuietRun simulation = RunQuietly(*copy.Store(), NumberOptions{}, false);
  EXPECT_EQ(simulation.counters.numbers, 5) << simulation.log;
  EXPECT_EQ(ReadTestFile(copy.Profile() / "abook-1.sqlite"), work_file);

  const std::time_t started = std::time(nullptr);
  const fs::path runs = copy.Folder() / "runs";
  const QuietRun update = RunQuietly(*copy.Store(), NumberOptions{}, runs.string());
  EXPECT_EQ(update.counters.updated, 3) << update.log;
  EXPECT_EQ(update.counters.problems, 0) << update.log;
  EXPECT_THAT(update.log, HasSubstr("\\Personal Address Book\\Padraig Quinn\r\n"
                                    "  Home:         01232 123456 --> (028) 9012 3456\r\n"
                                    "  Mobile:       0370 123457 --> (07770) 123457\r\n"));
  EXPECT_THAT(update.log, HasSubstr("  Shared: passed over: it is a copy of an address book on a "
                                    "CardDAV server; run over the server itself with --profile "
                                    "https://dav.example.invalid/ann/shared/\r\n"));
  EXPECT_GE(LastModified(copy.Profile() / "abook-1.sqlite", "Riverside Dental"), started);

  {
    RunningThunderbird thunderbird(copy);
    ASSERT_NE(thunderbird.Pid(), 0);
    const Status refused = copy.Store()->Open();
    EXPECT_THAT(refused.Message(),
                HasSubstr("is in use by thunderbird (process " + std::to_string(thunderbird.Pid()) +
                          "): close Thunderbird and run again"));
    EXPECT_THAT(thunderbird.Lines(),
                testing::UnorderedElementsAre(
                    "Personal Address Book\tPadraig Quinn\t(028) 9012 3456;(07770) 123457\n",
                    "Personal Address Book\tNora Byrne\t(020) 7930 8892\n",
                    "Work\tRiverside Dental\t(020) 7930 8890;(07770) 123456\n"));
  }

  std::vector<UndoRecord> records;
  for (const fs::directory_entry& entry : fs::directory_iterator(runs)) {
    records.push_back(ReadUndoRecord(entry.path().string()).Value());
  }
  ASSERT_EQ(records.size(), 1u);
  const QuietRun undo = UndoQuietly(*copy.Store(), records[0], true);
  EXPECT_EQ(undo.counters.numbers, 5) << undo.log;
  EXPECT_EQ(undo.counters.problems, 0) << undo.log;
  EXPECT_EQ(VCards(copy.Profile()), before);
}

}  // namespace
}  // namespace dialmend
