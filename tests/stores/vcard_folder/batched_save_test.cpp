#include "stores/vcard_folder/vcard_folder_store.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/system_calls.h"
#include "tests/fakes/quiet_run.h"
#include "tests/fakes/test_folder.h"

// The folder store's saves, written a batch at a time by the walk: what reaches the disk, how
// often it is flushed, and what the log says of a save that fails in its batch.

namespace dialmend {
namespace {

namespace fs = std::filesystem;

std::string OldCard(const std::string& name) {
  return "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:" + name +
         "\r\nTEL;TYPE=HOME:0171 930 8890\r\nEND:VCARD\r\n";
}

// Counts the flushes the writer asks for, passing each to the system.
struct FlushCounter {
  FlushCounter() {
    count_fsync = 0;
    count_syncfs = 0;
    Sys().fsync = [](int fd) {
      ++count_fsync;
      return RealSystemCalls().fsync(fd);
    };
    Sys().syncfs = [](int fd) {
      ++count_syncfs;
      return RealSystemCalls().syncfs(fd);
    };
  }
  ~FlushCounter() { Sys() = RealSystemCalls(); }

  static inline int count_fsync = 0;
  static inline int count_syncfs = 0;
};

TEST(BatchedSave, FlushesTheDiskAndTheFolderOncePerBatchNotTwicePerCard) {
  const fs::path root = FreshTestFolder("batched");
  // Two full batches and part of a third.
  constexpr int kCards = 600;
  for (int i = 0; i < kCards; ++i) {
    WriteTestFile(root / "book" / ("c" + std::to_string(1000 + i) + ".vcf"),
                  OldCard("Card " + std::to_string(i)));
  }
  const auto store = MakeVCardStore(root.string());
  const FlushCounter counter;
  const QuietRun run = RunQuietly(*store, NumberOptions{}, /*update=*/true);
  EXPECT_EQ(run.counters.updated, kCards);
  EXPECT_EQ(run.counters.problems, 0);
  EXPECT_EQ(FlushCounter::count_syncfs, 3);
  // The folder, once per batch; no card is flushed on its own.
  EXPECT_EQ(FlushCounter::count_fsync, 3);
  for (int i = 0; i < kCards; i += 97) {
    EXPECT_NE(ReadTestFile(root / "book" / ("c" + std::to_string(1000 + i) + ".vcf"))
                  .find("TEL;TYPE=HOME:(020) 7930 8890\r\n"),
              std::string::npos);
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(root / "book"), fs::directory_iterator()), kCards);
}

TEST(BatchedSave, FlushesEachCardWhenTheFileSystemCannotBeFlushedWhole) {
  const fs::path root = FreshTestFolder("batched");
  WriteTestFile(root / "book" / "a.vcf", OldCard("Ann"));
  WriteTestFile(root / "book" / "b.vcf", OldCard("Bea"));
  const auto store = MakeVCardStore(root.string());
  const FlushCounter counter;
  Sys().syncfs = [](int) {
    ++FlushCounter::count_syncfs;
    errno = EIO;
    return -1;
  };
  const QuietRun run = RunQuietly(*store, NumberOptions{}, /*update=*/true);
  EXPECT_EQ(run.counters.updated, 2);
  EXPECT_EQ(FlushCounter::count_syncfs, 1);
  // Each card, then the folder.
  EXPECT_EQ(FlushCounter::count_fsync, 3);
}

TEST(BatchedSave, ReportsACardWhoseSaveFailsInItsBatchAsAnyFailedSave) {
  const fs::path root = FreshTestFolder("batched");
  WriteTestFile(root / "book" / "a.vcf", OldCard("Ann"));
  WriteTestFile(root / "book" / "b.vcf", OldCard("Bea"));
  fs::create_hard_link(root / "book" / "a.vcf", root / "a-link");
  const auto store = MakeVCardStore(root.string());
  const QuietRun run = RunQuietly(*store, NumberOptions{}, /*update=*/true);
  EXPECT_NE(run.log.find("  Could not save \\book\\Ann: it has another hard link, which a "
                         "replace would break\r\n\\book\\Bea\r\n"),
            std::string::npos)
      << run.log;
  EXPECT_EQ(run.log.find("\\book\\Ann\r\n"), std::string::npos) << run.log;
  EXPECT_EQ(run.counters.checked, 2);
  EXPECT_EQ(run.counters.updated, 1);
  EXPECT_EQ(run.counters.numbers, 1);
  EXPECT_EQ(run.counters.problems, 1);
  EXPECT_EQ(ReadTestFile(root / "book" / "a.vcf"), OldCard("Ann"));
  EXPECT_NE(ReadTestFile(root / "book" / "b.vcf"), OldCard("Bea"));
}

}  // namespace
}  // namespace dialmend
