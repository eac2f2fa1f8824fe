#include <gmock/gmock.h>
#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <time.h>
#endif

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/atomic_file.h"
#include "tests/fakes/test_folder.h"

// Replaces of many files made durable together: each keeps the checks of a single replace.

namespace dialmend {
namespace {

namespace fs = std::filesystem;
using testing::HasSubstr;

constexpr std::size_t kLimit = 1024 * 1024;

class SaveBatchTest : public testing::Test {
 public:
  fs::path Write(const std::string& name, const std::string& bytes) {
    const fs::path path = m_folder / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  static std::string Contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  // Adds the replace of the file `path`, read now, by `bytes`, compared by content.
  static void AddRead(SaveBatch& batch, const fs::path& path, std::string bytes) {
    FileSnapshot read = ReadFileSnapshot(path, kLimit);
    ASSERT_TRUE(read.status.Ok()) << read.status.Message();
    batch.Add(path, std::move(bytes), AsRead{read.stamp, std::nullopt, ContentHash(read.bytes)},
              std::move(read.file));
  }

  const fs::path m_folder = FreshTestFolder("batch");
};

TEST_F(SaveBatchTest, GivesEachReplaceItsOwnOutcomeInOrder) {
  const fs::path a = Write("a.vcf", "old a");
  const fs::path b = Write("b.vcf", "old b");
  const fs::path c = Write("c.vcf", "old c");
  SaveBatch batch;
  AddRead(batch, a, "new a");
  AddRead(batch, b, "new b");
  AddRead(batch, c, "new c");
  EXPECT_EQ(batch.Size(), 3u);
  fs::remove(b);
  const std::vector<Status> results = batch.Commit();
  ASSERT_EQ(results.size(), 3u);
  EXPECT_TRUE(results[0].Ok()) << results[0].Message();
  EXPECT_EQ(results[1].Reason(), "it was removed after it was read");
  EXPECT_THAT(results[1].Message(), HasSubstr("b.vcf"));
  EXPECT_TRUE(results[2].Ok()) << results[2].Message();
  EXPECT_EQ(batch.Size(), 0u);
  EXPECT_EQ(Contents(a), "new a");
  EXPECT_FALSE(fs::exists(b));
  EXPECT_EQ(Contents(c), "new c");
  EXPECT_EQ(std::distance(fs::directory_iterator(m_folder), fs::directory_iterator()), 2);
}

TEST_F(SaveBatchTest, KeepsAFileRewrittenUnseenByItsStampForItsContentDiffers) {
  const fs::path path = Write("a.vcf", "TEL:0171 930 8890");
  SaveBatch batch;
  AddRead(batch, path, "TEL:(020) 7930 8890");
  const auto mtime = fs::last_write_time(path);
  // Another program writes as many bytes in place, and the write time does not move.
  std::ofstream(path, std::ios::binary | std::ios::in) << "TEL:0171 000 0000";
  fs::last_write_time(path, mtime);
  const std::vector<Status> results = batch.Commit();
  ASSERT_EQ(results.size(), 1u);
  EXPECT_FALSE(results[0].Ok());
  EXPECT_THAT(results[0].Reason(), HasSubstr("another program changed it"));
  EXPECT_EQ(Contents(path), "TEL:0171 000 0000");
  EXPECT_EQ(std::distance(fs::directory_iterator(m_folder), fs::directory_iterator()), 1);
}

#ifndef _WIN32

// Reads `path` once its last change lies in an earlier tick of the clock than the read.
FileSnapshot SettledRead(const fs::path& path) {
  for (int attempt = 0; attempt < 10'000; ++attempt) {
    FileSnapshot read = ReadFileSnapshot(path, kLimit);
    if (!read.status.Ok() || read.settled_change_ns) return read;
    const timespec pause{0, 1'000'000};
    ::nanosleep(&pause, nullptr);
  }
  ADD_FAILURE() << "the clock never moved past the file's last change";
  return {};
}

TEST_F(SaveBatchTest, KeepsAFileRewrittenInPlaceWithItsWriteTimeSetBackAfterASettledRead) {
  const fs::path path = Write("a.vcf", "TEL:0171 930 8890");
  FileSnapshot read = SettledRead(path);
  ASSERT_TRUE(read.settled_change_ns.has_value());
  SaveBatch batch;
  // No content to compare: the stamp and the change time are all a settled read needs.
  batch.Add(path, "TEL:(020) 7930 8890", AsRead{read.stamp, read.settled_change_ns, std::nullopt},
            std::move(read.file));
  const auto mtime = fs::last_write_time(path);
  std::ofstream(path, std::ios::binary | std::ios::in) << "TEL:0171 000 0000";
  fs::last_write_time(path, mtime);
  const std::vector<Status> results = batch.Commit();
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].Reason(), "another program changed it after it was read");
  EXPECT_EQ(Contents(path), "TEL:0171 000 0000");
}

TEST_F(SaveBatchTest, SavesASettledReadWithoutItsContentAndKeepsModeAndAttributes) {
  const fs::path path = Write("a.vcf", "TEL:0171 930 8890");
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  ASSERT_EQ(::setxattr(path.c_str(), "user.dialmend", "kept", 4, 0), 0);
  FileSnapshot read = SettledRead(path);
  ASSERT_TRUE(read.settled_change_ns.has_value());
  SaveBatch batch;
  batch.Add(path, "TEL:(020) 7930 8890", AsRead{read.stamp, read.settled_change_ns, std::nullopt},
            std::move(read.file));
  const std::vector<Status> results = batch.Commit();
  ASSERT_EQ(results.size(), 1u);
  EXPECT_TRUE(results[0].Ok()) << results[0].Message();
  EXPECT_EQ(Contents(path), "TEL:(020) 7930 8890");
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  char value[16] = {};
  EXPECT_EQ(::getxattr(path.c_str(), "user.dialmend", value, sizeof value), 4);
  EXPECT_EQ(std::string(value), "kept");
}

#endif

}  // namespace
}  // namespace dialmend
