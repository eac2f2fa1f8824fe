#include "log/atomic_file.h"
#include "log/utf8_path.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace dialmend {
namespace {

namespace fs = std::filesystem;
using testing::HasSubstr;

constexpr std::size_t kLimit = 4 * 1024 * 1024;

class AtomicFile : public testing::Test {
 protected:
  void SetUp() override {
    std::random_device seed;
    m_folder = fs::temp_directory_path() / ("dialmend-atomic-" + std::to_string(seed()));
    ASSERT_TRUE(fs::create_directory(m_folder));
  }

  void TearDown() override {
    std::error_code ignored;
    for (const auto& entry : fs::recursive_directory_iterator(m_folder, ignored)) {
      ::SetFileAttributesW(entry.path().c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    fs::remove_all(m_folder, ignored);
  }

  fs::path Write(const fs::path& name, const std::string& bytes) {
    const fs::path path = m_folder / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  static std::string Contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(m_folder)) {
      names.push_back(Utf8FromPath(entry.path().filename()));
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  static FileStamp Snapshot(const fs::path& path) {
    const FileSnapshot snapshot = ReadFileSnapshot(path, kLimit);
    EXPECT_TRUE(snapshot.status) << snapshot.status.message;
    return snapshot.stamp;
  }

  fs::path m_folder;
};

TEST_F(AtomicFile, ReadsTheBytesAndTheStampOfTheFile) {
  const std::string bytes = std::string("BEGIN:VCARD\r\n\0\xff", 15);
  const fs::path path = Write("Ann.vcf", bytes);
  const FileSnapshot snapshot = ReadFileSnapshot(path, kLimit);
  ASSERT_TRUE(snapshot.status) << snapshot.status.message;
  EXPECT_EQ(snapshot.bytes, bytes);
  EXPECT_EQ(snapshot.stamp.size, bytes.size());
  EXPECT_NE(snapshot.stamp.mtime_ns, 0);
  EXPECT_EQ(Snapshot(path), snapshot.stamp);
}

TEST_F(AtomicFile, NamesTheFileAndTheReasonInWordsWhenItCannotBeRead) {
  const fs::path path = m_folder / "Missing.vcf";
  const FileSnapshot snapshot = ReadFileSnapshot(path, kLimit);
  EXPECT_FALSE(snapshot.status);
  EXPECT_EQ(snapshot.status.reason, "no such file or directory");
  EXPECT_EQ(snapshot.status.message,
            "Cannot read \"" + path.string() + "\": no such file or directory.");
}

TEST_F(AtomicFile, RefusesToReadAFolder) {
  fs::create_directory(m_folder / "Folder.vcf");
  EXPECT_EQ(ReadFileSnapshot(m_folder / "Folder.vcf", kLimit).status.reason,
            "it is not a regular file");
}

TEST_F(AtomicFile, RefusesToReadAFileOverTheLimit) {
  const fs::path path = Write("Big.vcf", std::string(17, 'x'));
  EXPECT_EQ(ReadFileSnapshot(path, 16).status.reason, "it is larger than 16 bytes");
  EXPECT_TRUE(ReadFileSnapshot(path, 17).status);
  EXPECT_EQ(ReadFileSnapshot(Write("Huge.vcf", std::string(kLimit + 1, 'x')), kLimit).status.reason,
            "it is larger than 4 MiB");
}

TEST_F(AtomicFile, ReplacesTheContentAndLeavesNoOtherFile) {
  const fs::path path = Write("Ann.vcf", "old");
  const FileStamp stamp = Snapshot(path);
  const FileStatus status = WriteFileAtomically(path, "new content", stamp);
  ASSERT_TRUE(status) << status.message;
  EXPECT_EQ(Contents(path), "new content");
  EXPECT_THAT(Names(), testing::ElementsAre("Ann.vcf"));
}

TEST_F(AtomicFile, ReadsAndWritesFilesWithNamesBeyondTheCodePage) {
  // UTF-8 names reach Windows as UTF-16, not through the ANSI code page.
  const std::string name = "Zo\xC3\xAB \xE5\xBC\xA0 \xF0\x9F\x93\x9E.vcf";
  const fs::path path = m_folder / PathFromUtf8(name);
  std::ofstream(path, std::ios::binary) << "old";
  const std::string utf8_path = Utf8FromPath(path);
  const FileSnapshot snapshot = ReadFileSnapshot(PathFromUtf8(utf8_path), kLimit);
  ASSERT_TRUE(snapshot.status) << snapshot.status.message;
  EXPECT_EQ(snapshot.bytes, "old");
  const FileStatus status = WriteFileAtomically(PathFromUtf8(utf8_path), "new", snapshot.stamp);
  ASSERT_TRUE(status) << status.message;
  EXPECT_EQ(Contents(path), "new");
  EXPECT_THAT(Names(), testing::ElementsAre(name));
  const FileStatus gone = WriteFileAtomically(m_folder / "Gone" / PathFromUtf8(name), "x", FileStamp{});
  EXPECT_THAT(gone.message, HasSubstr(name));
}

TEST_F(AtomicFile, KeepsTheAttributesOfTheFile) {
  const fs::path path = Write("Ann.vcf", "old");
  ASSERT_TRUE(::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN));
  const FileStatus status = WriteFileAtomically(path, "new", Snapshot(path));
  ASSERT_TRUE(status) << status.message;
  EXPECT_NE(::GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
  EXPECT_EQ(Contents(path), "new");
}

TEST_F(AtomicFile, RefusesToOverwriteAFileChangedSinceItWasRead) {
  const fs::path path = Write("Ann.vcf", "old");
  const FileStamp stamp = Snapshot(path);
  Write("Ann.vcf", "changed by a sync tool");
  const FileStatus status = WriteFileAtomically(path, "ours", stamp);
  EXPECT_FALSE(status);
  EXPECT_EQ(status.message,
            "Cannot save \"" + path.string() + "\": another program changed it after it was read.");
  EXPECT_EQ(Contents(path), "changed by a sync tool");
  EXPECT_THAT(Names(), testing::ElementsAre("Ann.vcf"));
}

TEST_F(AtomicFile, RefusesToOverwriteAFileReplacedByOneOfTheSameSize) {
  const fs::path path = Write("Ann.vcf", "old");
  const FileStamp stamp = Snapshot(path);
  const fs::path other = Write("other", "new");
  fs::rename(other, path);
  EXPECT_FALSE(WriteFileAtomically(path, "ours", stamp));
  EXPECT_EQ(Contents(path), "new");
}

TEST_F(AtomicFile, RefusesToRecreateAFileRemovedSinceItWasRead) {
  const fs::path path = Write("Ann.vcf", "old");
  const FileStamp stamp = Snapshot(path);
  fs::remove(path);
  const FileStatus status = WriteFileAtomically(path, "ours", stamp);
  EXPECT_EQ(status.reason, "it was removed after it was read");
  EXPECT_TRUE(Names().empty());
}

TEST_F(AtomicFile, LeavesTheFolderAsItWasWhenAnotherProgramHoldsTheFile) {
  const fs::path path = Write("Ann.vcf", "old");
  const FileStamp stamp = Snapshot(path);
  // An editor that has the card open without sharing delete access blocks any replace.
  HANDLE held = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const FileStatus status = WriteFileAtomically(path, "ours", stamp);
  ::CloseHandle(held);
  EXPECT_FALSE(status);
  // Windows says the file is in use; wine says access is denied.
  EXPECT_THAT(status.message, testing::AnyOf(
                                  "Cannot save \"" + path.string() + "\": another program has it open.",
                                  "Cannot save \"" + path.string() + "\": permission denied."));
  EXPECT_EQ(Contents(path), "old");
  EXPECT_THAT(Names(), testing::ElementsAre("Ann.vcf"));
}

TEST_F(AtomicFile, RefusesToReplaceAFolder) {
  const fs::path path = m_folder / "Folder.vcf";
  fs::create_directory(path);
  const FileStatus status = WriteFileAtomically(path, "ours");
  EXPECT_FALSE(status);
  EXPECT_EQ(status.message, "Cannot save \"" + path.string() + "\": is a directory.");
  EXPECT_THAT(Names(), testing::ElementsAre("Folder.vcf"));
  EXPECT_TRUE(fs::is_empty(path));
}

TEST_F(AtomicFile, FailsInWordsWhenTheFolderIsGone) {
  const fs::path path = m_folder / "Gone" / "Ann.vcf";
  const FileStatus status = WriteFileAtomically(path, "ours", FileStamp{});
  EXPECT_FALSE(status);
  EXPECT_THAT(status.message, HasSubstr(path.string()));
  EXPECT_FALSE(fs::exists(m_folder / "Gone"));
}

TEST_F(AtomicFile, ShortensTheTemporaryNameOfALongFileName) {
  const std::string name = std::string(200, 'a') + ".vcf";
  const fs::path path = Write(name, "old");
  const FileStatus status = WriteFileAtomically(path, "new", Snapshot(path));
  ASSERT_TRUE(status) << status.message;
  EXPECT_EQ(Contents(path), "new");
  EXPECT_THAT(Names(), testing::ElementsAre(name));
}

TEST_F(AtomicFile, RefusesAFileRewrittenWithinTheSameClockTick) {
  const fs::path path = Write("Ann.vcf", "TEL:0171 930 8890");
  const FileStamp stamp = Snapshot(path);
  std::ofstream(path, std::ios::binary | std::ios::in) << "TEL:0171 000 0000";
  // Same size and file index; put the old write time back so only the content differs.
  {
    HANDLE file = ::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    // The stamp counts from 1970; FILETIME counts 100 ns ticks from 1601.
    const auto ticks = static_cast<std::uint64_t>(stamp.mtime_ns / 100 + 116'444'736'000'000'000);
    FILETIME written{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
    EXPECT_TRUE(::SetFileTime(file, nullptr, nullptr, &written)) << ::GetLastError();
    ::CloseHandle(file);
  }
  ASSERT_EQ(Snapshot(path), stamp) << "the test needs a matching stamp";
  const FileStatus status = WriteFileAtomically(path, "ours", stamp, "TEL:0171 930 8890");
  EXPECT_FALSE(status);
  EXPECT_EQ(Contents(path), "TEL:0171 000 0000");
  EXPECT_TRUE(WriteFileAtomically(path, "ours", stamp, "TEL:0171 000 0000"));
  EXPECT_EQ(Contents(path), "ours");
}

TEST_F(AtomicFile, CreatesOrReplacesAFileWithoutAStamp) {
  const fs::path path = m_folder / "Dialmend Log 1.txt";
  ASSERT_TRUE(WriteFileAtomically(path, "first"));
  EXPECT_EQ(Contents(path), "first");
  ASSERT_TRUE(WriteFileAtomically(path, "second\r\n"));
  EXPECT_EQ(Contents(path), "second\r\n");
  EXPECT_EQ(Names(), std::vector<std::string>{"Dialmend Log 1.txt"});
}

}  // namespace
}  // namespace dialmend
