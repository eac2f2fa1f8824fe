#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "contacts/contact_store.h"
#include "stores/vcard_folder/vcard_folder_store.h"
#include "tests/fakes/quiet_run.h"
#include "tests/fakes/test_folder.h"

// A folder's card names are held a batch at a time: the walk must still meet every card once,
// in byte order of the names, whatever the batch size.

namespace dialmend {
namespace {

namespace fs = std::filesystem;
using testing::ElementsAre;
using testing::ElementsAreArray;

// A card whose filing name is its file's name, so the walk's order can be read back.
void WriteCard(const fs::path& path) {
  WriteTestFile(path, "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:" + path.filename().string() +
                          "\r\nTEL;TYPE=HOME:0171 930 8890\r\nEND:VCARD\r\n");
}

// Every folder's path, then the filing names of its cards in the order the walk met them.
void WalkInto(FolderCursor& cursor, const std::string& parent, std::vector<std::string>& met) {
  while (auto folder = cursor.Next()) {
    const std::string path = parent + "\\" + folder->Name();
    met.push_back(path);
    if (folder->Kind() == FolderKind::Contacts) {
      auto items = folder->Items();
      while (auto item = items->Next()) met.push_back(item->FileAs());
    }
    WalkInto(*folder->Folders(), path, met);
  }
}

std::vector<std::string> Walk(ContactStore& store) {
  EXPECT_TRUE(store.Open().Ok());
  std::vector<std::string> met;
  WalkInto(*store.Folders(), "", met);
  return met;
}

// Names written out of order, with upper case (before lower in byte order); no two differ in
// case alone, as Windows would take them for one file.
const std::vector<std::string> kNames = {"m.vcf", "b.vcf", "Z.vcf", "k.VCF", "aa.vcf", "x.vcf",
                                         "c.vcf", "A.vcf", "q.vcf", "e.vcf", "d.vcf"};

std::vector<std::string> Sorted(std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  return names;
}

class VCardNameBatches : public testing::TestWithParam<std::size_t> {};

TEST_P(VCardNameBatches, WalkEveryCardOnceInByteOrder) {
  const fs::path root = FreshTestFolder("batch");
  for (const std::string& name : kNames) WriteCard(root / "book" / name);
  std::ofstream(root / "book" / "notes.txt") << "not a card";
  WriteCard(root / "book" / "sub" / "n.vcf");
  auto store = MakeVCardStore(root.string(), GetParam());
  std::vector<std::string> expected = {"\\book"};
  for (const std::string& name : Sorted(kNames)) expected.push_back(name);
  expected.insert(expected.end(), {"\\book\\sub", "n.vcf"});
  EXPECT_THAT(Walk(*store), ElementsAreArray(expected));
}

TEST_P(VCardNameBatches, WalkTheProfileFolderOwnCardsWhole) {
  const fs::path root = FreshTestFolder("batch") / "Friends";
  for (const std::string& name : kNames) WriteCard(root / name);
  auto store = MakeVCardStore(root.string(), GetParam());
  std::vector<std::string> expected = {"\\Friends"};
  for (const std::string& name : Sorted(kNames)) expected.push_back(name);
  EXPECT_THAT(Walk(*store), ElementsAreArray(expected));
}

// Each save replaces a card under its own name while the rest of the folder is still to be
// listed: no card is met twice or missed.
TEST_P(VCardNameBatches, UpdateChangesEveryCardOnce) {
  const fs::path root = FreshTestFolder("batch");
  for (const std::string& name : kNames) WriteCard(root / "book" / name);
  auto store = MakeVCardStore(root.string(), GetParam());
  const QuietRun run = RunQuietly(*store, NumberOptions{}, /*update=*/true);
  EXPECT_EQ(run.counters.checked, static_cast<std::int64_t>(kNames.size()));
  EXPECT_EQ(run.counters.updated, static_cast<std::int64_t>(kNames.size()));
  EXPECT_EQ(run.counters.problems, 0);
}

INSTANTIATE_TEST_SUITE_P(Sizes, VCardNameBatches, testing::Values(1, 2, 3, 10, 11, 12, 4096));

TEST(VCardNameBatch, ASmallBatchSeesACardAddedAfterItsListingWhenItsTurnComes) {
  const fs::path root = FreshTestFolder("batch");
  for (const char* name : {"a.vcf", "b.vcf", "c.vcf"}) WriteCard(root / "book" / name);
  auto store = MakeVCardStore(root.string(), 2);
  ASSERT_TRUE(store->Open().Ok());
  auto folder = store->Folders()->Next();
  ASSERT_TRUE(folder);
  auto items = folder->Items();
  std::vector<std::string> met;
  met.push_back(items->Next()->FileAs());
  // Added once the first batch ("a.vcf", "b.vcf") was listed; "0.vcf" sorts before both.
  WriteCard(root / "book" / "bb.vcf");
  WriteCard(root / "book" / "0.vcf");
  while (auto item = items->Next()) met.push_back(item->FileAs());
  EXPECT_THAT(met, ElementsAre("a.vcf", "b.vcf", "bb.vcf", "c.vcf"));
}

}  // namespace
}  // namespace dialmend
