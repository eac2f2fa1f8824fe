// How much memory reading an undo record takes, counted by replacing the global operator new
// for this program alone.

#include <gtest/gtest.h>
#include <malloc.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "run/run_records.h"
#include "run/undo_record.h"
#include "tests/fakes/test_folder.h"

namespace {

std::atomic<std::size_t> g_live{0};
std::atomic<std::size_t> g_peak{0};

}  // namespace

void* operator new(std::size_t size) {
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  const std::size_t live = g_live += malloc_usable_size(block);
  for (std::size_t peak = g_peak; live > peak && !g_peak.compare_exchange_weak(peak, live);) {
  }
  return block;
}

void operator delete(void* block) noexcept {
  if (block == nullptr) return;
  g_live -= malloc_usable_size(block);
  std::free(block);
}

void operator delete(void* block, std::size_t) noexcept {
  operator delete(block);
}

namespace dialmend {
namespace {

namespace fs = std::filesystem;

// The most the heap held during `work` beyond what it held before.
template <class Work>
std::size_t PeakDuring(Work work) {
  const std::size_t before = g_live;
  g_peak = before;
  work();
  return g_peak - before;
}

// Enough contacts that a record held whole takes many megabytes.
constexpr std::size_t kContacts = 100'000;
constexpr std::size_t kKiB = 1024;

// Records an update of kContacts contacts in `folder`; returns the record's path.
std::string BigRecord(const fs::path& folder) {
  UndoJournal journal(folder.string(), {"memory", "big"}, std::chrono::system_clock::now(), "then");
  for (std::size_t i = 0; i < kContacts; ++i) {
    char where[64];
    std::snprintf(where, sizeof where, "/home/ann/.contacts/book/card-%06zu.vcf", i);
    EXPECT_TRUE(journal
                    .Record({{where, -1, {}},
                             "\\Book\\Card " + std::to_string(i),
                             {{0, PhoneField::Home, "0171 930 8890", "(020) 7930 8890", {}}}})
                    .Ok());
  }
  EXPECT_TRUE(journal.Sync().Ok());
  return journal.Path();
}

TEST(RecordMemory, ListingAndChoosingRunsHoldNoneOfTheirContacts) {
  const fs::path folder = FreshTestFolder("record_memory");
  const std::string path = BigRecord(folder);
  ASSERT_GT(fs::file_size(path), 8 * kKiB * kKiB);
  std::vector<UndoRecord> runs;
  const std::size_t listing = PeakDuring([&] {
    runs = ListRuns(folder.string(), {"memory", "big"});
  });
  EXPECT_LT(listing, 256 * kKiB);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].contacts, kContacts);
  EXPECT_EQ(runs[0].numbers, kContacts);
  EXPECT_EQ(RunsListing(runs).substr(47), runs[0].name + "    100000   100000  no\n");
  const std::size_t choosing = PeakDuring([&] {
    const Result<UndoRecord> chosen = ChooseRun(folder.string(), {"memory", "big"}, "");
    EXPECT_TRUE(chosen.Ok()) << chosen.Message();
  });
  EXPECT_LT(choosing, 256 * kKiB);
}

TEST(RecordMemory, TheContactsAreReadAChunkAtATimeInOrder) {
  const std::string path = BigRecord(FreshTestFolder("record_memory"));
  RecordedContactReader reader(path);
  std::vector<RecordedContact> chunk;
  std::size_t read = 0;
  const std::size_t peak = PeakDuring([&] {
    while (reader.ReadChunk(kRecordChunk, chunk).Ok() && !chunk.empty()) {
      ASSERT_LE(chunk.size(), kRecordChunk);
      for (const RecordedContact& contact : chunk) {
        ASSERT_EQ(contact.name, "\\Book\\Card " + std::to_string(read++));
      }
    }
  });
  EXPECT_EQ(read, kContacts);
  // A chunk of these contacts takes about 1.5 MiB; the whole record more than 30.
  EXPECT_LT(peak, 4 * kKiB * kKiB);
}

}  // namespace
}  // namespace dialmend
