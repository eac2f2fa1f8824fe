#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>

#include "platform/atomic_file.h"
#include "platform/system_calls.h"
#include "stores/vcard_folder/vcard_folder_store.h"
#include "tests/fakes/quiet_run.h"
#include "tests/stores/vcard_folder/durable_fs.h"

// An update of a vCard folder store on a disk that loses power: wherever the power goes, every
// card is found whole, as it was or as the update made it, never torn and never missing.

namespace dialmend {
namespace {

namespace fs = std::filesystem;

// Each file of a store by its path under the store's folder, with its content.
using Tree = std::map<std::string, std::string>;

// `counts` cards with an old number in each named folder, and one card without a number.
Tree MakeStore(const std::map<std::string, int>& counts) {
  Tree tree;
  for (const auto& [folder, count] : counts) {
    for (int i = 0; i < count; ++i) {
      const std::string number = std::to_string(1000 + i);
      tree[folder + "/c" + number + ".vcf"] = "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Card " + number +
                                              "\r\nTEL;TYPE=HOME:0171 930 " + number +
                                              "\r\nEND:VCARD\r\n";
    }
    tree[folder + "/plain.vcf"] = "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:No Number\r\nEND:VCARD\r\n";
  }
  return tree;
}

void WriteTree(const fs::path& root, const Tree& tree) {
  fs::create_directories(root);
  for (const auto& [path, content] : tree) {
    fs::create_directories((root / path).parent_path());
    std::ofstream(root / path, std::ios::binary) << content;
  }
}

Tree ReadTree(const fs::path& root) {
  Tree tree;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    tree[fs::relative(entry.path(), root).generic_string()] =
        std::string(std::istreambuf_iterator<char>(in), {});
  }
  return tree;
}

// The file system under test, for the seam below the writer.
DurableFs* g_durable_fs = nullptr;

// The kernel keeps syncfs from a FUSE file system; this tells it what the writer asked.
int SyncFsSeenByTheTest(int fd) {
  const int result = RealSystemCalls().syncfs(fd);
  struct stat info {};
  if (g_durable_fs != nullptr && ::fstat(fd, &info) == 0 && info.st_dev == g_durable_fs->Device()) {
    g_durable_fs->SyncAll();
  }
  return result;
}

class PowerCut : public testing::Test {
 protected:
  void SetUp() override {
    if (::access("/dev/fuse", R_OK | W_OK) != 0) {
      GTEST_SKIP() << "/dev/fuse is absent, so no FUSE file system can be mounted here";
    }
    m_root = fs::temp_directory_path() /
             ("dialmend-power-cut-" + std::to_string(std::random_device()()));
    fs::create_directories(m_root);
    Sys().syncfs = SyncFsSeenByTheTest;
  }
  void TearDown() override {
    Sys() = RealSystemCalls();
    std::error_code ignored;
    fs::remove_all(m_root, ignored);
  }

  // What an update makes of `tree` on a plain folder, its power never cut.
  Tree Updated(const Tree& tree) {
    const fs::path folder = m_root / ("plain-" + std::to_string(++m_runs));
    WriteTree(folder, tree);
    const auto store = MakeVCardStore(folder.string());
    const QuietRun run = RunQuietly(*store, NumberOptions{}, /*update=*/true);
    EXPECT_EQ(run.counters.problems, 0) << run.log;
    return ReadTree(folder);
  }

  // Updates `tree` on the durable file system with the power cut at durability call `cut` (0:
  // never), and gives what the disk holds afterwards; `calls` gets how many calls there were.
  Tree UpdateWithPowerCut(const Tree& tree, std::size_t cut, std::size_t& calls) {
    const std::string run = std::to_string(++m_runs);
    const fs::path backing = m_root / ("backing-" + run);
    const fs::path mount = m_root / ("mount-" + run);
    const fs::path found = m_root / ("found-" + run);
    WriteTree(backing, tree);
    fs::create_directories(mount);
    {
      DurableFs disk(backing, mount);
      if (!disk.Mounted()) {
        ADD_FAILURE() << disk.Error();
        return {};
      }
      disk.CutAt(cut);
      g_durable_fs = &disk;
      const auto store = MakeVCardStore(mount.string());
      const QuietRun update = RunQuietly(*store, NumberOptions{}, /*update=*/true);
      g_durable_fs = nullptr;
      EXPECT_EQ(update.counters.problems, 0) << update.log;
      calls = disk.Calls();
      disk.WriteDurableTree(found);
    }
    return ReadTree(found);
  }

  // Each card of `old_tree` is in `found` as it was or as `new_tree` has it, and anything else
  // there is a temporary file of ours, which the next update removes; that update then brings
  // every card to `new_tree`.
  void ExpectOldOrNew(const Tree& old_tree, const Tree& new_tree, const Tree& found) {
    for (const auto& [path, old_content] : old_tree) {
      const auto card = found.find(path);
      if (card == found.end()) {
        ADD_FAILURE() << path << " is missing";
        continue;
      }
      EXPECT_TRUE(card->second == old_content || card->second == new_tree.at(path))
          << path << " is torn: " << card->second;
    }
    for (const auto& [path, content] : found) {
      if (old_tree.count(path) == 0) {
        EXPECT_TRUE(IsAtomicTempName(fs::path(path).filename().string())) << path;
      }
    }
    EXPECT_EQ(Updated(found), new_tree);
  }

  fs::path m_root;
  int m_runs = 0;
};

TEST_F(PowerCut, LeavesEachCardOldOrNewAtEveryDurabilityCallOfASmallUpdate) {
  const Tree old_tree = MakeStore({{"book", 3}, {"work", 2}});
  const Tree new_tree = Updated(old_tree);
  ASSERT_NE(new_tree, old_tree);
  std::size_t calls = 0;
  EXPECT_EQ(UpdateWithPowerCut(old_tree, 0, calls), new_tree);
  ASSERT_GT(calls, 0u);
  for (std::size_t cut = 1; cut <= calls; ++cut) {
    SCOPED_TRACE("the power goes at durability call " + std::to_string(cut) + " of " +
                 std::to_string(calls));
    std::size_t ignored = 0;
    const Tree found = UpdateWithPowerCut(old_tree, cut, ignored);
    ExpectOldOrNew(old_tree, new_tree, found);
    // Nothing the update did is durable before its first call.
    if (cut == 1) {
      EXPECT_EQ(found, old_tree);
    }
  }
}

TEST_F(PowerCut, LeavesEachCardOldOrNewAtRandomDurabilityCallsOfALargeUpdate) {
  // Several batches in one folder, and a second folder.
  const Tree old_tree = MakeStore({{"book", 270}, {"work", 10}});
  const Tree new_tree = Updated(old_tree);
  std::size_t calls = 0;
  EXPECT_EQ(UpdateWithPowerCut(old_tree, 0, calls), new_tree);
  ASSERT_GT(calls, 0u);
  const unsigned seed = std::random_device()();
  std::mt19937 random(seed);
  std::uniform_int_distribution<std::size_t> call(1, calls);
  for (int attempt = 0; attempt < 3; ++attempt) {
    const std::size_t cut = call(random);
    SCOPED_TRACE("the power goes at durability call " + std::to_string(cut) + " of " +
                 std::to_string(calls) + " (seed " + std::to_string(seed) + ")");
    std::size_t ignored = 0;
    ExpectOldOrNew(old_tree, new_tree, UpdateWithPowerCut(old_tree, cut, ignored));
  }
}

}  // namespace
}  // namespace dialmend
