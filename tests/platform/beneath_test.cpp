#include "platform/beneath.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "platform/atomic_file.h"
#include "platform/system_calls.h"
#include "tests/fakes/test_folder.h"

// Paths a record names stay inside their store; our leftovers go and nothing else.

namespace dialmend {
namespace {

namespace fs = std::filesystem;

TEST(RelativeBeneath, TakesOnlyAPathInsideTheFolderWithoutDotParts) {
  struct Row {
    const char* path;
    std::optional<std::string> relative;
  };
  const Row rows[] = {
      {"/s/book/ann.vcf", "book/ann.vcf"},
      {"/s/ann.vcf", "ann.vcf"},
      {"/s/book/../x.vcf", std::nullopt},
      {"/s/./ann.vcf", std::nullopt},
      {"/s//ann.vcf", std::nullopt},
      {"/sx/ann.vcf", std::nullopt},
      {"/s", std::nullopt},
      {"/s/", std::nullopt},
      {"/other/ann.vcf", std::nullopt},
      {"/s/..", std::nullopt},
  };
  for (const Row& row : rows) EXPECT_EQ(RelativeBeneath("/s/", row.path), row.relative) << row.path;
}

// Every link in the way is refused, whichever of the two ways the kernel finds the file.
TEST(OpenBeneath, OpensAFileInsideAndRefusesEveryLinkOnTheWay) {
  const fs::path root = FreshTestFolder("beneath");
  fs::create_directories(root / "store" / "book");
  fs::create_directories(root / "elsewhere");
  std::ofstream(root / "store" / "book" / "ann.vcf") << "ann";
  std::ofstream(root / "elsewhere" / "eve.vcf") << "eve";
  fs::create_symlink(root / "elsewhere" / "eve.vcf", root / "store" / "book" / "eve.vcf");
  fs::create_directory_symlink(root / "elsewhere", root / "store" / "away");
  fs::create_symlink("ann.vcf", root / "store" / "book" / "near.vcf");
  fs::create_directory(root / "store" / "book" / "sub");
  struct Row {
    const char* relative;
    const char* refused;  // nullptr: opened
  };
  const Row rows[] = {
      {"book/ann.vcf", nullptr},
      {"book/eve.vcf", "a symbolic link stands in its way"},
      {"away/eve.vcf", "a symbolic link stands in its way"},
      {"book/near.vcf", "a symbolic link stands in its way"},
      {"book/../../elsewhere/eve.vcf", "it lies outside the store"},
      {"book/sub", "it is not a regular file"},
      {"book/gone.vcf", "no such file or directory"},
  };
  for (const bool without_openat2 : {false, true}) {
    if (without_openat2) {
      Sys().openat2 = [](int, const char*, const void*, std::size_t) {
        errno = ENOSYS;
        return -1;
      };
    }
    for (const Row& row : rows) {
      FileBeneath found = OpenBeneath(root / "store", row.relative);
      if (row.refused == nullptr) {
        ASSERT_TRUE(found.status.Ok()) << row.relative << ": " << found.status.Message();
        EXPECT_EQ(ReadFileSnapshot(root / "store" / row.relative, 100, std::move(found.file)).bytes,
                  "ann");
      } else {
        EXPECT_EQ(found.status.Reason(), row.refused) << row.relative << " " << without_openat2;
      }
    }
  }
  Sys() = RealSystemCalls();
}

TEST(RemoveLeftovers, RemovesOnlyOurTemporaryFilesForTheFileNamed) {
  const fs::path folder = FreshTestFolder("beneath");
  for (const char* name : {".all.vcf.dialmend-a1B2c3.tmp", ".other.vcf.dialmend-z9Y8x7.tmp",
                           ".all.vcf.dialmend-xx.tmp", "all.vcf"}) {
    std::ofstream(folder / name) << "x";
  }
  fs::create_symlink(folder / "all.vcf", folder / ".all.vcf.dialmend-l1n2k3.tmp");
  const LeftoverRemoval mine = RemoveLeftovers(folder, "all.vcf");
  EXPECT_EQ(mine.removed, 1u);
  EXPECT_TRUE(mine.failures.empty());
  EXPECT_TRUE(fs::exists(folder / ".other.vcf.dialmend-z9Y8x7.tmp"));
  EXPECT_TRUE(fs::exists(folder / ".all.vcf.dialmend-xx.tmp")) << "not a name we make";
  EXPECT_TRUE(fs::is_symlink(folder / ".all.vcf.dialmend-l1n2k3.tmp")) << "a link is not ours";
  EXPECT_EQ(RemoveLeftovers(folder).removed, 1u) << "every file's, without a name";
  EXPECT_TRUE(fs::exists(folder / "all.vcf"));
}

}  // namespace
}  // namespace dialmend
