#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "run/run_records.h"
#include "run/undo_record.h"
#include "stores/vcard_file/vcard_file_store.h"
#include "stores/vcard_folder/vcard_folder_store.h"
#include "tests/fakes/quiet_run.h"
#include "tests/fakes/test_folder.h"

// An update undone at once gives back every card file byte for byte, in every form the reader
// handles, for a folder of cards and for a file of many.

namespace dialmend {
namespace {

namespace fs = std::filesystem;

// Every fixture card the reader takes: all but the ones made to be refused.
std::map<std::string, std::string> ReadableFixtures() {
  std::map<std::string, std::string> cards;
  for (const fs::directory_entry& entry : fs::directory_iterator(DIALMEND_VCARD_DATA_DIR)) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with("bad_") || !name.ends_with(".vcf")) continue;
    cards[name] = ReadTestFile(entry.path());
  }
  return cards;
}

// The files under `root`, by path, with their bytes; the undo records' folder left out.
std::map<std::string, std::string> Files(const fs::path& root) {
  std::map<std::string, std::string> files;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file() && entry.path().parent_path().filename() != "runs") {
      files[entry.path().string()] = ReadTestFile(entry.path());
    }
  }
  return files;
}

// The record of the one update run in `runs`.
UndoRecord OnlyRecord(const fs::path& runs) {
  std::vector<UndoRecord> records;
  for (const fs::directory_entry& entry : fs::directory_iterator(runs)) {
    Result<UndoRecord> read = ReadUndoRecord(entry.path().string());
    EXPECT_TRUE(read.Ok()) << read.Message();
    if (read.Ok()) records.push_back(std::move(read.Value()));
  }
  EXPECT_EQ(records.size(), 1u);
  return records.empty() ? UndoRecord{} : records.front();
}

TEST(VCardUndo, GivesBackEveryCardOfAFolderByteForByte) {
  const fs::path root = FreshTestFolder("vcard_undo");
  const fs::path runs = root / "runs";
  for (const auto& [name, bytes] : ReadableFixtures()) WriteTestFile(root / "book" / name, bytes);
  const auto before = Files(root / "book");
  ASSERT_GT(before.size(), 20u);

  const auto store = MakeVCardStore((root / "book").string());
  const QuietRun update = RunQuietly(*store, NumberOptions{}, runs.string());
  ASSERT_GT(update.counters.updated, 10) << update.log;
  EXPECT_NE(Files(root / "book"), before);

  const QuietRun undo = UndoQuietly(*store, OnlyRecord(runs), true);
  EXPECT_EQ(undo.counters.updated, update.counters.updated) << undo.log;
  EXPECT_EQ(undo.counters.numbers, update.counters.numbers);
  EXPECT_EQ(undo.counters.problems, 0) << undo.log;
  const auto after = Files(root / "book");
  for (const auto& [path, bytes] : before) EXPECT_EQ(after.at(path), bytes) << path;
}

#ifndef _WIN32
// Each held save keeps its card open: an undo of more cards than the process may open at once
// must write them a batch at a time, as the walk does.
TEST(VCardUndo, GivesBackAFolderOfMoreCardsThanMayBeOpenAtOnce) {
  const fs::path root = FreshTestFolder("vcard_undo");
  const fs::path runs = root / "runs";
  for (int i = 0; i < 700; ++i) {
    WriteTestFile(root / "book" / ("c" + std::to_string(i) + ".vcf"),
                  "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:C" + std::to_string(i) +
                      "\r\nTEL;TYPE=HOME:0171 930 " + std::to_string(1000 + i) +
                      "\r\nEND:VCARD\r\n");
  }
  const auto before = Files(root / "book");
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
  rlimit low = saved;
  low.rlim_cur = 800;
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);

  const auto store = MakeVCardStore((root / "book").string());
  const QuietRun update = RunQuietly(*store, NumberOptions{}, runs.string());
  const QuietRun undo = UndoQuietly(*store, OnlyRecord(runs), true);
  ::setrlimit(RLIMIT_NOFILE, &saved);

  EXPECT_EQ(update.counters.updated, 700) << update.log;
  EXPECT_EQ(undo.counters.updated, 700) << undo.log;
  EXPECT_EQ(undo.counters.problems, 0);
  EXPECT_EQ(Files(root / "book"), before);
}
#endif

TEST(VCardUndo, GivesBackAFileOfManyCardsByteForByte) {
  const fs::path root = FreshTestFolder("vcard_undo");
  const fs::path runs = root / "runs";
  std::string all;
  for (const auto& [name, bytes] : ReadableFixtures()) {
    // A card whose file goes on after its END line is a file of its own, not one of many.
    if (name.starts_with("text_after") || name.starts_with("blank_lines_after")) continue;
    all += bytes;
    if (!all.ends_with('\n')) all += "\r\n";
  }
  const fs::path file = root / "all.vcf";
  WriteTestFile(file, all);

  const auto store = MakeVCardFileStore(file.string());
  const QuietRun update = RunQuietly(*store, NumberOptions{}, runs.string());
  ASSERT_GT(update.counters.updated, 10) << update.log;
  ASSERT_NE(ReadTestFile(file), all);

  const QuietRun undo = UndoQuietly(*store, OnlyRecord(runs), true);
  EXPECT_EQ(undo.counters.numbers, update.counters.numbers) << undo.log;
  EXPECT_EQ(undo.counters.problems, 0) << undo.log;
  EXPECT_EQ(ReadTestFile(file), all);
}

TEST(VCardUndo, LeavesACardChangedSinceTheUpdateAndNamesIt) {
  const fs::path root = FreshTestFolder("vcard_undo");
  const fs::path runs = root / "runs";
  const fs::path card = root / "book" / "ann.vcf";
  WriteTestFile(card,
                "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ann\r\nTEL;TYPE=HOME:0171 930 8890\r\n"
                "TEL;TYPE=CELL:0370 123456\r\nEND:VCARD\r\n");
  const auto store = MakeVCardStore(root.string());
  ASSERT_EQ(RunQuietly(*store, NumberOptions{}, runs.string()).counters.numbers, 2);
  const std::string edited =
      "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ann\r\nTEL;TYPE=HOME:020 8888 1234\r\n"
      "TEL;TYPE=CELL:(07770) 123456\r\nEND:VCARD\r\n";
  WriteTestFile(card, edited);

  const QuietRun undo = UndoQuietly(*store, OnlyRecord(runs), true);
  EXPECT_EQ(ReadTestFile(card),
            "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ann\r\nTEL;TYPE=HOME:020 8888 1234\r\n"
            "TEL;TYPE=CELL:0370 123456\r\nEND:VCARD\r\n");
  EXPECT_EQ(undo.counters.left, 1);
  EXPECT_EQ(undo.counters.numbers, 1);
  EXPECT_NE(undo.log.find("  Left Home of \\book\\Ann as it is: it holds \"020 8888 1234\", not "
                          "\"(020) 7930 8890\" as the update wrote it\r\n"),
            std::string::npos)
      << undo.log;
}

TEST(VCardUndo, WritesTheOldNumberAfreshWhereTheCardNoLongerReadsItsOldBytesAsIt) {
  const fs::path root = FreshTestFolder("vcard_undo");
  const fs::path runs = root / "runs";
  const fs::path card = root / "book" / "ann.vcf";
  WriteTestFile(card,
                "BEGIN:VCARD\r\nVERSION:2.1\r\nFN:Ann\r\n"
                "TEL;HOME;ENCODING=QUOTED-PRINTABLE:0181=20930=\r\n 8801\r\nEND:VCARD\r\n");
  const auto store = MakeVCardStore(root.string());
  ASSERT_EQ(RunQuietly(*store, NumberOptions{}, runs.string()).counters.numbers, 1);
  // Another program writes the card again without quoted-printable, keeping the new number.
  WriteTestFile(
      card, "BEGIN:VCARD\r\nVERSION:2.1\r\nFN:Ann\r\nTEL;HOME:(020) 8930 8801\r\nEND:VCARD\r\n");

  const QuietRun undo = UndoQuietly(*store, OnlyRecord(runs), true);
  EXPECT_EQ(undo.counters.numbers, 1) << undo.log;
  EXPECT_EQ(ReadTestFile(card),
            "BEGIN:VCARD\r\nVERSION:2.1\r\nFN:Ann\r\nTEL;HOME:0181 930 8801\r\nEND:VCARD\r\n");
}

TEST(VCardUndo, RefusesACardPathOutsideTheStore) {
  const fs::path root = FreshTestFolder("vcard_undo");
  const fs::path runs = root / "runs";
  WriteTestFile(root / "book" / "ann.vcf",
                "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ann\r\nTEL:0171 930 8890\r\nEND:VCARD\r\n");
  const std::string outside =
      "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Eve\r\nTEL:(020) 7930 8890\r\nEND:VCARD\r\n";
  WriteTestFile(root / "elsewhere" / "eve.vcf", outside);
  const auto store = MakeVCardStore((root / "book").string());
  ASSERT_EQ(RunQuietly(*store, NumberOptions{}, runs.string()).counters.updated, 1);
  UndoRecord record = OnlyRecord(runs);
  // The record's one contact names Eve's card instead, a backslash escaped as the record does.
  std::string eve;
  for (const char c : fs::weakly_canonical(root / "elsewhere" / "eve.vcf").string()) {
    eve += c == '\\' ? std::string("\\\\") : std::string(1, c);
  }
  std::string text = ReadTestFile(record.path);
  const std::size_t where = text.find("\ncontact\t") + 9;
  ASSERT_GT(where, 9u) << text;
  text.replace(where, text.find('\t', where) - where, eve);
  WriteTestFile(record.path, text);
  const QuietRun undo = UndoQuietly(*store, record, true);
  EXPECT_EQ(undo.counters.problems, 1);
  EXPECT_NE(undo.log.find("it is not a card of this store"), std::string::npos) << undo.log;
  EXPECT_EQ(ReadTestFile(root / "elsewhere" / "eve.vcf"), outside);
}

}  // namespace
}  // namespace dialmend
