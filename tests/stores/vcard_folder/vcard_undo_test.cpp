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

#include "contacts/phone_field.h"
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
  const auto before = ReadTestTree(root / "book");
  ASSERT_GT(before.size(), 20u);

  const auto store = MakeVCardStore((root / "book").string());
  const QuietRun update = RunQuietly(*store, NumberOptions{}, runs.string());
  ASSERT_GT(update.counters.updated, 10) << update.log;
  EXPECT_NE(ReadTestTree(root / "book"), before);

  const QuietRun undo = UndoQuietly(*store, OnlyRecord(runs), true);
  EXPECT_EQ(undo.counters.updated, update.counters.updated) << undo.log;
  EXPECT_EQ(undo.counters.numbers, update.counters.numbers);
  EXPECT_EQ(undo.counters.problems, 0) << undo.log;
  const auto after = ReadTestTree(root / "book");
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
  const auto before = ReadTestTree(root / "book");
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
  EXPECT_EQ(ReadTestTree(root / "book"), before);
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

// Another program writes a card again after the update: a number it changed is left and named,
// and one it keeps, but no longer in the card's old bytes, gets the old number written afresh.
TEST(VCardUndo, LeavesANumberChangedSinceAndWritesOneReencodedSinceAfresh) {
  struct Row {
    const char* name;
    const char* card;    // before the update
    const char* edited;  // after it
    const char* undone;
    std::int64_t updated;  // numbers
    std::int64_t restored;
    std::int64_t left;
    const char* said;
  };
  const Row rows[] = {
      {"changed since",
       "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ann\r\nTEL;TYPE=HOME:0171 930 8890\r\n"
       "TEL;TYPE=CELL:0370 123456\r\nEND:VCARD\r\n",
       "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ann\r\nTEL;TYPE=HOME:020 8888 1234\r\n"
       "TEL;TYPE=CELL:(07770) 123456\r\nEND:VCARD\r\n",
       "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ann\r\nTEL;TYPE=HOME:020 8888 1234\r\n"
       "TEL;TYPE=CELL:0370 123456\r\nEND:VCARD\r\n",
       2, 1, 1,
       "\\book\\Ann\r\n  Mobile:       (07770) 123456 --> 0370 123456\r\n"
       "  Left Home as it is: it holds \"020 8888 1234\", not "
       "\"(020) 7930 8890\" as the update wrote it\r\n"},
      {"no longer quoted-printable",
       "BEGIN:VCARD\r\nVERSION:2.1\r\nFN:Ann\r\n"
       "TEL;HOME;ENCODING=QUOTED-PRINTABLE:0181=20930=\r\n 8801\r\nEND:VCARD\r\n",
       "BEGIN:VCARD\r\nVERSION:2.1\r\nFN:Ann\r\nTEL;HOME:(020) 8930 8801\r\nEND:VCARD\r\n",
       "BEGIN:VCARD\r\nVERSION:2.1\r\nFN:Ann\r\nTEL;HOME:0181 930 8801\r\nEND:VCARD\r\n", 1, 1, 0,
       "\\book\\Ann\r\n  Home:         (020) 8930 8801 --> 0181 930 8801\r\n"},
  };
  for (const Row& row : rows) {
    const fs::path root = FreshTestFolder("vcard_undo") / row.name;
    const fs::path card = root / "book" / "ann.vcf";
    WriteTestFile(card, row.card);
    const auto store = MakeVCardStore(root.string());
    ASSERT_EQ(RunQuietly(*store, NumberOptions{}, (root / "runs").string()).counters.numbers,
              row.updated)
        << row.name;
    WriteTestFile(card, row.edited);

    const QuietRun undo = UndoQuietly(*store, OnlyRecord(root / "runs"), true);
    EXPECT_EQ(ReadTestFile(card), row.undone) << row.name;
    EXPECT_EQ(undo.counters.numbers, row.restored) << row.name << "\n" << undo.log;
    EXPECT_EQ(undo.counters.left, row.left) << row.name;
    EXPECT_NE(undo.log.find(row.said), std::string::npos) << row.name << "\n" << undo.log;
  }
}

// A record is input: a path out of the store, a link put in since the update, or a value that
// would add a line to a card, each written into a record with its sums right.
TEST(VCardUndo, RefusesWhatARecordNamesOutsideTheStoreAndAddsNoLineToACard) {
  const std::string ann =
      "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ann\r\nTEL:(020) 7930 8890\r\nEND:VCARD\r\n";
  const std::string eve =
      "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Eve\r\nTEL:(020) 7930 8890\r\nEND:VCARD\r\n";
  struct Row {
    const char* name;
    const char* where;  // below the store
    const char* form;
    const char* said;  // nullptr: restored
  };
  const Row rows[] = {
      {"dot dot", "book/../elsewhere/eve.vcf", "", "it is not a card of this store"},
#ifndef _WIN32
      {"card link", "book/eve.vcf", "", "a symbolic link stands in its way"},
      {"book link", "away/eve.vcf", "", "a symbolic link stands in its way"},
#endif
      {"injected form", "book/ann.vcf", "0171 930 8890\r\nX-INJECTED:yes", nullptr},
  };
  for (const Row& row : rows) {
    const fs::path root = FreshTestFolder("vcard_undo") / row.name;
    WriteTestFile(root / "store" / "book" / "ann.vcf", ann);
    WriteTestFile(root / "elsewhere" / "eve.vcf", eve);
#ifndef _WIN32
    fs::create_symlink(root / "elsewhere" / "eve.vcf", root / "store" / "book" / "eve.vcf");
    fs::create_directory_symlink(root / "elsewhere", root / "store" / "away");
#endif
    const auto store = MakeVCardStore((root / "store").string());
    ASSERT_TRUE(store->Open().Ok());
    const StoreIdentity identity = store->Identity();
    UndoJournal journal((root / "runs").string(), identity, std::chrono::system_clock::now(), "x");
    ASSERT_TRUE(
        journal
            .Record({{identity.location + "/" + row.where, -1, {}},
                     "\\book\\Card",
                     {{0, PhoneField::Other, "0171 930 8890", "(020) 7930 8890", row.form}}})
            .Ok());
    const QuietRun undo = UndoQuietly(*store, OnlyRecord(root / "runs"), true);
    EXPECT_EQ(ReadTestFile(root / "elsewhere" / "eve.vcf"), eve) << row.name;
    if (row.said != nullptr) {
      EXPECT_EQ(undo.counters.not_found, 1) << row.name << "\n" << undo.log;
      EXPECT_NE(undo.log.find(row.said), std::string::npos) << row.name << "\n" << undo.log;
    } else {
      EXPECT_EQ(ReadTestFile(root / "store" / "book" / "ann.vcf"),
                "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ann\r\nTEL:0171 930 8890\r\nEND:VCARD\r\n")
          << undo.log;
    }
  }
}

// A run that writes removes what a killed run of ours left: an undo in the folders it restores
// cards in, and both over an export, beside it, for that file alone.
TEST(VCardUndo, RemovesOurLeftoversBesideWhatItWrites) {
  const std::string card =
      "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ann\r\nTEL:0171 930 8890\r\nEND:VCARD\r\n";
  for (const bool export_file : {false, true}) {
    const fs::path root = FreshTestFolder("vcard_undo") / (export_file ? "file" : "folder");
    const fs::path book = root / "book";
    WriteTestFile(book / "ann.vcf", export_file ? card + card : card);
    const auto store = export_file ? MakeVCardFileStore((book / "ann.vcf").string())
                                   : MakeVCardStore(book.string());
    const fs::path ours = book / ".ann.vcf.dialmend-a1b2c3.tmp";
    const fs::path other = book / ".other.vcf.dialmend-a1b2c3.tmp";
    WriteTestFile(ours, "left by a killed run");
    WriteTestFile(other, "left by a killed run over another file");
    const QuietRun update = RunQuietly(*store, NumberOptions{}, (root / "runs").string());
    EXPECT_FALSE(fs::exists(ours)) << update.log;
    EXPECT_EQ(fs::exists(other), export_file) << "an export's folder keeps others' leftovers";
    WriteTestFile(ours, "left by a killed run");
    const QuietRun undo = UndoQuietly(*store, OnlyRecord(root / "runs"), true);
    EXPECT_FALSE(fs::exists(ours)) << undo.log;
    EXPECT_NE(undo.log.find("  Removed 1 temporary file left by an earlier run"), std::string::npos)
        << undo.log;
  }
}

// An export written again, a card added at its top, two cards swapped and one renamed: each
// card is found by its UID, else by its name and numbers, and undone where it now stands.
TEST(VCardUndo, GivesBackTheCardsOfAFileExportedAgainWithCardsAddedAndMoved) {
  const auto card = [](const std::string& name, const std::string& uid, const std::string& tel) {
    return "BEGIN:VCARD\r\nVERSION:3.0\r\n" + (uid.empty() ? "" : "UID:" + uid + "\r\n") +
           "FN:" + name + "\r\nTEL;TYPE=HOME:" + tel + "\r\nEND:VCARD\r\n";
  };
  const std::string a = card("Ann", "uid-a", "0171 930 8890");
  const std::string b = card("Bob", "", "0171 930 8891");
  const std::string c = card("Cy", "uid-c", "0171 930 8892");
  const std::string d = card("Bob", "", "0171 930 8893");
  const std::string added = card("New", "uid-n", "0171 930 8894");
  const fs::path root = FreshTestFolder("vcard_undo");
  const fs::path file = root / "all.vcf";
  WriteTestFile(file, a + b + c + d);
  const auto store = MakeVCardFileStore(file.string());
  ASSERT_EQ(RunQuietly(*store, NumberOptions{}, (root / "runs").string()).counters.numbers, 4);
  // Cut the updated file into its cards, and export it again in another order.
  const std::string updated = ReadTestFile(file);
  std::vector<std::string> cards;
  for (std::size_t at = 0; at < updated.size();) {
    const std::size_t end = updated.find("END:VCARD\r\n", at) + 11;
    cards.push_back(updated.substr(at, end - at));
    at = end;
  }
  ASSERT_EQ(cards.size(), 4u);
  const auto renamed = [](std::string bytes) {
    return bytes.replace(bytes.find("Cy"), 2, "Cyril");
  };
  WriteTestFile(file, added + cards[0] + cards[3] + renamed(cards[2]) + cards[1]);

  const QuietRun undo = UndoQuietly(*store, OnlyRecord(root / "runs"), true);
  EXPECT_EQ(undo.counters.numbers, 4) << undo.log;
  EXPECT_EQ(undo.counters.problems, 0) << undo.log;
  EXPECT_EQ(ReadTestFile(file), added + a + d + renamed(c) + b);
}

}  // namespace
}  // namespace dialmend
