#include "stores/vcard_folder/vcard_folder_store.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "contacts/contact_store.h"
#include "tests/fakes/quiet_run.h"
#include "tests/fakes/test_folder.h"

// The vCard folder walk on what a real folder tree may hold: links back up the tree, FIFOs and
// devices where files belong, leftovers of a killed run, names with control characters.

namespace dialmend {
namespace {

namespace fs = std::filesystem;
using testing::ElementsAre;
using testing::IsEmpty;

constexpr std::string_view kCard =
    "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ann\r\nTEL;TYPE=HOME:0171 930 8890\r\nEND:VCARD\r\n";

// What a walk of the whole store met: each folder's path and card count, and every note as
// the log would place it.
struct Walked {
  std::vector<std::string> folders;
  std::vector<std::string> notes;
};

// Walks as the run does, but stops after `limit` folders so an endless walk fails, not hangs.
void WalkInto(FolderCursor& cursor, const std::string& parent, Walked& walked, std::size_t limit) {
  while (auto folder = cursor.Next()) {
    if (walked.folders.size() >= limit) return;
    const std::string path = parent + "\\" + folder->Name();
    std::size_t cards = 0;
    if (folder->Kind() == FolderKind::Contacts) {
      auto items = folder->Items();
      while (items->Next()) ++cards;
    }
    auto subfolders = folder->Folders();
    walked.folders.push_back(path + " " + std::to_string(cards));
    for (const StoreNote& note : folder->TakeNotes()) {
      walked.notes.push_back(path + "\\" + note.subject + ": " + note.text);
    }
    WalkInto(*subfolders, path, walked, limit);
  }
}

Walked WalkAll(ContactStore& store, bool writing = false) {
  store.SetWriting(writing);
  EXPECT_TRUE(store.Open().Ok());
  Walked walked;
  WalkInto(*store.Folders(), "", walked, 100);
  for (const StoreNote& note : store.TakeNotes()) {
    walked.notes.push_back((note.subject.empty() ? "" : note.subject + ": ") + note.text);
  }
  return walked;
}

TEST(VCardWalk, EndsWhenTwoLinksLeadBackUpTheTree) {
  const fs::path root = FreshTestFolder("walk");
  WriteTestFile(root / "book" / "ann.vcf", kCard);
  fs::create_directory_symlink("..", root / "book" / "up");
  fs::create_directory_symlink(".", root / "book" / "self");
  fs::create_directory_symlink("book", root / "same");
  const Walked walked = WalkAll(*MakeVCardStore(root.string()));
  EXPECT_THAT(walked.folders, ElementsAre("\\book 1"));
  EXPECT_THAT(walked.notes,
              ElementsAre("\\book\\self: passed over: it leads back to a folder already walked",
                          "\\book\\up: passed over: it leads back to a folder already walked",
                          "same: passed over: it leads back to a folder already walked"));
}

TEST(VCardWalk, WalksAFolderReachedByALinkOnceAndTheRealOneNotAgain) {
  const fs::path root = FreshTestFolder("walk");
  WriteTestFile(root / "b-real" / "ann.vcf", kCard);
  fs::create_directory_symlink("b-real", root / "a-link");
  const Walked walked = WalkAll(*MakeVCardStore(root.string()));
  EXPECT_THAT(walked.folders, ElementsAre("\\a-link 1"));
  EXPECT_THAT(walked.notes,
              ElementsAre("b-real: passed over: it leads back to a folder already walked"));
}

TEST(VCardWalk, CountsAOneCardStoreWithALinkBackAsOneContact) {
  const fs::path root = FreshTestFolder("walk");
  WriteTestFile(root / "book" / "ann.vcf", kCard);
  fs::create_directory_symlink("..", root / "book" / "back");
  const QuietRun run = RunQuietly(*MakeVCardStore(root.string()), NumberOptions{}, false);
  EXPECT_EQ(run.counters.folders, 1);
  EXPECT_EQ(run.counters.checked, 1);
}

struct DisplayNameCase {
  std::string row;
  // Makes root/book/displayname.
  void (*make)(const fs::path& file);
  std::string name;
  std::string note;
  friend void PrintTo(const DisplayNameCase& c, std::ostream* out) { *out << c.row; }
};

const DisplayNameCase kDisplayNames[] = {
    {"FirstLineOfAFile",
     [](const fs::path& f) { WriteTestFile(f, "Work Friends \r\nsecond line\n"); }, "Work Friends",
     ""},
    {"MissingFile", [](const fs::path&) {}, "book", ""},
    {"FifoWithAWriter",
     [](const fs::path& f) {
       ASSERT_EQ(::mkfifo(f.c_str(), 0600), 0);
       // A writer holds it open with a name in it, so a reader that opens it does not block.
       const int fd = ::open(f.c_str(), O_RDWR | O_NONBLOCK);
       ASSERT_GE(fd, 0);
       ASSERT_EQ(::write(fd, "Evil\n", 5), 5);
     },
     "book", "passed over: it is a FIFO, not a file; the folder's own name is used"},
    {"LinkToADevice", [](const fs::path& f) { fs::create_symlink("/dev/null", f); }, "book",
     "passed over: it is a device, not a file; the folder's own name is used"},
    {"Folder", [](const fs::path& f) { fs::create_directory(f); }, "book",
     "passed over: it is a folder, not a file; the folder's own name is used"},
    {"FirstLineLongerThan4KiB",
     [](const fs::path& f) { WriteTestFile(f, std::string(10000, 'x')); }, "book",
     "passed over: its first line is longer than 4 KiB; the folder's own name is used"},
    {"LongFileWithAShortFirstLine",
     [](const fs::path& f) { WriteTestFile(f, "Short\n" + std::string(10000, 'x')); }, "Short", ""},
};

class VCardDisplayName : public testing::TestWithParam<DisplayNameCase> {};

TEST_P(VCardDisplayName, IsReadOnlyFromAFileElseTheFolderNameIsUsed) {
  const fs::path root = FreshTestFolder("walk");
  WriteTestFile(root / "book" / "ann.vcf", kCard);
  GetParam().make(root / "book" / "displayname");
  auto store = MakeVCardStore(root.string());
  ASSERT_TRUE(store->Open().Ok());
  auto folder = store->Folders()->Next();
  ASSERT_NE(folder, nullptr);
  // Stops here on a wrong name: a FIFO read once more would block the test for good.
  ASSERT_EQ(folder->Name(), GetParam().name);
  EXPECT_EQ(folder->Name(), GetParam().name) << "asked again";
  std::vector<std::string> notes;
  for (const StoreNote& note : folder->TakeNotes())
    notes.push_back(note.subject + ": " + note.text);
  if (GetParam().note.empty()) {
    EXPECT_THAT(notes, IsEmpty());
  } else {
    EXPECT_THAT(notes, ElementsAre("displayname: " + GetParam().note));
  }
}

INSTANTIATE_TEST_SUITE_P(Files, VCardDisplayName, testing::ValuesIn(kDisplayNames),
                         [](const auto& info) { return info.param.row; });

TEST(VCardWalk, NamesEveryEntryOfACardsNameThatIsNotAFile) {
  const fs::path root = FreshTestFolder("walk");
  const fs::path book = root / "book";
  WriteTestFile(book / "b-ann.vcf", kCard);
  ASSERT_EQ(::mkfifo((book / "fifo.vcf").c_str(), 0600), 0);
  fs::create_symlink("/dev/null", book / "device.vcf");
  fs::create_symlink("nowhere.vcf", book / "gone.vcf");
  fs::create_symlink("loop.vcf", book / "loop.vcf");
  fs::create_symlink("/dev/null", book / "device-not-a-card");
  const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(sock, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socket_path = (book / "sock.vcf").string();
  ASSERT_LT(socket_path.size(), sizeof address.sun_path);
  socket_path.copy(address.sun_path, socket_path.size());
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ::close(sock);

  const Walked walked = WalkAll(*MakeVCardStore(root.string()));
  EXPECT_THAT(walked.folders, ElementsAre("\\book 1"));
  EXPECT_THAT(
      walked.notes,
      ElementsAre("\\book\\device.vcf: passed over: it is a device, not a file",
                  "\\book\\fifo.vcf: passed over: it is a FIFO, not a file",
                  "\\book\\gone.vcf: passed over: it is a dangling link (what it names "
                  "does not exist)",
                  "\\book\\loop.vcf: passed over: it is a link that leads round in a circle",
                  "\\book\\sock.vcf: passed over: it is a socket, not a file"));
}

// Leftovers of ours beside cards, and hidden files that only look like them.
void MakeLeftovers(const fs::path& root) {
  WriteTestFile(root / "book" / "ann.vcf", kCard);
  WriteTestFile(root / "book" / ".ann.vcf.dialmend-a1B2c3.tmp", "half a card");
  WriteTestFile(root / "book" / "sub" / ".x.vcf.dialmend-ZZZZZZ.tmp", "");
  WriteTestFile(root / ".displayname.dialmend-000000.tmp", "");
  WriteTestFile(root / "book" / ".ann.vcf.dialmend-a1B2c.tmp", "five letters");
  WriteTestFile(root / "book" / ".ann.vcf.dialmend-a1B2c_.tmp", "not a letter");
  WriteTestFile(root / "book" / ".ann.vcf.other-a1B2c3.tmp", "another program's");
  fs::create_symlink("ann.vcf", root / "book" / ".link.vcf.dialmend-abcdef.tmp");
  fs::create_directories(root / "book" / ".dir.vcf.dialmend-abcdef.tmp");
}

std::vector<std::string> Files(const fs::path& root) {
  std::vector<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    names.push_back(entry.path().lexically_relative(root).string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(VCardWalk, AnUpdateRemovesOnlyOurOwnLeftoverFilesAndSaysHowManyASimulationNone) {
  const fs::path root = FreshTestFolder("walk");
  MakeLeftovers(root);
  const std::vector<std::string> before = Files(root);
  EXPECT_THAT(WalkAll(*MakeVCardStore(root.string()), false).notes, IsEmpty());
  EXPECT_EQ(Files(root), before);
  const Walked walked = WalkAll(*MakeVCardStore(root.string()), true);
  EXPECT_THAT(walked.notes,
              ElementsAre("Removed 3 temporary files left by an earlier run that was stopped"));
  EXPECT_THAT(
      Files(root),
      ElementsAre("book", "book/.ann.vcf.dialmend-a1B2c.tmp", "book/.ann.vcf.dialmend-a1B2c_.tmp",
                  "book/.ann.vcf.other-a1B2c3.tmp", "book/.dir.vcf.dialmend-abcdef.tmp",
                  "book/.link.vcf.dialmend-abcdef.tmp", "book/ann.vcf", "book/sub"));
}

// The other characters are ContactRun's tests; here a line break in a folder's and a file's name.
TEST(VCardWalk, ShowsControlCharactersOfNamesEscapedInTheLog) {
  const fs::path root = FreshTestFolder("walk");
  WriteTestFile(root / "Work\nInjected" / "ann.vcf", kCard);
  WriteTestFile(root / "Work\nInjected" / "bad\x1b.vcf", "BEGIN:VCARD\r\nno colon\r\n");
  auto store = MakeVCardStore(root.string());
  const std::string text = RunQuietly(*store, NumberOptions{}, /*update=*/false).log;
  EXPECT_NE(text.find("\r\n\\Work\\nInjected\\Ann\r\n  Home:"), std::string::npos) << text;
  EXPECT_NE(text.find("\r\n  Could not read \\Work\\nInjected\\bad\\x1B.vcf: "), std::string::npos)
      << text;
  EXPECT_EQ(text.find("\nInjected"), std::string::npos) << text;
}

}  // namespace
}  // namespace dialmend
