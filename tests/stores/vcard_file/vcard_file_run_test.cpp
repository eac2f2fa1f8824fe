#include "stores/vcard_file/vcard_file_store.h"

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>

#include <unistd.h>

#include "platform/atomic_file_common.h"
#include "platform/system_calls.h"
#include "run/contact_run.h"
#include "run/run_controller.h"
#include "run/run_records.h"
#include "run/undo_record.h"
#include "stores/vcard_file/card_file.h"
#include "stores/vcard_folder/vcard_folder_store.h"
#include "tests/fakes/quiet_run.h"
#include "tests/fakes/quiet_view.h"
#include "tests/fakes/test_folder.h"
#include "tests/fakes/test_host.h"

// Runs over files of many cards: each file is written once per walk, at a pause and at an
// abort, and a write that fails takes every contact it held out of the count.

namespace dialmend {
namespace {

namespace fs = std::filesystem;

std::string Card(const std::string& name, const std::string& number) {
  return "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:" + name + "\r\nTEL;TYPE=HOME:" + number +
         "\r\nEND:VCARD\r\n";
}
constexpr const char* kOld = "0171 930 8890";
constexpr const char* kNew = "(020) 7930 8890";

class VCardFileRun : public testing::Test {
 protected:
  void SetUp() override {
    m_root = FreshTestFolder("vcard_file_run");
    m_file = m_root / "all.vcf";
    SaveSeamsForTesting().after_replace = [this] { ++m_writes; };
  }
  void TearDown() override {
    SaveSeamsForTesting() = SaveSeams{};
    EXPECT_TRUE(m_host.failures.empty()) << m_host.failures.front();
  }

  RunCounters Walk(ContactStore& store, std::optional<std::string> record_folder = {}) {
    RunCounters counters;
    ContactRun(store, RunSettings{&m_options, true, record_folder}, counters, m_log, m_host)
        .FixContacts();
    return counters;
  }
  RunCounters WalkFile(std::optional<std::string> record_folder = {}) {
    auto store = MakeVCardFileStore(m_file.string());
    return Walk(*store, record_folder);
  }

  fs::path m_root;
  fs::path m_file;
  int m_writes = 0;
  NumberOptions m_options;
  ActivityLog m_log;
  TestHost m_host;
};

// Whether an fsync went to an undo record since the last look.
bool g_record_synced = false;

TEST_F(VCardFileRun, PutsTheUndoRecordOnDiskBeforeTheFileIsWritten) {
  WriteTestFile(m_file, Card("Ann", kOld) + Card("Ben", "(020) 7930 8890") + Card("Cat", kOld));
  const fs::path runs = m_root / "runs";
  g_record_synced = false;
  Sys().fsync = [](int fd) {
    char target[4096];
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t size = ::readlink(link.c_str(), target, sizeof target);
    if (size > 0 && std::string(target, static_cast<std::size_t>(size)).ends_with(".undo")) {
      g_record_synced = true;
    }
    return RealSystemCalls().fsync(fd);
  };
  bool checked = false;
  SaveSeamsForTesting().before_replace = [&] {
    checked = true;
    EXPECT_TRUE(g_record_synced) << "the record is flushed to disk before the write";
    const std::vector<UndoRecord> recorded =
        ListRuns(runs.string(), {"vCard file", RecordedPath(m_file.string())});
    ASSERT_EQ(recorded.size(), 1u);
    const std::vector<RecordedContact> contacts = RecordedContactsOf(recorded[0].path);
    ASSERT_EQ(contacts.size(), 2u);
    EXPECT_EQ(contacts[0].identity.card, 0);
    EXPECT_EQ(contacts[1].identity.card, 2);
    EXPECT_EQ(contacts[1].changes[0].old_number, kOld);
  };
  const RunCounters counters = WalkFile(runs.string());
  Sys() = RealSystemCalls();
  EXPECT_TRUE(checked);
  EXPECT_EQ(counters.updated, 2);
}

TEST_F(VCardFileRun, KeepsEveryByteButTheChangedNumbers) {
  const std::string before =
      "\xEF\xBB\xBF"
      "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ann\r\nTEL;TYPE=HOME:0171 930 8890\r\n"
      "NOTE:keep  these   spaces\r\nEND:VCARD\r\n"
      "\r\n\r\n   \r\n"
      "begin:vcard\nversion:2.1\nFN:Ben\nTEL;WORK:0370 123456\nend:vcard\n"
      "\n"
      "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Cat\r\nTEL:(020) 7930 8890\r\nEND:VCARD  \r\n"
      "\t\r\n-- exported by a phone --\r\n";
  const std::string after =
      "\xEF\xBB\xBF"
      "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ann\r\nTEL;TYPE=HOME:(020) 7930 8890\r\n"
      "NOTE:keep  these   spaces\r\nEND:VCARD\r\n"
      "\r\n\r\n   \r\n"
      "begin:vcard\nversion:2.1\nFN:Ben\nTEL;WORK:(07770) 123456\nend:vcard\n"
      "\n"
      "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Cat\r\nTEL:(020) 7930 8890\r\nEND:VCARD  \r\n"
      "\t\r\n-- exported by a phone --\r\n";
  WriteTestFile(m_file, before);
  const RunCounters counters = WalkFile();
  EXPECT_EQ(counters.checked, 3);
  EXPECT_EQ(counters.updated, 2);
  EXPECT_EQ(ReadTestFile(m_file), after);
}

// A file read in several blocks: cards cross the blocks' ends, one line's CR LF is split
// between two blocks in a card that cannot be parsed, and the last card has no final line end.
TEST_F(VCardFileRun, RewritesAFileReadInBlocksCardByCardKeepingTheCardItCannotParse) {
  std::string before;
  std::string after;
  int good = 0;
  while (before.size() < kCardReadBlock - 200) {
    const std::string name = "P" + std::to_string(good++);
    before += Card(name, kOld);
    after += Card(name, kNew);
  }
  const int bad_card = good + 1;
  // A NUL byte is what no reader takes for text.
  const std::string bad("BEGIN:VCARD\r\nFN:Bad\r\nTEL:0171 930 8890\r\nNOTE:\0\r\nEND:VCARD\r\n",
                        59);
  // Text outside every card moves the bad card's first CR to the last byte of the first block.
  const std::string filler = std::string(kCardReadBlock - 1 - 11 - before.size() - 2, '=') + "\r\n";
  before += filler + bad;
  after += filler + bad;
  ASSERT_EQ(before[kCardReadBlock - 1], '\r');
  ASSERT_EQ(before[kCardReadBlock], '\n');
  while (before.size() < 2 * kCardReadBlock + 300) {
    const std::string name = "Q" + std::to_string(good++);
    before += Card(name, kOld);
    after += Card(name, kNew);
  }
  const std::string last = Card("Zed", kOld);
  before += last.substr(0, last.size() - 2);
  after += Card("Zed", kNew).substr(0, last.size());
  ++good;
  WriteTestFile(m_file, before);
  const RunCounters counters = WalkFile();
  EXPECT_EQ(counters.checked, good);
  EXPECT_EQ(counters.updated, good);
  EXPECT_EQ(counters.problems, 1);
  EXPECT_NE(m_log.Text().find("  Could not read \\all\\card " + std::to_string(bad_card) +
                              " of all.vcf: line 4 holds a NUL byte\r\n"),
            std::string::npos);
  EXPECT_EQ(m_writes, 1);
  EXPECT_TRUE(ReadTestFile(m_file) == after) << "the file is not as expected";
  EXPECT_EQ(std::distance(fs::directory_iterator(m_root), fs::directory_iterator()), 1)
      << "no temporary file is left";
}

// A file written in the last clock tick before the run has no settled change time: only its
// content shows an edit that keeps its size and time.
TEST_F(VCardFileRun, RefusesToReplaceAFileEditedInPlaceWithItsSizeAndTimeKept) {
  WriteTestFile(m_file, Card("Ann", kOld) + Card("Ben", kOld));
  // A time after the run's start keeps the change time from settling.
  const auto later = fs::file_time_type::clock::now() + std::chrono::hours(1);
  fs::last_write_time(m_file, later);
  const std::string edited = Card("Amy", kOld) + Card("Ben", kOld);
  m_host.on_yield = [&](int yield) {
    if (yield == 3) {
      std::fstream file(m_file, std::ios::binary | std::ios::in | std::ios::out);
      file.seekp(0);
      file << edited;
      file.close();
      fs::last_write_time(m_file, later);
    }
    return false;
  };
  const RunCounters counters = WalkFile();
  EXPECT_EQ(counters.updated, 0);
  EXPECT_EQ(counters.problems, 2);
  EXPECT_NE(m_log.Text().find("Could not save \\all\\Ann: all.vcf was not written: another "
                              "program changed it while it was being saved"),
            std::string::npos)
      << m_log.Text();
  EXPECT_EQ(ReadTestFile(m_file), edited);
}

// More held contacts than the walk keeps in memory: those it set aside come back in order,
// each with its save, whether the write succeeds or fails.
TEST_F(VCardFileRun, ReportsEveryHeldContactInOrderWhenThereAreThousands) {
  constexpr int kCards = 9000;
  std::string before;
  std::string after;
  for (int i = 0; i < kCards; ++i) {
    before += Card("P" + std::to_string(i), kOld);
    after += Card("P" + std::to_string(i), kNew);
  }
  WriteTestFile(m_file, before);
  RunCounters counters = WalkFile();
  EXPECT_EQ(counters.updated, kCards);
  EXPECT_TRUE(ReadTestFile(m_file) == after);
  std::size_t at = 0;
  for (int i = 0; i < kCards; ++i) {
    at = m_log.Text().find("\\all\\P" + std::to_string(i) + "\r\n  Home:", at);
    ASSERT_NE(at, std::string::npos) << "P" << i << " is reported, after P" << i - 1;
  }

  // A write that fails takes each contact out of the count, with a line each and no change.
  m_log.Clear();
  WriteTestFile(m_file, before);
  fs::create_hard_link(m_file, m_root / "link.vcf");
  counters = WalkFile();
  EXPECT_EQ(counters.updated, 0);
  EXPECT_EQ(counters.numbers, 0);
  EXPECT_EQ(counters.problems, kCards);
  EXPECT_NE(m_log.Text().find("  Could not save \\all\\P" + std::to_string(kCards - 1) +
                              ": all.vcf was not written: it has another hard link, which a "
                              "replace would break\r\n"),
            std::string::npos);
  EXPECT_EQ(m_log.Text().find("-->"), std::string::npos);
  EXPECT_TRUE(ReadTestFile(m_file) == before);
}

TEST_F(VCardFileRun, AFolderStoreReadsAFileOfManyCardsAsContactsOfItsFolder) {
  const fs::path book = m_root / "book";
  WriteTestFile(book / "a.vcf", Card("Al", kOld));
  WriteTestFile(book / "b.vcf", Card("Ann", kOld) + "\r\n" + Card("Ben", kOld));
  WriteTestFile(book / "c.vcf", Card("Cy", kOld));
  auto store = MakeVCardStore(m_root.string());
  const RunCounters counters = Walk(*store);
  EXPECT_EQ(counters.checked, 4);
  EXPECT_EQ(counters.updated, 4);
  EXPECT_EQ(counters.problems, 0);
  EXPECT_EQ(m_writes, 3);
  EXPECT_EQ(ReadTestFile(book / "b.vcf"), Card("Ann", kNew) + "\r\n" + Card("Ben", kNew));
  EXPECT_EQ(ReadTestFile(book / "c.vcf"), Card("Cy", kNew));
  // The log keeps the walk's order although b.vcf is written after Cy is saved.
  const std::string& text = m_log.Text();
  const auto al = text.find("\\book\\Al\r\n");
  const auto ann = text.find("\\book\\Ann\r\n");
  const auto ben = text.find("\\book\\Ben\r\n");
  const auto cy = text.find("\\book\\Cy\r\n");
  ASSERT_NE(cy, std::string::npos) << text;
  EXPECT_LT(al, ann);
  EXPECT_LT(ann, ben);
  EXPECT_LT(ben, cy);
}

// Plays the user: each pump of events runs the next scripted action.
class ScriptView : public QuietView {
 public:
  fs::path file;
  NumberOptions options;
  std::deque<std::function<void()>> events;

  RunJob PrepareRun() override {
    RunJob job;
    job.store = MakeVCardFileStore(file.string());
    job.options = &options;
    job.update = true;
    return job;
  }
  void ShowMessage(const std::string& text) override { ADD_FAILURE() << text; }
  void ProcessEvents(bool wait) override {
    if (events.empty()) {
      if (wait) ADD_FAILURE() << "paused with no event left";
      return;
    }
    auto event = std::move(events.front());
    events.pop_front();
    event();
  }
};

// Pumps 1 to 3 come before the folder, Ann and Ben; pump 4 before Cat.
class VCardFileController : public VCardFileRun {
 protected:
  void SetUp() override {
    VCardFileRun::SetUp();
    WriteTestFile(m_file, Card("Ann", kOld) + Card("Ben", kOld) + Card("Cat", kOld));
    m_view.file = m_file;
    for (int i = 0; i < 3; ++i) m_view.events.push_back([] {});
  }
  ScriptView m_view;
  RunController m_controller{m_view, m_log};
};

TEST_F(VCardFileController, PauseWritesWhatIsDoneSoFar) {
  std::string while_paused;
  int writes_while_paused = 0;
  m_view.events.push_back([this] { m_controller.Go(); });
  m_view.events.push_back([&] {
    while_paused = ReadTestFile(m_file);
    writes_while_paused = m_writes;
    m_controller.Go();
  });
  m_controller.Go();
  EXPECT_EQ(while_paused, Card("Ann", kNew) + Card("Ben", kNew) + Card("Cat", kOld));
  EXPECT_EQ(writes_while_paused, 1);
  EXPECT_EQ(ReadTestFile(m_file), Card("Ann", kNew) + Card("Ben", kNew) + Card("Cat", kNew));
  EXPECT_EQ(m_writes, 2);
  EXPECT_EQ(m_controller.Counters().updated, 3);
}

TEST_F(VCardFileController, AbortWritesWhatIsDoneBeforeTheSummary) {
  m_view.events.push_back([this] { m_controller.Abort(); });
  m_controller.Go();
  EXPECT_EQ(ReadTestFile(m_file), Card("Ann", kNew) + Card("Ben", kNew) + Card("Cat", kOld));
  EXPECT_EQ(m_writes, 1);
  const std::string& text = m_log.Text();
  const auto ben = text.find("\\all\\Ben\r\n");
  const auto summary = text.find("Update aborted");
  ASSERT_NE(ben, std::string::npos) << text;
  EXPECT_LT(ben, summary);
  EXPECT_NE(text.find("Contacts updated: 2\r\n"), std::string::npos) << text;
}

TEST_F(VCardFileController, AbortAfterAFailedWriteSummarisesNothingUpdated) {
  fs::create_hard_link(m_file, m_root / "link.vcf");
  m_view.events.push_back([this] { m_controller.Abort(); });
  m_controller.Go();
  const std::string& text = m_log.Text();
  EXPECT_NE(text.find("Contacts updated: 0\r\nNumbers updated:  0\r\nProblems: 2\r\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(ReadTestFile(m_file), Card("Ann", kOld) + Card("Ben", kOld) + Card("Cat", kOld));
}

}  // namespace
}  // namespace dialmend
